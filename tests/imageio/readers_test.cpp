// The extension library's image readers: every variant keeps the file's own
// pixel format and gives back exactly the pixels written.
#include "platform/d3dx8/dds_format.h"
#include "tests/imageio/dds_builder.h"
#include "tests/imageio/imageio_fixture.h"

#include <cstring>

using namespace imageio;
using samplegen::BmpOptions;
using samplegen::Image;
using samplegen::Indexed;
using samplegen::TgaOptions;

namespace {

class Readers : public ImageTest {
protected:
    // Loads and checks the size and format of the top level.
    ComPtr<IDirect3DTexture8> Load(const std::vector<std::uint8_t>& bytes, D3DFORMAT format, UINT w, UINT h,
                                   PALETTEENTRY* palette = nullptr)
    {
        ComPtr<IDirect3DTexture8> t;
        EXPECT_EQ(LoadTop(bytes, t, palette), S_OK) << D3DXGetLastErrorText();
        if (!t)
            return t;
        D3DSURFACE_DESC desc{};
        t->GetLevelDesc(0, &desc);
        EXPECT_EQ(desc.Format, format);
        EXPECT_EQ(desc.Width, w);
        EXPECT_EQ(desc.Height, h);
        return t;
    }

    void ExpectPixels(IDirect3DTexture8* t, const Image& src, D3DFORMAT stored, const PALETTEENTRY* pal = nullptr)
    {
        const std::vector<Rgba> got = ReadLevel(t, 0, pal);
        ASSERT_EQ(got.size(), src.pixels.size());
        int bad = 0;
        for (std::size_t i = 0; i < got.size() && bad < 5; ++i)
            if (!(got[i] == Quantise(src.pixels[i], stored))) {
                ++bad;
                ADD_FAILURE() << "pixel " << i % src.width << "," << i / src.width;
            }
    }

