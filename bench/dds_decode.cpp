// dds_decode: writes the top level of a DXT1-DXT5 DDS file to standard
// output as raw RGBA bytes, decoded by the project's decoder, so that the
// directory benchmark can score every tool's files with the same rules.
//
// Usage: dds_decode <file.dds>   (prints "width height" on standard error)
#include "platform/d3dx8/dds_format.h"
#include "platform/d3dx8/dxt/dxt.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: dds_decode <file.dds>\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    DWORD magic = 0;
    DdsHeader header{};
    if (bytes.size() >= DDS_DATA_OFFSET) {
        std::memcpy(&magic, bytes.data(), sizeof magic);
        std::memcpy(&header, bytes.data() + sizeof magic, sizeof header);
    }
    if (magic != DDS_MAGIC) {
        std::fprintf(stderr, "%s: not a DDS file\n", argv[1]);
        return 1;
    }
    const std::uint32_t width = header.width, height = header.height;
    const auto format = static_cast<D3DFORMAT>(header.pixelFormat.fourCC);
    const unsigned blockBytes = (header.pixelFormat.flags & DDPF_FOURCC) ? dxt::BlockBytes(format) : 0;
    const std::size_t blockPitch = std::size_t{(width + 3) / 4} * blockBytes;
    if (blockBytes == 0 || width == 0 || height == 0 || width > 16384 || height > 16384 ||
        bytes.size() < DDS_DATA_OFFSET + blockPitch * ((height + 3) / 4)) {
        std::fprintf(stderr, "%s: not a whole DXT1-DXT5 top level\n", argv[1]);
        return 1;
    }
    std::vector<std::uint8_t> rgba(std::size_t{width} * height * 4);
    dxt::DecodeImage(format, bytes.data() + DDS_DATA_OFFSET, blockPitch, width, height, rgba.data(),
                     std::size_t{width} * 4);
    std::fwrite(rgba.data(), 1, rgba.size(), stdout);
    std::fprintf(stderr, "%u %u\n", width, height);
    return 0;
}
