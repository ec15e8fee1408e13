// Untrusted files: every reader refuses a file cut at any length and headers
// with corrupt fields, with a reason and no texture.  Run in the sanitizer
// build, these also prove that nothing outside the data is read.
#include "tests/imageio/dds_builder.h"
#include "tests/imageio/imageio_fixture.h"

#include <cstring>
#include <functional>

using namespace imageio;
using samplegen::BmpOptions;
using samplegen::Image;
using samplegen::TgaOptions;

namespace {

class Rejects : public ImageTest {
protected:
    // The bytes are refused with a reason; the copy is exactly sized so that
    // the sanitizer sees any read past its end.
    void ExpectRefused(const std::vector<std::uint8_t>& bytes, const std::string& what)
    {
        std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[bytes.size() + (bytes.empty() ? 1 : 0)]);
        if (!bytes.empty())
            std::memcpy(exact.get(), bytes.data(), bytes.size());
        ComPtr<IDirect3DTexture8> t;
        PALETTEENTRY palette[256];
        const HRESULT hr = D3DXCreateTextureFromFileInMemoryEx(
            device_.get(), exact.get(), static_cast<UINT>(bytes.size()), D3DX_DEFAULT, D3DX_DEFAULT, 1, 0,
            D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_FILTER_NONE, D3DX_FILTER_BOX, 0, nullptr, palette, t.put());
        EXPECT_TRUE(FAILED(hr)) << what;
        EXPECT_FALSE(t) << what;
        EXPECT_FALSE(D3DXGetLastErrorText().empty()) << what;
    }

    void ExpectEveryCutRefused(const std::vector<std::uint8_t>& whole, const std::string& kind)
    {
        ComPtr<IDirect3DTexture8> t;
        ASSERT_EQ(LoadTop(whole, t), S_OK) << kind << ": " << D3DXGetLastErrorText();
        for (std::size_t n = 0; n < whole.size(); ++n)
            ExpectRefused({whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n)},
                          kind + " cut at " + std::to_string(n));
    }

    // Writes `value` (little-endian, `size` bytes) at `at` and expects refusal.
    void ExpectFieldRefused(std::vector<std::uint8_t> bytes, std::size_t at, std::uint64_t value, int size,
                            const std::string& what)
    {
        for (int i = 0; i < size; ++i)
            bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
        ExpectRefused(bytes, what);
    }
};

const Image kSmall = samplegen::MakeGradient(13, 7, true);

samplegen::Indexed SmallIndexed(int colours)
{
    samplegen::Indexed ix = samplegen::MakeIndexed(kSmall, colours, true);
    for (auto& v : ix.indices)
        v = static_cast<std::uint8_t>(v % colours);
    return ix;
}

TEST_F(Rejects, BmpCutAtEveryLength)
{
    ExpectEveryCutRefused(samplegen::WriteBmp(kSmall), "24-bit BMP");
    BmpOptions o;
    o.bits = 32;
    o.masks = true;
    o.headerSize = 124;
    ExpectEveryCutRefused(samplegen::WriteBmp(kSmall, o), "32-bit V5 BMP");
    o = {};
    o.bits = 16;
    o.masks = true;
    ExpectEveryCutRefused(samplegen::WriteBmp(kSmall, o), "565 BMP");
    // A 52-byte header holds three masks; with alpha bit fields (6) the
    // fourth follows it, where a cut file may end.
    o = {};
    o.bits = 32;
    o.masks = true;
    o.headerSize = 52;
    std::vector<std::uint8_t> alphaFields = samplegen::WriteBmp(kSmall, o);
    alphaFields[30] = 6;
    for (std::size_t n = 14 + 52; n < 14 + 56; ++n)
        ExpectRefused({alphaFields.begin(), alphaFields.begin() + static_cast<std::ptrdiff_t>(n)},
                      "V2 BMP with alpha bit fields cut at " + std::to_string(n));
    for (int bits : {8, 4}) {
        o = {};
        o.bits = bits;
        o.rle = true;
        ExpectEveryCutRefused(samplegen::WriteBmp(SmallIndexed(bits == 8 ? 50 : 16), o), "RLE BMP");
    }
    o = {};
    o.bits = 8;
    o.headerSize = 12;
    ExpectEveryCutRefused(samplegen::WriteBmp(SmallIndexed(30), o), "OS/2 BMP");
}

TEST_F(Rejects, TgaCutAtEveryLength)
{
    TgaOptions o;
    o.id = "x";
    ExpectEveryCutRefused(samplegen::WriteTga(kSmall, o), "32-bit TGA");
    o.rle = true;
    ExpectEveryCutRefused(samplegen::WriteTga(kSmall, o), "RLE TGA");
    o.depth = 8;
    o.mapBits = 16;
    ExpectEveryCutRefused(samplegen::WriteTga(SmallIndexed(60), o), "colour-mapped RLE TGA");
    o = {};
    o.grey = true;
    o.depth = 16;
    ExpectEveryCutRefused(samplegen::WriteTga(kSmall, o), "grey TGA");
}