    void ExpectIndexed(IDirect3DTexture8* t, const Indexed& src, const PALETTEENTRY* palette, bool paletteAlpha)
    {
        EXPECT_EQ(LevelBytes(t, 0), src.indices);
        for (std::size_t i = 0; i < src.palette.size(); ++i) {
            const Rgba& e = src.palette[i];
            EXPECT_EQ(palette[i].peRed, e.r);
            EXPECT_EQ(palette[i].peGreen, e.g);
            EXPECT_EQ(palette[i].peBlue, e.b);
            EXPECT_EQ(palette[i].peFlags, paletteAlpha ? e.a : 255) << "entry " << i;
        }
        for (std::size_t i = src.palette.size(); i < 256; ++i)
            EXPECT_EQ(palette[i].peFlags | palette[i].peRed | palette[i].peGreen | palette[i].peBlue, 0);
    }
};

Indexed SmallIndexed(int colours, bool alpha, int w = 29, int h = 11)
{
    Indexed ix = samplegen::MakeIndexed(samplegen::MakeGradient(w, h, false), colours, alpha);
    for (auto& v : ix.indices)
        v = static_cast<std::uint8_t>(v % colours);
    return ix;
}

TEST_F(Readers, BmpTrueColourVariantsKeepTheirFormatAndPixels)
{
    const Image img = samplegen::MakeGradient(31, 9, true);
    struct Case {
        int bits, headerSize;
        bool masks, topDown;
        D3DFORMAT format;
    } cases[] = {
        {24, 40, false, false, D3DFMT_X8R8G8B8}, {24, 40, false, true, D3DFMT_X8R8G8B8},
        {24, 12, false, false, D3DFMT_X8R8G8B8}, {24, 108, false, false, D3DFMT_X8R8G8B8},
        {24, 124, false, true, D3DFMT_X8R8G8B8}, {16, 40, false, false, D3DFMT_X1R5G5B5},
        {16, 40, true, false, D3DFMT_R5G6B5},    {16, 124, true, true, D3DFMT_R5G6B5},
        {32, 40, false, false, D3DFMT_A8R8G8B8}, {32, 124, true, false, D3DFMT_A8R8G8B8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.bits << " bits, header " << c.headerSize << (c.masks ? ", masks" : "")
                                          << (c.topDown ? ", top-down" : ""));
        BmpOptions o;
        o.bits = c.bits, o.headerSize = c.headerSize, o.masks = c.masks, o.topDown = c.topDown;
        auto t = Load(samplegen::WriteBmp(img, o), c.format, 31, 9);
        if (t) {
            ExpectPixels(t.get(), img, c.format);
        }
    }
}

TEST_F(Readers, BmpWithoutAlphaInItsFourthBytesReadsOpaque)
{
    const Image img = samplegen::MakeGradient(8, 8, false);
    Image zeroAlpha = img;
    for (auto& p : zeroAlpha.pixels)
        p.a = 0;
    BmpOptions o;
    o.bits = 32;
    auto t = Load(samplegen::WriteBmp(zeroAlpha, o), D3DFMT_A8R8G8B8, 8, 8);
    if (t) {
        ExpectPixels(t.get(), img, D3DFMT_A8R8G8B8);
    }
}

TEST_F(Readers, BmpPaletteVariantsBecomeP8WithOpaquePalette)
{
    struct Case {
        int bits, colours, headerSize;
        bool rle, topDown;
    } cases[] = {{8, 216, 40, false, false}, {8, 200, 40, true, false}, {8, 64, 12, false, false},
                 {8, 100, 124, false, true}, {4, 16, 40, false, false}, {4, 16, 40, true, false},
                 {4, 9, 108, false, true},   {1, 2, 40, false, false},  {1, 2, 12, false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.bits << " bits, " << c.colours << " colours, header " << c.headerSize
                                          << (c.rle ? ", RLE" : "") << (c.topDown ? ", top-down" : ""));
        const Indexed ix = SmallIndexed(c.colours, false);
        BmpOptions o;
        o.bits = c.bits, o.headerSize = c.headerSize, o.rle = c.rle, o.topDown = c.topDown;
        o.paletteEntries = c.colours;
        PALETTEENTRY palette[256];
        std::memset(palette, 0xEE, sizeof palette);
        auto t = Load(samplegen::WriteBmp(ix, o), D3DFMT_P8, 29, 11, palette);
        if (t) {
            ExpectIndexed(t.get(), ix, palette, false);
        }
    }
}

TEST_F(Readers, RunLengthBmpWithLongRunsAndRawStretches)
{
    // Rows mixing runs longer than a packet with stretches that do not repeat.
    Indexed ix{300, 5, {}, {}};
    for (int i = 0; i < 256; ++i)
        ix.palette.push_back({static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i), 7, 255});
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 300; ++x)
            ix.indices.push_back(static_cast<std::uint8_t>(x < 270 ? y * 40 : x * 7 + y));
    for (int bits : {8, 4}) {
        Indexed v = ix;
        for (auto& i : v.indices)
            i &= bits == 4 ? 15 : 255;
        BmpOptions o;
        o.bits = bits, o.rle = true;
        PALETTEENTRY palette[256];
        auto t = Load(samplegen::WriteBmp(v, o), D3DFMT_P8, 300, 5, palette);
        if (t) {
            EXPECT_EQ(LevelBytes(t.get(), 0), v.indices) << bits << " bits";
        }
    }
}

