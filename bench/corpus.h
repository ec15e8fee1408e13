// The pictures bench_dxt measures on: image files from folders, and
// pictures generated here so the benchmark runs without any download.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct Picture {
    std::string name;
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint8_t> rgba;  // width * height texels, RGBA
    bool opaque = true;              // every alpha is 255
};

// A sample of the PNG, JPEG, TGA and BMP files under `folder` (searched
// recursively), as RGBA: files are taken in an order fixed by a hash of
// their paths until `maxPixels` is reached, so a large package gives a
// spread of its pictures rather than its first folder.  Pictures larger
// than 1024 x 1024 keep their top-left 1024 x 1024; sides are cropped to
// multiples of 4 and pictures under 4 x 4 are left out.  Files that fail to
// load are reported on stderr and skipped.
std::vector<Picture> LoadPictures(const std::string& folder, double maxPixels);

// Generated pictures: value-noise terrain, hard-edged shapes, soft
// gradients, and cut-outs with alpha.
std::vector<Picture> GeneratedPictures();

} // namespace bench
