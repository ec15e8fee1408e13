// Files the fault tests feed the converter, made here byte by byte where no
// writer makes them (headers that lie, a huge picture in a few megabytes).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace faults {

using Bytes = std::vector<std::uint8_t>;

// A small good picture of each kind the converter takes.
Bytes GoodTga(int width = 32, int height = 32);
Bytes GoodBmp(int width = 40, int height = 24);

// One file per reader whose header claims `side` x `side` pixels and whose
// data holds almost nothing; the first of each pair is the file name.
std::vector<std::pair<std::string, Bytes>> LyingHeaders(std::uint32_t side);

// An 8-bit run-length BMP of side x side pixels in broad stripes: a huge
// picture in a few megabytes.
Bytes HugeRleBmp(int side);

// Names of the files in `folder`, sorted.
std::vector<std::string> FileNames(const std::filesystem::path& folder);

} // namespace faults
