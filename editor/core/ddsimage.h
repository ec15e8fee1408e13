// Reads a DDS file into one picture per mip level, for the preview window,
// and loads a source image into the levels the converter compresses.  The
// reading and decoding are the platform's (its DDS reader, format table and
// DXT codec) and the converter's loader, so the preview shows the pixels
// the converter wrote beside the ones it started from.  The files are
// untrusted: a bad one gives an error, never a crash.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <vector>

namespace atlasdesk {

struct DdsPicture {
    QString format;              // "DXT1", "A8R8G8B8" ...: the format table's name; empty when unread
    int width = 0;               // level 0
    int height = 0;
    int levelCount = 0;          // levels the file stores
    std::vector<QImage> levels;  // decoded levels (ARGB32, straight alpha), largest first
    QString error;               // empty when the file was read; else why not
};

// Thread-safe: each call uses a software device of its own.
DdsPicture decodeDds(const QByteArray& file);

// The levels the converter makes of an image before it compresses them: the
// file loaded through the converter's own loader (mip-chain pictures, box-
// filtered chains, palettes), `mips` levels of it as the converter counts
// them ("Maximum" or "0": all), each converted to A8R8G8B8.  `format` is
// "A8R8G8B8"; on failure `error` holds the converter's messages.
// Thread-safe, like decodeDds.
DdsPicture loadSourceLevels(const QString& path, const QString& mips);

} // namespace atlasdesk