TEST_F(Rejects, DdsPngJpegAndPnmCutAtEveryLength)
{
    ExpectEveryCutRefused(MakeDds(D3DFMT_DXT1, 8, 8, 4, 1).bytes, "DXT1 DDS");
    ExpectEveryCutRefused(MakeDds(D3DFMT_P8, 4, 4, 1, 2).bytes, "P8 DDS");
    ExpectEveryCutRefused(MakeDds(D3DFMT_R8G8B8, 5, 3, 3, 3).bytes, "R8G8B8 DDS");
    ExpectEveryCutRefused(samplegen::WritePng(kSmall, samplegen::PngKind::Rgba), "PNG");
    ExpectEveryCutRefused(samplegen::WritePng(SmallIndexed(20)), "palette PNG");
    ExpectEveryCutRefused(samplegen::WriteJpeg(kSmall, 80), "JPEG");
    ExpectEveryCutRefused(samplegen::WriteJpeg(kSmall, 80, true), "grey JPEG");
    ExpectEveryCutRefused(samplegen::WritePpm(kSmall), "PPM");
    ExpectEveryCutRefused(samplegen::WritePpm(kSmall, 1000), "16-bit PPM");
    ExpectEveryCutRefused(samplegen::WritePgm(kSmall), "PGM");
}

TEST_F(Rejects, BmpCorruptHeaderFields)
{
    const auto bmp = samplegen::WriteBmp(kSmall);
    ExpectFieldRefused(bmp, 10, 0xFFFFFF, 4, "pixel offset past the end");
    ExpectFieldRefused(bmp, 10, 20, 4, "pixel offset inside the header");
    ExpectFieldRefused(bmp, 14, 41, 4, "unknown header size");
    ExpectFieldRefused(bmp, 14, 0xFFFFFFF0u, 4, "huge header size");
    ExpectFieldRefused(bmp, 18, 0, 4, "width 0");
    ExpectFieldRefused(bmp, 18, 16385, 4, "width over 16384");
    ExpectFieldRefused(bmp, 18, 0x80000000u, 4, "negative width");
    ExpectFieldRefused(bmp, 22, 16385, 4, "height over 16384");
    ExpectFieldRefused(bmp, 22, 0x80000000u, 4, "most negative height");
    ExpectFieldRefused(bmp, 22, 5000, 4, "height beyond the pixel data");
    ExpectFieldRefused(bmp, 26, 2, 2, "two planes");
    ExpectFieldRefused(bmp, 28, 7, 2, "seven bits");
    ExpectFieldRefused(bmp, 30, 1, 4, "RLE8 with 24 bits");
    ExpectFieldRefused(bmp, 30, 99, 4, "unknown compression");

    BmpOptions o;
    o.bits = 8;
    const auto indexed = samplegen::WriteBmp(SmallIndexed(40), o);
    ExpectFieldRefused(indexed, 46, 300, 4, "palette count over 256");
    ExpectFieldRefused(indexed, 46, 0xFFFFFFFFu, 4, "palette count of 2^32-1");
    o.rle = true;
    auto rle = samplegen::WriteBmp(SmallIndexed(40), o);
    ExpectFieldRefused(rle, 22, static_cast<std::uint32_t>(-7), 4, "top-down run-length data");
    // A run past the row end.
    const std::size_t off = rle[10] | (rle[11] << 8);
    rle[off] = 200;
    ExpectRefused(rle, "run past the row end");

    o = {};
    o.bits = 16;
    o.masks = true;
    const auto masked = samplegen::WriteBmp(kSmall, o);
    ExpectFieldRefused(masked, 54, 0xF0F0, 4, "red mask with a gap");
    ExpectFieldRefused(masked, 58, 0xF800, 4, "green mask overlapping red");
    ExpectFieldRefused(masked, 62, 0x10000, 4, "blue mask past 16 bits");
}

TEST_F(Rejects, TgaCorruptHeaderFields)
{
    const auto tga = samplegen::WriteTga(kSmall);
    ExpectFieldRefused(tga, 2, 5, 1, "image type 5");
    ExpectFieldRefused(tga, 1, 2, 1, "colour-map type 2");
    ExpectFieldRefused(tga, 12, 0, 2, "width 0");
    ExpectFieldRefused(tga, 12, 20000, 2, "width over 16384");
    ExpectFieldRefused(tga, 14, 16385, 2, "height over 16384");
    ExpectFieldRefused(tga, 14, 500, 2, "height beyond the pixel data");
    ExpectFieldRefused(tga, 16, 12, 1, "twelve bits");
    ExpectFieldRefused(tga, 17, 0xC8, 1, "interleaved rows");
    ExpectFieldRefused(tga, 0, 255, 1, "identification field past the end");

    TgaOptions o;
    o.depth = 8;
    const auto mapped = samplegen::WriteTga(SmallIndexed(40), o);
    ExpectFieldRefused(mapped, 5, 300, 2, "colour map of 300 entries");
    ExpectFieldRefused(mapped, 3, 250, 2, "colour map starting at 250");
    ExpectFieldRefused(mapped, 7, 12, 1, "12-bit map entries");
    ExpectFieldRefused(mapped, 5, 0, 2, "empty colour map");

    o = {};
    o.rle = true;
    auto rle = samplegen::WriteTga(kSmall, o);
    auto huge = rle;
    rle[18] = 0xFF;  // a 128-pixel run in a picture of 91
    ExpectRefused(rle, "run past the picture");
    ExpectFieldRefused(huge, 12, 0x40004000, 4, "16384 x 16384 from a few hundred bytes");
    EXPECT_NE(D3DXGetLastErrorText().find("cannot hold"), std::string::npos) << D3DXGetLastErrorText();
}

