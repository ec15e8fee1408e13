// Reads a DDS file into one picture per mip level, for the preview window.
// The reading and decoding are the platform's (its DDS reader, format table
// and DXT codec), so the preview shows the pixels the converter wrote.
// The file is untrusted: a bad one gives an error, never a crash.
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

} // namespace atlasdesk
