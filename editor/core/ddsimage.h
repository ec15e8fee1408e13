// Reads a DDS file into one picture per mip level, for the preview window.
// The file is untrusted: every size is checked against the data first.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <vector>

namespace atlasdesk {

struct DdsPicture {
    QString format;              // "DXT1", "A8R8G8B8" ..., as far as known
    int width = 0;               // level 0
    int height = 0;
    int levelCount = 0;          // as the header states it
    std::vector<QImage> levels;  // decoded levels, largest first
    QString error;               // empty when the file was read
};

DdsPicture decodeDds(const QByteArray& file);

} // namespace atlasdesk