TEST_F(Rejects, DdsCorruptHeaderFields)
{
    const auto dds = MakeDds(D3DFMT_A8R8G8B8, 8, 8, 4, 9).bytes;
    ExpectFieldRefused(dds, 4, 100, 4, "header size 100");
    ExpectFieldRefused(dds, kDdsWidth, 0, 4, "width 0");
    ExpectFieldRefused(dds, kDdsWidth, 16385, 4, "width over 16384");
    ExpectFieldRefused(dds, kDdsHeight, 0xFFFFFFFFu, 4, "height of 2^32-1");
    ExpectFieldRefused(dds, kDdsMipCount, 40, 4, "40 levels");
    const auto partial = MakeDds(D3DFMT_A8R8G8B8, 16, 16, 4, 9).bytes;
    ExpectFieldRefused(partial, kDdsMipCount, 5, 4, "a level more than stored");
    ExpectFieldRefused(dds, kDdsPixelFlags, 0x4, 4, "four-character code of zero");
    ExpectFieldRefused(dds, kDdsPixelFlags + 8, 13, 4, "13 bits per pixel");
    ExpectFieldRefused(dds, 4 + 108, 0x200, 4, "cube map");
    const auto dxt = MakeDds(D3DFMT_DXT1, 8, 8, 1, 9).bytes;
    ExpectFieldRefused(dxt, kDdsFourCC, 0x30315844, 4, "unknown four-character code");
}

TEST_F(Rejects, PngJpegAndPnmCorruptFields)
{
    auto png = samplegen::WritePng(kSmall, samplegen::PngKind::Rgb);
    ExpectFieldRefused(png, 16, 0x00400000, 4, "IHDR width changed without its CRC");
    for (std::size_t at : {std::size_t{40}, png.size() / 2, png.size() - 20}) {
        auto flipped = png;
        flipped[at] ^= 0x5A;
        ExpectRefused(flipped, "PNG byte flipped at " + std::to_string(at));
    }

    // A 16384 x 16384 picture cannot come out of a few hundred bytes.
    const auto big = samplegen::WritePng(samplegen::Image(2, 2), samplegen::PngKind::Rgba);
    auto huge = big;
    for (std::size_t at : {std::size_t{16}, std::size_t{20}})
        huge[at] = 0, huge[at + 1] = 0, huge[at + 2] = 0x40, huge[at + 3] = 0;
    std::uint32_t crc = 0xFFFFFFFFu;  // over the chunk type and data, bit by bit
    for (std::size_t i = 12; i < 29; ++i) {
        crc ^= huge[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    crc = ~crc;
    for (int i = 0; i < 4; ++i)
        huge[29 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
    ExpectRefused(huge, "PNG of 16384 x 16384 in a few bytes");
    EXPECT_NE(D3DXGetLastErrorText().find("too small"), std::string::npos) << D3DXGetLastErrorText();

    auto jpeg = samplegen::WriteJpeg(kSmall, 80);
    // The SOF0 marker's height and width (big-endian) after FF C0, length, precision.
    for (std::size_t i = 2; i + 8 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
            auto wide = jpeg;
            wide[i + 7] = 0xFF, wide[i + 8] = 0xFF;
            ExpectRefused(wide, "JPEG width of 65535");
            auto zero = jpeg;
            zero[i + 5] = 0, zero[i + 6] = 0;
            ExpectRefused(zero, "JPEG height 0");
            break;
        }
    }

    auto text = [](const std::string& s) { return std::vector<std::uint8_t>(s.begin(), s.end()); };
    ExpectRefused(text("P6\n99999 1\n255\n"), "PPM width over 16384");
    ExpectRefused(text("P6\n0 1\n255\n"), "PPM width 0");
    ExpectRefused(text("P5\n1 1\n0\n\x01"), "PGM maximum 0");
    ExpectRefused(text("P5\n1 1\n70000\n\x01\x01"), "PGM maximum over 65535");
    ExpectRefused(text("P5\n1 1 x\n"), "PGM garbage in the header");
    ExpectRefused(text("P6 99999999999999999999 1 255\n"), "PPM width overflowing");
}

TEST_F(Rejects, UnrecognisedBytesAreNotAPicture)
{
    ExpectRefused({}, "empty");
    ExpectRefused(std::vector<std::uint8_t>(100, 0), "zeros");
    ExpectRefused(std::vector<std::uint8_t>(100, 0xFF), "0xFF bytes");
    const std::string html = "<html><body>not a picture at all</body></html>";
    ExpectRefused({html.begin(), html.end()}, "text");
}

} // namespace