// A 40-byte-header BMP around a hand-made pixel stream.
std::vector<std::uint8_t> RawBmp(int width, int height, int bits, std::uint32_t compression,
                                 const std::vector<std::uint8_t>& stream)
{
    const std::uint32_t colours = 1u << bits, offBits = 14 + 40 + 4 * colours;
    std::vector<std::uint8_t> b(offBits, 0);
    auto put = [&](std::size_t at, std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    b[0] = 'B', b[1] = 'M';
    put(2, offBits + static_cast<std::uint32_t>(stream.size()), 4);
    put(10, offBits, 4);
    put(14, 40, 4);
    put(18, static_cast<std::uint32_t>(width), 4);
    put(22, static_cast<std::uint32_t>(height), 4);
    put(26, 1, 2);
    put(28, static_cast<std::uint32_t>(bits), 2);
    put(30, compression, 4);
    for (std::uint32_t i = 0; i < colours; ++i)
        put(54 + 4 * i, i * 0x010101u, 4);
    b.insert(b.end(), stream.begin(), stream.end());
    return b;
}

TEST_F(Readers, RunLengthOddAbsoluteRunsAndDeltas)
{
    // Bottom row: an absolute run of 5 (3 bytes, padded to 4).  Top row: a
    // delta of 2, then a run of 3.  Untouched texels are index 0.
    const std::vector<std::uint8_t> rle4 = {0, 5, 0x12, 0x34, 0x50, 0, 0, 0, 0, 2, 2, 0, 3, 0x66, 0, 1};
    auto t = Load(RawBmp(5, 2, 4, 2, rle4), D3DFMT_P8, 5, 2);
    if (t) {
        EXPECT_EQ(LevelBytes(t.get(), 0), (std::vector<BYTE>{0, 0, 6, 6, 6, 1, 2, 3, 4, 5}));
    }
    const std::vector<std::uint8_t> rle8 = {0, 3, 9, 8, 7, 0, 1, 1, 0, 0, 0, 2, 4, 0, 1, 5, 0, 1};
    t = Load(RawBmp(5, 2, 8, 1, rle8), D3DFMT_P8, 5, 2);
    if (t) {
        EXPECT_EQ(LevelBytes(t.get(), 0), (std::vector<BYTE>{0, 0, 0, 0, 5, 9, 8, 7, 1, 0}));
    }
}

TEST_F(Readers, TgaTrueColourAndGreyVariants)
{
    const Image img = samplegen::MakeGradient(23, 13, true);
    struct Case {
        int depth;
        bool grey, rle, topDown, rightToLeft;
        D3DFORMAT format;
    } cases[] = {
        {32, false, false, false, false, D3DFMT_A8R8G8B8}, {32, false, true, true, false, D3DFMT_A8R8G8B8},
        {24, false, false, true, true, D3DFMT_X8R8G8B8},   {24, false, true, false, false, D3DFMT_X8R8G8B8},
        {16, false, false, false, false, D3DFMT_A1R5G5B5}, {16, false, true, false, true, D3DFMT_A1R5G5B5},
        {15, false, false, true, false, D3DFMT_X1R5G5B5},  {15, false, true, false, false, D3DFMT_X1R5G5B5},
        {8, true, false, false, false, D3DFMT_L8},         {8, true, true, true, false, D3DFMT_L8},
        {16, true, false, false, false, D3DFMT_A8L8},      {16, true, true, false, false, D3DFMT_A8L8},
    };
    const std::vector<std::uint8_t> grey = samplegen::GreyOf(img);
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.depth << " bits" << (c.grey ? " grey" : "") << (c.rle ? ", RLE" : "")
                                          << (c.topDown ? ", top-down" : "") << (c.rightToLeft ? ", mirrored" : ""));
        TgaOptions o;
        o.depth = c.depth, o.grey = c.grey, o.rle = c.rle, o.topDown = c.topDown, o.rightToLeft = c.rightToLeft;
        o.id = "id field";
        auto t = Load(samplegen::WriteTga(img, o), c.format, 23, 13);
        if (!t)
            continue;
        if (!c.grey) {
            ExpectPixels(t.get(), img, c.format);
            continue;
        }
        const std::vector<Rgba> got = ReadLevel(t.get(), 0);
        for (std::size_t i = 0; i < got.size(); ++i) {
            ASSERT_EQ(got[i].r, grey[i]) << i;
            ASSERT_EQ(got[i].a, c.depth == 16 ? img.pixels[i].a : 255) << i;
        }
    }
    // Some writers give an 8-bit grey picture 8 alpha bits; it reads as grey.
    TgaOptions o;
    o.depth = 8, o.grey = true;
    std::vector<std::uint8_t> coverage = samplegen::WriteTga(img, o);
    coverage[17] |= 8;
    EXPECT_TRUE(Load(coverage, D3DFMT_L8, 23, 13));
}

TEST_F(Readers, TgaColourMapsOfEveryEntrySize)
{
    for (int mapBits : {15, 16, 24, 32}) {
        for (bool rle : {false, true}) {
            SCOPED_TRACE(::testing::Message() << mapBits << "-bit map" << (rle ? ", RLE" : ""));
            Indexed ix = SmallIndexed(100, true);
            TgaOptions o;
            o.depth = 8, o.mapBits = mapBits, o.rle = rle;
            PALETTEENTRY palette[256];
            auto t = Load(samplegen::WriteTga(ix, o), D3DFMT_P8, 29, 11, palette);
            if (!t)
                continue;
            EXPECT_EQ(LevelBytes(t.get(), 0), ix.indices);
            for (std::size_t i = 0; i < ix.palette.size(); ++i) {
                const Rgba e = ix.palette[i];
                const Rgba want = mapBits >= 24 ? Rgba{e.r, e.g, e.b, mapBits == 32 ? e.a : BYTE{255}}
                                                : Quantise(e, mapBits == 16 ? D3DFMT_A1R5G5B5 : D3DFMT_X1R5G5B5);
                EXPECT_EQ((Rgba{palette[i].peRed, palette[i].peGreen, palette[i].peBlue, palette[i].peFlags}), want)
                    << "entry " << i;
            }
        }
    }
}

