// dds_decode: writes the top level of a DXT1-DXT5 DDS file to standard
// output as raw RGBA bytes, decoded by the project's decoder, so that the
// directory benchmark can score every tool's files with the same rules.
//
// Usage: dds_decode <file.dds>   (prints "width height" on standard error)
#include "dxt.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

std::uint32_t Read32(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: dds_decode <file.dds>\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 128 || Read32(bytes, 0) != 0x20534444u) {
        std::fprintf(stderr, "%s: not a DDS file\n", argv[1]);
        return 1;
    }
    const std::uint32_t height = Read32(bytes, 12), width = Read32(bytes, 16);
    const auto format = static_cast<D3DFORMAT>(Read32(bytes, 84));
    const unsigned blockBytes = dxt::BlockBytes(format);
    const std::size_t blockPitch = std::size_t{(width + 3) / 4} * blockBytes;
    if (blockBytes == 0 || width == 0 || height == 0 || width > 16384 || height > 16384 ||
        bytes.size() < 128 + blockPitch * ((height + 3) / 4)) {
        std::fprintf(stderr, "%s: not a whole DXT1-DXT5 top level\n", argv[1]);
        return 1;
    }
    std::vector<std::uint8_t> rgba(std::size_t{width} * height * 4);
    dxt::DecodeImage(format, bytes.data() + 128, blockPitch, width, height, rgba.data(), std::size_t{width} * 4);
    std::fwrite(rgba.data(), 1, rgba.size(), stdout);
    std::fprintf(stderr, "%u %u\n", width, height);
    return 0;
}
