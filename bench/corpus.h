// The pictures bench_dxt measures on: PNG files from folders, and pictures
// generated here so the benchmark runs without any download.
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

// Every *.png in `folder` (sorted by name), as RGBA; files that fail to
// load are reported on stderr and skipped.
std::vector<Picture> LoadPngFolder(const std::string& folder);

// Generated pictures: value-noise terrain, hard-edged shapes, soft
// gradients, and cut-outs with alpha.
std::vector<Picture> GeneratedPictures();

} // namespace bench