TEST_F(Readers, PngKindsAndPaletteTransparency)
{
    const Image img = samplegen::MakeGradient(17, 19, true);
    const std::vector<std::uint8_t> grey = samplegen::GreyOf(img);
    struct Case {
        samplegen::PngKind kind;
        D3DFORMAT format;
    } cases[] = {{samplegen::PngKind::Rgb, D3DFMT_X8R8G8B8},
                 {samplegen::PngKind::Rgba, D3DFMT_A8R8G8B8},
                 {samplegen::PngKind::Grey, D3DFMT_L8},
                 {samplegen::PngKind::GreyAlpha, D3DFMT_A8L8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "PNG kind " << static_cast<int>(c.kind));
        auto t = Load(samplegen::WritePng(img, c.kind), c.format, 17, 19);
        if (!t)
            continue;
        const std::vector<Rgba> got = ReadLevel(t.get(), 0);
        for (std::size_t i = 0; i < got.size(); ++i) {
            const Rgba& s = img.pixels[i];
            const bool isGrey = c.format == D3DFMT_L8 || c.format == D3DFMT_A8L8;
            const bool alpha = c.format == D3DFMT_A8R8G8B8 || c.format == D3DFMT_A8L8;
            const Rgba want = isGrey ? Rgba{grey[i], grey[i], grey[i], alpha ? s.a : BYTE{255}}
                                     : Rgba{s.r, s.g, s.b, alpha ? s.a : BYTE{255}};
            ASSERT_EQ(got[i], want) << i;
        }
    }

    // tRNS alpha lands in peFlags; entries past its list are opaque.
    const Indexed ix = SmallIndexed(40, true);
    PALETTEENTRY palette[256];
    auto t = Load(samplegen::WritePng(ix), D3DFMT_P8, 29, 11, palette);
    if (t) {
        ExpectIndexed(t.get(), ix, palette, true);
    }
}

TEST_F(Readers, JpegColourAndGreyStayCloseToTheSource)
{
    const Image img = samplegen::MakeTerrain(samplegen::Terrain::Snow, 40, 24, 3);
    for (bool grey : {false, true}) {
        auto t = Load(samplegen::WriteJpeg(img, 95, grey), grey ? D3DFMT_L8 : D3DFMT_X8R8G8B8, 40, 24);
        if (!t)
            continue;
        const std::vector<Rgba> got = ReadLevel(t.get(), 0);
        const std::vector<std::uint8_t> g = samplegen::GreyOf(img);
        double error = 0;
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].a, 255);
            error += grey ? std::abs(got[i].r - g[i]) : std::abs(got[i].r - img.pixels[i].r) +
                                                            std::abs(got[i].g - img.pixels[i].g) +
                                                            std::abs(got[i].b - img.pixels[i].b);
        }
        EXPECT_LT(error / got.size(), grey ? 2.0 : 6.0);
    }
}

TEST_F(Readers, PpmAndPgmWithScaledMaximumValues)
{
    const Image img = samplegen::MakeGradient(10, 6, false);
    auto t = Load(samplegen::WritePpm(img), D3DFMT_X8R8G8B8, 10, 6);
    if (t) {
        ExpectPixels(t.get(), img, D3DFMT_X8R8G8B8);
    }
    t = Load(samplegen::WritePpm(img, 65535), D3DFMT_X8R8G8B8, 10, 6);
    if (t) {
        ExpectPixels(t.get(), img, D3DFMT_X8R8G8B8);
    }
    t = Load(samplegen::WritePgm(img), D3DFMT_L8, 10, 6);
    if (t) {
        EXPECT_EQ(LevelBytes(t.get(), 0), samplegen::GreyOf(img));
    }

    // Maximum 3: samples 0..3 spread over 0..255.
    const std::string text = std::string("P5\n4 1\n3\n") + std::string("\0\1\2\3", 4);
    const std::vector<std::uint8_t> bytes(text.begin(), text.end());
    t = Load(bytes, D3DFMT_L8, 4, 1);
    if (t) {
        EXPECT_EQ(LevelBytes(t.get(), 0), (std::vector<BYTE>{0, 85, 170, 255}));
    }
}

