#include "tests/faults/fault_files.h"

#include "tests/support/testutil.h"
#include "tools/samplegen.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace faults {

namespace {

void Put16(Bytes& b, std::size_t at, std::uint32_t v)
{
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(Bytes& b, std::size_t at, std::uint32_t v)
{
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

void PutBe32(Bytes& b, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

Bytes Tga(std::uint32_t side, int depth, std::uint32_t height = 0)
{
    Bytes b(18 + 64, 0x7F);
    std::fill(b.begin(), b.begin() + 18, 0);
    b[2] = 2;  // uncompressed true colour
    Put16(b, 12, side);
    Put16(b, 14, height ? height : side);
    b[16] = static_cast<std::uint8_t>(depth);
    b[17] = depth == 32 ? 8 : 0;
    return b;
}

Bytes Bmp(std::uint32_t side, int bits, std::uint32_t height = 0)
{
    const std::uint32_t palette = bits == 8 ? 1024 : 0;
    Bytes b(54 + palette + 64, 0x55);
    std::fill(b.begin(), b.begin() + 54, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 2, static_cast<std::uint32_t>(b.size()));
    Put32(b, 10, 54 + palette);
    Put32(b, 14, 40);
    Put32(b, 18, side);
    Put32(b, 22, height ? height : side);
    Put16(b, 26, 1);
    Put16(b, 28, static_cast<std::uint32_t>(bits));
    return b;
}

Bytes Dds(std::uint32_t side)
{
    Bytes b(4 + 124 + 64, 0x33);
    std::fill(b.begin(), b.begin() + 128, 0);
    std::memcpy(b.data(), "DDS ", 4);
    Put32(b, 4, 124);
    Put32(b, 8, 0x1007);  // caps, height, width, pixel format
    Put32(b, 12, side);
    Put32(b, 16, side);
    Put32(b, 4 + 72, 32);
    Put32(b, 4 + 76, 4);  // four-character code
    std::memcpy(b.data() + 4 + 80, "DXT1", 4);
    Put32(b, 4 + 104, 0x1000);
    return b;
}

Bytes Png(std::uint32_t side)
{
    Bytes b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header(13, 0);
    PutBe32(header, 0, side);
    PutBe32(header, 4, side);
    header[8] = 8;  // bit depth
    header[9] = 6;  // RGBA
    testutil::AppendPngChunk(b, "IHDR", header);
    // A stored deflate block of a few bytes: a valid start, then the end.
    testutil::AppendPngChunk(b, "IDAT",
                             {0x78, 0x01, 0x01, 0x05, 0x00, 0xFA, 0xFF, 0, 1, 2, 3, 4, 0x00, 0x3C, 0x00, 0x0B});
    testutil::AppendPngChunk(b, "IEND", {});
    return b;
}

Bytes Jpeg(std::uint32_t side)
{
    Bytes b = samplegen::WriteJpeg(samplegen::MakeGradient(16, 16, false), 80);
    // Patch the frame header's height and width (big-endian, after the
    // marker, the length and the precision byte).
    for (std::size_t i = 0; i + 9 < b.size(); ++i)
        if (b[i] == 0xFF && (b[i + 1] == 0xC0 || b[i + 1] == 0xC2)) {
            b[i + 5] = static_cast<std::uint8_t>(side >> 8);
            b[i + 6] = static_cast<std::uint8_t>(side);
            b[i + 7] = static_cast<std::uint8_t>(side >> 8);
            b[i + 8] = static_cast<std::uint8_t>(side);
            break;
        }
    b.resize(b.size() / 2);
    return b;
}

Bytes Ppm(std::uint32_t side)
{
    const std::string head = "P6\n" + std::to_string(side) + " " + std::to_string(side) + "\n255\n";
    Bytes b(head.begin(), head.end());
    b.resize(b.size() + 64, 0x44);
    return b;
}

} // namespace

Bytes GoodTga(int width, int height)
{
    return samplegen::WriteTga(samplegen::MakeFoliage(width, height, 7));
}

Bytes GoodBmp(int width, int height)
{
    return samplegen::WriteBmp(samplegen::MakeTerrain(samplegen::Terrain::Sand, width, height, 8));
}

std::vector<std::pair<std::string, Bytes>> LyingHeaders(std::uint32_t side)
{
    const std::string s = std::to_string(side);
    return {{"tga32-" + s + ".tga", Tga(side, 32)}, {"tga24-" + s + ".tga", Tga(side, 24)},
            {"bmp24-" + s + ".bmp", Bmp(side, 24)}, {"bmp8-" + s + ".bmp", Bmp(side, 8)},
            {"dds-" + s + ".dds", Dds(side)},       {"png-" + s + ".png", Png(side)},
            {"jpeg-" + s + ".jpg", Jpeg(side)},     {"ppm-" + s + ".ppm", Ppm(side)},
            // Mip-chain pictures: all levels one under the other.
            {"tgachain-" + s + ".tga", Tga(std::min(side, 16384u), 32, 32766)},
            {"bmpchain-" + s + ".bmp", Bmp(side, 24, 1920)}};
}

Bytes HugeRleBmp(int side)
{
    constexpr std::uint32_t kColours = 4;
    Bytes b(54 + 4 * kColours, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 10, static_cast<std::uint32_t>(b.size()));
    Put32(b, 14, 40);
    Put32(b, 18, static_cast<std::uint32_t>(side));
    Put32(b, 22, static_cast<std::uint32_t>(side));
    Put16(b, 26, 1);
    Put16(b, 28, 8);
    Put32(b, 30, 1);  // run-length 8-bit
    Put32(b, 46, kColours);
    const std::array<std::uint32_t, kColours> colours = {0x00406020, 0x00A08040, 0x00203080, 0x00E0E0D0};
    for (std::uint32_t i = 0; i < kColours; ++i)
        Put32(b, 54 + 4 * i, colours[i]);
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side;) {
            const int run = std::min(255, side - x);
            b.push_back(static_cast<std::uint8_t>(run));
            b.push_back(static_cast<std::uint8_t>(((x / 256) + (y / 64)) % kColours));
            x += run;
        }
        b.push_back(0);
        b.push_back(y + 1 == side ? 1 : 0);
    }
    Put32(b, 2, static_cast<std::uint32_t>(b.size()));
    Put32(b, 34, static_cast<std::uint32_t>(b.size() - 54 - 4 * kColours));
    return b;
}

std::vector<std::string> FileNames(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace faults