// Plain PBM, PGM and PPM, and the binary bitmap (1 is black); every cut
// before the last sample is refused.
TEST_F(Readers, PlainPnmAndBitmaps)
{
    const struct {
        std::string text;
        D3DFORMAT format;  // D3DFMT_UNKNOWN: refused for `reason`
        UINT width, height;
        std::vector<BYTE> level;
        std::string reason;
    } cases[] = {
        {"P1\n# a comment\n3 2\n0 1 0\n1 # inside\n0 1\n", D3DFMT_L8, 3, 2, {255, 0, 255, 0, 255, 0}, ""},
        {"P2\n2 2\n# max\n15\n0 15\n7\t16\n", D3DFMT_L8, 2, 2, {0, 255, 119, 255}, ""},
        {"P3 2 1 255 255 0 10  1 2 3", D3DFMT_X8R8G8B8, 2, 1, {10, 0, 255, 255, 3, 2, 1, 255}, ""},
        {"P4\n3 2\n\xA0\x5F", D3DFMT_L8, 3, 2, {0, 255, 0, 255, 0, 255}, ""},
        {"P3\n2 1\n255\n10 20 30 40 50\n", D3DFMT_UNKNOWN, 0, 0, {}, "cut short: 1 of 6 samples missing"},
        {"P2\n2 1\n255\n1 x\n", D3DFMT_UNKNOWN, 0, 0, {}, "sample 2 is malformed"},
        {"P1\n16384 16384\n0 1\n", D3DFMT_UNKNOWN, 0, 0, {}, "cut short"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const std::vector<std::uint8_t> bytes(c.text.begin(), c.text.end());
        ComPtr<IDirect3DTexture8> t;
        if (!c.format) {
            EXPECT_NE(LoadTop(bytes, t), S_OK);
            EXPECT_NE(D3DXGetLastErrorText().find(c.reason), std::string::npos) << D3DXGetLastErrorText();
        } else if ((t = Load(bytes, c.format, c.width, c.height))) {
            EXPECT_EQ(LevelBytes(t.get(), 0), c.level);
            const std::string body = c.text.substr(0, c.text.find_last_not_of(" \t\n") + 1);
            for (std::size_t n = 0; n <= body.find_last_of(" \t\n"); ++n)
                EXPECT_NE(LoadTop({bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n)}, t), S_OK) << n;
        }
    }
}

TEST_F(Readers, DdsStoredLevelsLoadAsTheyAre)
{
    const D3DFORMAT formats[] = {D3DFMT_DXT1,     D3DFMT_DXT2,     D3DFMT_DXT3,     D3DFMT_DXT4,     D3DFMT_DXT5,
                                 D3DFMT_R8G8B8,   D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5,   D3DFMT_A1R5G5B5,
                                 D3DFMT_X1R5G5B5, D3DFMT_A4R4G4B4, D3DFMT_L8,       D3DFMT_A8L8,     D3DFMT_A8,
                                 D3DFMT_P8,       D3DFMT_V8U8,     D3DFMT_L6V5U5,   D3DFMT_X8L8V8U8, D3DFMT_Q8W8V8U8,
                                 D3DFMT_V16U16,   D3DFMT_W11V11U10, D3DFMT_A2W10V10U10, D3DFMT_UYVY, D3DFMT_YUY2};
    for (D3DFORMAT f : formats) {
        SCOPED_TRACE(D3DFormatInfo(f)->name);
        const DdsFile dds = MakeDds(f, 12, 8, 4, 77);  // the whole chain: 12x8 .. 1x1
        ComPtr<IDirect3DTexture8> t;
        PALETTEENTRY palette[256];
        D3DXIMAGE_INFO info{};
        ASSERT_EQ(D3DXCreateTextureFromFileInMemoryEx(device_.get(), dds.bytes.data(),
                                                      static_cast<UINT>(dds.bytes.size()), D3DX_DEFAULT, D3DX_DEFAULT,
                                                      D3DX_DEFAULT, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED,
                                                      D3DX_FILTER_NONE, D3DX_FILTER_BOX, 0, &info, palette, t.put()),
                  S_OK)
            << D3DXGetLastErrorText();
        EXPECT_EQ(info.ImageFileFormat, D3DXIFF_DDS);
        EXPECT_EQ(info.MipLevels, 4u);
        ASSERT_EQ(t->GetLevelCount(), 4u);
        for (UINT level = 0; level < 4; ++level) {
            D3DSURFACE_DESC desc{};
            t->GetLevelDesc(level, &desc);
            EXPECT_EQ(desc.Format, f);
            EXPECT_EQ(LevelBytes(t.get(), level), dds.levels[level]) << "level " << level;
        }
        if (f == D3DFMT_P8) {
            EXPECT_EQ(std::memcmp(palette, dds.palette.data(), sizeof palette), 0);
        }
    }
}

// Records of other writers: a D3DFORMAT number as the code, A2W10V10U10
// with its U and W masks exchanged (as D3DX wrote it); P8 by number has no
// palette, and no table format has W8V8U8's masks.
TEST_F(Readers, DdsRecordsOfOtherWritersNameTheirFormat)
{
    const struct {
        DdsPixelFormat pf;
        D3DFORMAT format;  // D3DFMT_UNKNOWN: refused
    } cases[] = {
        {{32, DDPF_FOURCC, 60, 0, 0, 0, 0, 0}, D3DFMT_V8U8},
        {{32, DDPF_FOURCC, 21, 0, 0, 0, 0, 0}, D3DFMT_A8R8G8B8},
        {{32, DDPF_BUMPDUDV | DDPF_ALPHAPIXELS, 0, 32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000}, D3DFMT_A2W10V10U10},
        {{32, DDPF_FOURCC, 41, 0, 0, 0, 0, 0}, D3DFMT_UNKNOWN},
        {{32, DDPF_BUMPDUDV, 0, 32, 0xFF, 0xFF00, 0xFF0000, 0}, D3DFMT_UNKNOWN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        DdsFile dds = MakeDds(c.format ? c.format : D3DFMT_A8R8G8B8, 4, 2, 1, 5);
        std::memcpy(&dds.bytes[sizeof(DWORD) + offsetof(DdsHeader, pixelFormat)], &c.pf, sizeof c.pf);
        ComPtr<IDirect3DTexture8> t;
        D3DXIMAGE_INFO info{};
        EXPECT_EQ(LoadTop(dds.bytes, t, nullptr, &info) == S_OK, c.format != D3DFMT_UNKNOWN) << D3DXGetLastErrorText();
        EXPECT_TRUE(t ? info.Format == c.format : D3DXGetLastErrorText().find("is not readable") != std::string::npos);
    }
}

TEST_F(Readers, AskedLevelCountTakesTheFirstStoredLevels)
{
    const DdsFile dds = MakeDds(D3DFMT_DXT5, 16, 16, 5, 3);
    ComPtr<IDirect3DTexture8> t;
    ASSERT_EQ(D3DXCreateTextureFromFileInMemoryEx(device_.get(), dds.bytes.data(), static_cast<UINT>(dds.bytes.size()),
                                                  D3DX_DEFAULT, D3DX_DEFAULT, 2, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED,
                                                  D3DX_FILTER_NONE, D3DX_FILTER_BOX, 0, nullptr, nullptr, t.put()),
              S_OK);
    ASSERT_EQ(t->GetLevelCount(), 2u);
    EXPECT_EQ(LevelBytes(t.get(), 1), dds.levels[1]);
}

TEST_F(Readers, FilterNoneKeepsAnOddSizeAndInfoDescribesTheFile)
{
    const Image img = samplegen::MakeGradient(37, 23, false);
    ComPtr<IDirect3DTexture8> t;
    D3DXIMAGE_INFO info{};
    ASSERT_EQ(LoadTop(samplegen::WriteBmp(img), t, nullptr, &info), S_OK);
    EXPECT_EQ(info.Width, 37u);
    EXPECT_EQ(info.Height, 23u);
    EXPECT_EQ(info.MipLevels, 1u);
    EXPECT_EQ(info.Format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(info.ImageFileFormat, D3DXIFF_BMP);
    ExpectPixels(t.get(), img, D3DFMT_X8R8G8B8);
}

TEST_F(Readers, PaletteOutGetsZerosPastTheFileEntries)
{
    const Indexed ix = SmallIndexed(16, false);
    BmpOptions o;
    o.bits = 4;
    o.paletteEntries = 5;
    Indexed five = ix;
    for (auto& v : five.indices)
        v %= 5;
    five.palette.resize(5);
    PALETTEENTRY palette[256];
    std::memset(palette, 0xAB, sizeof palette);
    auto t = Load(samplegen::WriteBmp(five, o), D3DFMT_P8, 29, 11, palette);
    if (t) {
        ExpectIndexed(t.get(), five, palette, false);
    }
}

// Needs the mip filter of the surface library.
TEST_F(Readers, SingleLevelFileGetsAGeneratedChain)
{
    const DdsFile dds = MakeDds(D3DFMT_A8R8G8B8, 8, 4, 1, 5);
    ComPtr<IDirect3DTexture8> t;
    ASSERT_EQ(D3DXCreateTextureFromFileInMemoryEx(device_.get(), dds.bytes.data(), static_cast<UINT>(dds.bytes.size()),
                                                  D3DX_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, 0, D3DFMT_UNKNOWN,
                                                  D3DPOOL_MANAGED, D3DX_FILTER_NONE, D3DX_FILTER_BOX, 0, nullptr,
                                                  nullptr, t.put()),
              S_OK)
        << D3DXGetLastErrorText();
    ASSERT_EQ(t->GetLevelCount(), 4u);
    EXPECT_EQ(LevelBytes(t.get(), 0), dds.levels[0]);
    // Level 1, texel (0,0): the box average of the top-left 2x2 texels.
    const std::vector<Rgba> top = ReadLevel(t.get(), 0), next = ReadLevel(t.get(), 1);
    const int sum = top[0].g + top[1].g + top[8].g + top[9].g;
    EXPECT_NEAR(next[0].g, sum / 4.0, 1.0);
}

// Needs the pixel conversion of the surface library.
TEST_F(Readers, AskedFormatIsConvertedFromTheFileFormat)
{
    const Image img = samplegen::MakeGradient(16, 8, false);
    ComPtr<IDirect3DTexture8> t;
    const auto bytes = samplegen::WriteBmp(img);
    ASSERT_EQ(D3DXCreateTextureFromFileInMemoryEx(device_.get(), bytes.data(), static_cast<UINT>(bytes.size()),
                                                  D3DX_DEFAULT, D3DX_DEFAULT, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                                                  D3DX_FILTER_NONE, D3DX_FILTER_BOX, 0, nullptr, nullptr, t.put()),
              S_OK)
        << D3DXGetLastErrorText();
    D3DSURFACE_DESC desc{};
    t->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
    ExpectPixels(t.get(), img, D3DFMT_X8R8G8B8);
}

// Needs the resampling of the surface library.
TEST_F(Readers, AskedSizeIsResampledWithTheFilterAndGetsAChain)
{
    Image img(16, 8, {0, 0, 0});
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x)
            img.at(x, y) = {static_cast<std::uint8_t>((x % 2) * 200), 100, static_cast<std::uint8_t>(y * 30)};
    const auto bytes = samplegen::WriteBmp(img);
    ComPtr<IDirect3DTexture8> t;
    ASSERT_EQ(D3DXCreateTextureFromFileInMemoryEx(device_.get(), bytes.data(), static_cast<UINT>(bytes.size()), 8, 4,
                                                  D3DX_DEFAULT, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_FILTER_BOX,
                                                  D3DX_FILTER_BOX, 0, nullptr, nullptr, t.put()),
              S_OK)
        << D3DXGetLastErrorText();
    ASSERT_EQ(t->GetLevelCount(), 4u);
    D3DSURFACE_DESC desc{};
    t->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Width, 8u);
    EXPECT_EQ(desc.Height, 4u);
    EXPECT_EQ(desc.Format, D3DFMT_X8R8G8B8);
    const std::vector<Rgba> top = ReadLevel(t.get(), 0);
    EXPECT_NEAR(top[0].r, 100, 1);  // columns of 0 and 200 averaged
    EXPECT_NEAR(top[0].b, 15, 1);   // rows 0 and 1
}

} // namespace
