#include "tests/pixel/pixel_test.h"

#include <cstring>

using model::Image;
using model::Rgba;

namespace {

std::string PairName(D3DFORMAT s, D3DFORMAT d, UINT w, UINT h)
{
    return std::string(model::Name(s)) + " -> " + model::Name(d) + " at " + std::to_string(w) + "x" +
           std::to_string(h);
}

void WriteBytes(IDirect3DTexture8* t, const std::vector<std::uint8_t>& bytes, UINT level = 0)
{
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(t->LockRect(level, &locked, nullptr, 0), S_OK);
    std::memcpy(locked.pBits, bytes.data(), bytes.size());
    t->UnlockRect(level);
}

Image OneRow(const std::vector<Rgba>& pixels)
{
    return {static_cast<UINT>(pixels.size()), 1, pixels};
}

Rgba Bytes4(int r, int g, int b, int a) { return {r / 255.0, g / 255.0, b / 255.0, a / 255.0}; }

} // namespace

using Conversion = PixelTest;

TEST_F(Conversion, EveryUncompressedPairMatchesTheFormatModel)
{
    const std::vector<PALETTEENTRY> palette = model::RandomPalette(7);
    const std::vector<D3DFORMAT> formats = model::UncompressedFormats();
    ASSERT_EQ(formats.size(), 27u);
    for (auto [w, h] : {std::pair<UINT, UINT>{7, 5}, {1, 1}}) {
        const Image input = model::RandomImage(w, h, w * 31 + h);
        ComPtr<IDirect3DTexture8> argb = textures_.FromImage(input);
        int ties = 0;
        for (D3DFORMAT s : formats) {
            ComPtr<IDirect3DTexture8> src = textures_.Make(s, w, h);
            ASSERT_EQ(Convert(src.get(), palette.data(), argb.get(), nullptr), S_OK) << D3DXGetLastErrorText();
            const Image stored = model::Store(s, input, palette.data());
            ASSERT_TRUE(Matches(model::Read(src.get(), palette.data()), stored, &ties)) << PairName(D3DFMT_A8R8G8B8, s, w, h);
            for (D3DFORMAT d : formats) {
                ComPtr<IDirect3DTexture8> dst = textures_.Make(d, w, h);
                ASSERT_EQ(Convert(dst.get(), palette.data(), src.get(), palette.data()), S_OK) << D3DXGetLastErrorText();
                // Same format: the stored values are kept as they are.
                const Image expected = s == d ? stored : model::Store(d, stored, palette.data());
                EXPECT_TRUE(Matches(model::Read(dst.get(), palette.data()), expected, &ties)) << PairName(s, d, w, h);
            }
        }
        // Exact halves are rare; a model that flags many would test little.
        EXPECT_LT(ties, int(formats.size() * formats.size() * w * h / 50 + 5));
    }
}

TEST_F(Conversion, RoundTripThroughEachFormatKeepsWhatItCanRepresent)
{
    const std::vector<PALETTEENTRY> palette = model::RandomPalette(11);
    // Random colours plus sweeps of every 8-bit value, per channel and grey.
    Image probe = model::RandomImage(256, 8, 3);
    for (int i = 0; i < 256; ++i) {
        probe.at(i, 0) = Bytes4(i, i, i, i);
        probe.at(i, 1) = Bytes4(i, 0, 0, 255 - i);
        probe.at(i, 2) = Bytes4(0, i, 0, 255);
        probe.at(i, 3) = Bytes4(0, 0, i, i);
        probe.at(i, 4) = Bytes4(255 - i, i, i / 2, 128);
    }
    for (D3DFORMAT f : model::UncompressedFormats()) {
        Image representable = probe;
        if (model::IsYuv(f)) {
            // Macro-pixels whose colours lie inside the RGB cube.
            model::Random random(f);
            UINT filled = 0;
            while (filled < representable.pixels.size()) {
                const int y0 = 16 + random.Byte() % 220, y1 = 16 + random.Byte() % 220;
                const int cb = 128 + random.Byte() % 81 - 40, cr = 128 + random.Byte() % 81 - 40;
                double p[3], q[3];
                model::DecodeYuvUnclamped(y0, cb, cr, p);
                model::DecodeYuvUnclamped(y1, cb, cr, q);
                if (std::min({p[0], p[1], p[2], q[0], q[1], q[2]}) < 0 || std::max({p[0], p[1], p[2], q[0], q[1], q[2]}) > 1)
                    continue;
                representable.pixels[filled++] = {p[0], p[1], p[2], 1};
                representable.pixels[filled++] = {q[0], q[1], q[2], 1};
            }
        } else {
            representable = model::Store(f, probe, palette.data());
        }
        std::vector<std::uint32_t> expected;
        for (Rgba& c : representable.pixels) {
            expected.push_back(model::ToArgb(c));
            c = model::FromArgb(expected.back());
        }
        ComPtr<IDirect3DTexture8> argb = textures_.FromImage(representable);
        ComPtr<IDirect3DTexture8> stored = textures_.Make(f, 256, 8);
        ASSERT_EQ(Convert(stored.get(), palette.data(), argb.get(), nullptr), S_OK);
        const std::vector<std::uint32_t> back = model::ReadArgb(stored.get(), palette.data());
        for (std::size_t i = 0; i < expected.size(); ++i)
            ASSERT_EQ(back[i], expected[i]) << model::Name(f) << " pixel " << i;
    }
}

TEST_F(Conversion, NarrowChannelsTakeTheNearestValue)
{
    // Every 8-bit value to 4, 5 and 6 bits and back lands on the nearest
    // value the narrow channel can hold.
    std::vector<Rgba> ramp;
    for (int v = 0; v < 256; ++v)
        ramp.push_back(Bytes4(v, v, v, v));
    ComPtr<IDirect3DTexture8> argb = textures_.FromImage(OneRow(ramp));
    auto nearest = [](int v, int bits) {
        const int max = (1 << bits) - 1;
        int best = 0;
        for (int q = 0; q <= max; ++q)
            if (std::abs(q * 255.0 / max - v) < std::abs(best * 255.0 / max - v))
                best = q;
        return static_cast<std::uint32_t>(std::lround(best * 255.0 / max));
    };
    for (auto [format, redBits, greenBits, alphaBits] :
         {std::tuple{D3DFMT_R5G6B5, 5, 6, 0}, std::tuple{D3DFMT_A4R4G4B4, 4, 4, 4}, std::tuple{D3DFMT_A1R5G5B5, 5, 5, 1}}) {
        ComPtr<IDirect3DTexture8> narrow = textures_.Make(format, 256, 1);
        ASSERT_EQ(Convert(narrow.get(), nullptr, argb.get(), nullptr), S_OK);
        const std::vector<std::uint32_t> back = model::ReadArgb(narrow.get(), nullptr);
        for (int v = 0; v < 256; ++v) {
            EXPECT_EQ((back[v] >> 16) & 0xFF, nearest(v, redBits)) << model::Name(format) << " red " << v;
            EXPECT_EQ((back[v] >> 8) & 0xFF, nearest(v, greenBits)) << model::Name(format) << " green " << v;
            EXPECT_EQ(back[v] >> 24, alphaBits ? nearest(v, alphaBits) : 255u) << model::Name(format) << " alpha " << v;
        }
    }
}

TEST_F(Conversion, SixteenBitChannelsRoundToTenBits)
{
    // 16-bit values reach 10 bits by nearest rounding, not by truncation,
    // and come back by exact scaling.
    ComPtr<IDirect3DTexture8> g16 = textures_.Make(D3DFMT_G16R16, 256, 1);
    std::vector<std::uint8_t> bytes(256 * 4);
    for (int i = 0; i < 256; ++i) {
        const std::uint16_t r = static_cast<std::uint16_t>(i * 257 + (i % 7)), g = static_cast<std::uint16_t>(65535 - i * 251);
        std::memcpy(&bytes[i * 4], &r, 2);
        std::memcpy(&bytes[i * 4 + 2], &g, 2);
    }
    WriteBytes(g16.get(), bytes);
    ComPtr<IDirect3DTexture8> copy = textures_.Make(D3DFMT_G16R16, 256, 1);
    ComPtr<IDirect3DTexture8> ten = textures_.Make(D3DFMT_A2B10G10R10, 256, 1);
    ASSERT_EQ(Convert(ten.get(), nullptr, g16.get(), nullptr), S_OK);
    ASSERT_EQ(Convert(copy.get(), nullptr, ten.get(), nullptr), S_OK);
    const std::vector<std::uint8_t> back = model::Bytes(copy.get());
    const std::vector<std::uint8_t> tenBytes = model::Bytes(ten.get());
    for (int i = 0; i < 256; ++i) {
        std::uint16_t r, r2;
        std::uint32_t t;
        std::memcpy(&r, &bytes[i * 4], 2);
        std::memcpy(&r2, &back[i * 4], 2);
        std::memcpy(&t, &tenBytes[i * 4], 4);
        // 16 -> 10 bits rounds to nearest; 10 -> 16 bits is exact scaling.
        const long tenRed = std::lround(r * 1023.0 / 65535);
        EXPECT_EQ(long(t & 0x3FF), tenRed) << i;
        EXPECT_EQ(long(r2), std::lround(tenRed * 65535.0 / 1023)) << i;
    }
}

using Palette = PixelTest;

TEST_F(Palette, SourceIndicesExpandThroughThePalette)
{
    const std::vector<PALETTEENTRY> palette = model::RandomPalette(5);
    ComPtr<IDirect3DTexture8> p8 = textures_.Make(D3DFMT_P8, 16, 16);
    ComPtr<IDirect3DTexture8> a8p8 = textures_.Make(D3DFMT_A8P8, 16, 16);
    std::vector<std::uint8_t> indices(256), pairs(512);
    for (int i = 0; i < 256; ++i) {
        indices[i] = static_cast<std::uint8_t>(i);
        pairs[2 * i] = static_cast<std::uint8_t>(i);
        pairs[2 * i + 1] = static_cast<std::uint8_t>(255 - i);
    }
    WriteBytes(p8.get(), indices);
    WriteBytes(a8p8.get(), pairs);
    const std::vector<std::uint32_t> withPalette = model::ReadArgb(p8.get(), palette.data());
    const std::vector<std::uint32_t> grey = model::ReadArgb(p8.get(), nullptr);
    const std::vector<std::uint32_t> withAlpha = model::ReadArgb(a8p8.get(), palette.data());
    for (std::uint32_t i = 0; i < 256; ++i) {
        const PALETTEENTRY& e = palette[i];
        const std::uint32_t rgb = std::uint32_t{e.peRed} << 16 | std::uint32_t{e.peGreen} << 8 | e.peBlue;
        EXPECT_EQ(withPalette[i], std::uint32_t{e.peFlags} << 24 | rgb) << i;
        EXPECT_EQ(grey[i], 0xFF000000u | i << 16 | i << 8 | i) << i;
        EXPECT_EQ(withAlpha[i], (255 - i) << 24 | rgb) << i;
    }
}

TEST_F(Palette, DestinationTakesTheNearestEntry)
{
    std::vector<PALETTEENTRY> palette(256, PALETTEENTRY{0, 0, 0, 255});
    palette[1] = {255, 255, 255, 255};
    palette[2] = {255, 0, 0, 255};
    palette[3] = {0, 0, 255, 0};
    palette[4] = {0, 0, 255, 255};
    const Image colours = OneRow({Bytes4(250, 10, 10, 255), Bytes4(200, 200, 200, 255), Bytes4(0, 0, 250, 10),
                                  Bytes4(0, 0, 250, 250), Bytes4(20, 20, 20, 255), Bytes4(255, 0, 0, 0)});
    ComPtr<IDirect3DTexture8> argb = textures_.FromImage(colours);
    ComPtr<IDirect3DTexture8> p8 = textures_.Make(D3DFMT_P8, 6, 1);
    ComPtr<IDirect3DTexture8> a8p8 = textures_.Make(D3DFMT_A8P8, 6, 1);
    ComPtr<IDirect3DTexture8> grey = textures_.Make(D3DFMT_P8, 6, 1);
    ASSERT_EQ(Convert(p8.get(), palette.data(), argb.get(), nullptr), S_OK);
    ASSERT_EQ(Convert(a8p8.get(), palette.data(), argb.get(), nullptr), S_OK);
    ASSERT_EQ(Convert(grey.get(), nullptr, argb.get(), nullptr), S_OK);
    // P8 matches alpha too (peFlags); A8P8 keeps alpha in its own byte, and
    // the first of equal entries wins.
    const std::vector<std::uint8_t> p8Expected = {2, 1, 3, 4, 0, 2};
    const std::vector<std::uint8_t> a8p8Expected = {2, 255, 1, 255, 3, 10, 3, 250, 0, 255, 2, 0};
    std::vector<std::uint8_t> p8Bytes = model::Bytes(p8.get()), a8p8Bytes = model::Bytes(a8p8.get());
    EXPECT_EQ(std::vector<std::uint8_t>(p8Bytes.begin(), p8Bytes.begin() + 6), p8Expected);
    EXPECT_EQ(std::vector<std::uint8_t>(a8p8Bytes.begin(), a8p8Bytes.begin() + 12), a8p8Expected);
    // Without a palette the index is the grey ramp's: the luminance.
    std::vector<std::uint8_t> greyBytes = model::Bytes(grey.get());
    EXPECT_EQ(std::vector<std::uint8_t>(greyBytes.begin(), greyBytes.begin() + 6),
              (std::vector<std::uint8_t>{82, 200, 29, 29, 20, 76}));
}

TEST_F(Palette, SamePaletteCopiesIndicesAndOtherPaletteRemaps)
{
    std::vector<PALETTEENTRY> first(256), second(256);
    for (int i = 0; i < 256; ++i) {
        first[i] = {BYTE(i), BYTE(i), BYTE(i), 255};
        second[255 - i] = first[i];
    }
    ComPtr<IDirect3DTexture8> a = textures_.Make(D3DFMT_P8, 4, 4), b = textures_.Make(D3DFMT_P8, 4, 4),
                              c = textures_.Make(D3DFMT_P8, 4, 4);
    std::vector<std::uint8_t> indices(16);
    for (int i = 0; i < 16; ++i)
        indices[i] = static_cast<std::uint8_t>(i * 13);
    WriteBytes(a.get(), indices);
    ASSERT_EQ(Convert(b.get(), first.data(), a.get(), first.data()), S_OK);
    ASSERT_EQ(Convert(c.get(), second.data(), a.get(), first.data()), S_OK);
    EXPECT_EQ(model::Bytes(b.get()), indices);
    const std::vector<std::uint8_t> remapped = model::Bytes(c.get());
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(remapped[i], 255 - indices[i]) << i;
}

using Yuv = PixelTest;

TEST_F(Yuv, KnownColoursInBothByteOrders)
{
    // White, black, red, blue, and an odd last pixel paired with itself.
    const Image colours =
        OneRow({Bytes4(255, 255, 255, 255), Bytes4(0, 0, 0, 255), Bytes4(255, 0, 0, 255), Bytes4(0, 0, 255, 255),
                Bytes4(255, 0, 0, 255)});
    ComPtr<IDirect3DTexture8> argb = textures_.FromImage(colours);
    // (Y0, Cb, Y1, Cr) per pair: white/black share neutral chroma; red/blue
    // average theirs (90/240 and 240/110); red alone keeps its own.
    const std::uint8_t pairs[3][4] = {{235, 128, 16, 128}, {81, 165, 41, 175}, {81, 90, 81, 240}};
    for (D3DFORMAT f : {D3DFMT_YUY2, D3DFMT_UYVY}) {
        ComPtr<IDirect3DTexture8> yuv = textures_.Make(f, 5, 1);
        ASSERT_EQ(Convert(yuv.get(), nullptr, argb.get(), nullptr), S_OK);
        const std::vector<std::uint8_t> bytes = model::Bytes(yuv.get());
        for (int m = 0; m < 3; ++m) {
            const std::uint8_t* p = pairs[m];
            const std::vector<std::uint8_t> expected =
                f == D3DFMT_YUY2 ? std::vector<std::uint8_t>{p[0], p[1], p[2], p[3]}
                                 : std::vector<std::uint8_t>{p[1], p[0], p[3], p[2]};
            EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 4 * m, bytes.begin() + 4 * m + 4), expected)
                << model::Name(f) << " pair " << m;
        }
        // And back: neutral pairs give their greys exactly, coloured ones
        // come back close (chroma is shared).
        const std::vector<std::uint32_t> back = model::ReadArgb(yuv.get(), nullptr);
        EXPECT_EQ(back[0], 0xFFFFFFFFu);
        EXPECT_EQ(back[1], 0xFF000000u);
        const std::uint32_t red = back[4];
        EXPECT_NEAR(double((red >> 16) & 0xFF), 255, 2);
        EXPECT_NEAR(double((red >> 8) & 0xFF), 0, 2);
        EXPECT_NEAR(double(red & 0xFF), 0, 2);
    }
}

TEST_F(Yuv, HalfCoveredPairKeepsItsOtherPixel)
{
    ComPtr<IDirect3DTexture8> white = textures_.FromImage(OneRow(std::vector<Rgba>(4, Bytes4(255, 255, 255, 255))));
    ComPtr<IDirect3DTexture8> black = textures_.FromImage(OneRow({Bytes4(0, 0, 0, 255)}));
    ComPtr<IDirect3DTexture8> yuy2 = textures_.Make(D3DFMT_YUY2, 4, 1);
    ASSERT_EQ(Convert(yuy2.get(), nullptr, white.get(), nullptr), S_OK);
    const RECT second{1, 0, 2, 1};
    ASSERT_EQ(D3DXLoadSurfaceFromSurface(model::Level(yuy2.get()).get(), nullptr, &second,
                                         model::Level(black.get()).get(), nullptr, nullptr, D3DX_FILTER_NONE, 0),
              S_OK);
    const std::vector<std::uint8_t> bytes = model::Bytes(yuy2.get());
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 8),
              (std::vector<std::uint8_t>{235, 128, 16, 128, 235, 128, 235, 128}));
}

using Bump = PixelTest;

TEST_F(Bump, SignedChannelsCentreOnMidGrey)
{
    const Image colours = OneRow({Bytes4(255, 0, 128, 255), Bytes4(0, 255, 0, 0), Bytes4(128, 128, 128, 128)});
    ComPtr<IDirect3DTexture8> argb = textures_.FromImage(colours);
    ComPtr<IDirect3DTexture8> v8u8 = textures_.Make(D3DFMT_V8U8, 3, 1);
    ComPtr<IDirect3DTexture8> q8 = textures_.Make(D3DFMT_Q8W8V8U8, 3, 1);
    ComPtr<IDirect3DTexture8> l6 = textures_.Make(D3DFMT_L6V5U5, 3, 1);
    ASSERT_EQ(Convert(v8u8.get(), nullptr, argb.get(), nullptr), S_OK);
    ASSERT_EQ(Convert(q8.get(), nullptr, argb.get(), nullptr), S_OK);
    ASSERT_EQ(Convert(l6.get(), nullptr, argb.get(), nullptr), S_OK);
    // 255 is +127, 0 is -127 (0x81), 128 is 0.
    const std::vector<std::uint8_t> v = model::Bytes(v8u8.get());
    EXPECT_EQ(std::vector<std::uint8_t>(v.begin(), v.begin() + 6), (std::vector<std::uint8_t>{0x7F, 0x81, 0x81, 0x7F, 0, 0}));
    const std::vector<std::uint8_t> q = model::Bytes(q8.get());
    EXPECT_EQ(std::vector<std::uint8_t>(q.begin(), q.begin() + 8),
              (std::vector<std::uint8_t>{0x7F, 0x81, 0x00, 0x7F, 0x81, 0x7F, 0x81, 0x81}));
    // L6V5U5: U and V in 5 signed bits (+15 = 0x0F, -15 = 0x11), L from alpha.
    const std::vector<std::uint8_t> l = model::Bytes(l6.get());
    std::uint16_t first, second;
    std::memcpy(&first, &l[0], 2);
    std::memcpy(&second, &l[2], 2);
    EXPECT_EQ(first, 0x0F | 0x11 << 5 | 63 << 10);
    EXPECT_EQ(second, 0x11 | 0x0F << 5 | 0 << 10);
    // The most negative code reads like -127.
    ComPtr<IDirect3DTexture8> raw = textures_.Make(D3DFMT_V8U8, 2, 1);
    WriteBytes(raw.get(), {0x80, 0x80, 0x81, 0x81});
    const std::vector<std::uint32_t> back = model::ReadArgb(raw.get(), nullptr);
    EXPECT_EQ(back[0], back[1]);
    EXPECT_EQ(back[0], 0xFF000000u);
}

using Surface = PixelTest;

TEST_F(Surface, RectanglesCopyOnlyTheirPixels)
{
    const Image input = model::RandomImage(6, 5, 21);
    ComPtr<IDirect3DTexture8> src = textures_.FromImage(input);
    ComPtr<IDirect3DTexture8> dst = textures_.Make(D3DFMT_R5G6B5, 8, 8);
    const RECT from{1, 2, 4, 5}, to{5, 0, 8, 3};
    ASSERT_EQ(D3DXLoadSurfaceFromSurface(model::Level(dst.get()).get(), nullptr, &to, model::Level(src.get()).get(),
                                         nullptr, &from, D3DX_DEFAULT, 0),
              S_OK);
    const Image expected = model::Store(D3DFMT_R5G6B5, input, nullptr);
    const Image out = model::Read(dst.get(), nullptr);
    for (UINT y = 0; y < 8; ++y)
        for (UINT x = 0; x < 8; ++x) {
            const Rgba& o = out.at(x, y);
            if (x >= 5 && y < 3) {
                const Rgba& e = expected.at(x - 5 + 1, y + 2);
                EXPECT_TRUE(o.r == e.r && o.g == e.g && o.b == e.b) << x << "," << y;
            } else {
                EXPECT_TRUE(o.r == 0 && o.g == 0 && o.b == 0) << "outside the rectangle at " << x << "," << y;
            }
        }
}

TEST_F(Surface, ResamplingFilters)
{
    // 2x2 source: point enlarges each texel to 2x2, box shrinks by averaging,
    // linear and triangle keep a flat colour flat.
    const Image quad = OneRow({Bytes4(0, 0, 0, 255), Bytes4(200, 100, 40, 255)});
    ComPtr<IDirect3DTexture8> src = textures_.FromImage(quad);
    ComPtr<IDirect3DTexture8> big = textures_.Make(D3DFMT_A8R8G8B8, 4, 2);
    ASSERT_EQ(D3DXLoadSurfaceFromSurface(model::Level(big.get()).get(), nullptr, nullptr, model::Level(src.get()).get(),
                                         nullptr, nullptr, D3DX_FILTER_POINT, 0),
              S_OK);
    EXPECT_EQ(model::ReadArgb(big.get(), nullptr),
              (std::vector<std::uint32_t>{0xFF000000, 0xFF000000, 0xFFC86428, 0xFFC86428, 0xFF000000, 0xFF000000,
                                          0xFFC86428, 0xFFC86428}));
    ComPtr<IDirect3DTexture8> small = textures_.Make(D3DFMT_A8R8G8B8, 1, 1);
    ASSERT_EQ(D3DXLoadSurfaceFromSurface(model::Level(small.get()).get(), nullptr, nullptr, model::Level(src.get()).get(),
                                         nullptr, nullptr, D3DX_FILTER_BOX, 0),
              S_OK);
    EXPECT_EQ(model::ReadArgb(small.get(), nullptr), (std::vector<std::uint32_t>{0xFF643214}));

    Image flat{5, 3, std::vector<Rgba>(15, Bytes4(10, 20, 30, 40))};
    ComPtr<IDirect3DTexture8> flatSrc = textures_.FromImage(flat);
    for (DWORD filter : {D3DX_FILTER_LINEAR, D3DX_FILTER_TRIANGLE, D3DX_FILTER_BOX, D3DX_FILTER_POINT}) {
        for (auto [w, h] : {std::pair<UINT, UINT>{2, 7}, {11, 2}, {1, 1}}) {
            ComPtr<IDirect3DTexture8> out = textures_.Make(D3DFMT_A8R8G8B8, w, h);
            ASSERT_EQ(D3DXLoadSurfaceFromSurface(model::Level(out.get()).get(), nullptr, nullptr,
                                                 model::Level(flatSrc.get()).get(), nullptr, nullptr, filter, 0),
                      S_OK);
            for (std::uint32_t v : model::ReadArgb(out.get(), nullptr))
                EXPECT_EQ(v, 0x280A141Eu) << "filter " << filter << " to " << w << "x" << h;
        }
    }
}

TEST_F(Surface, ColourKeyMakesMatchingPixelsTransparentBlack)
{
    const Image colours = OneRow({Bytes4(255, 0, 255, 255), Bytes4(255, 0, 254, 255), Bytes4(255, 0, 255, 255)});
    ComPtr<IDirect3DTexture8> src = textures_.FromImage(colours);
    ComPtr<IDirect3DTexture8> dst = textures_.Make(D3DFMT_A8R8G8B8, 3, 1);
    ASSERT_EQ(D3DXLoadSurfaceFromSurface(model::Level(dst.get()).get(), nullptr, nullptr, model::Level(src.get()).get(),
                                         nullptr, nullptr, D3DX_FILTER_NONE, 0xFFFF00FF),
              S_OK);
    EXPECT_EQ(model::ReadArgb(dst.get(), nullptr), (std::vector<std::uint32_t>{0, 0xFFFF00FE, 0}));
}

TEST_F(Surface, BadCallsFailWithAReason)
{
    ComPtr<IDirect3DTexture8> a = textures_.Make(D3DFMT_A8R8G8B8, 4, 4), b = textures_.Make(D3DFMT_L8, 4, 4);
    ComPtr<IDirect3DSurface8> sa = model::Level(a.get()), sb = model::Level(b.get());
    const RECT outside{0, 0, 5, 4}, empty{2, 2, 2, 3};
    auto fails = [](HRESULT hr) {
        return FAILED(hr) && !D3DXGetLastErrorText().empty();
    };
    EXPECT_TRUE(fails(D3DXLoadSurfaceFromSurface(nullptr, nullptr, nullptr, sa.get(), nullptr, nullptr, D3DX_DEFAULT, 0)));
    EXPECT_TRUE(fails(D3DXLoadSurfaceFromSurface(sb.get(), nullptr, nullptr, sa.get(), nullptr, &outside, D3DX_DEFAULT, 0)));
    EXPECT_TRUE(fails(D3DXLoadSurfaceFromSurface(sb.get(), nullptr, &empty, sa.get(), nullptr, nullptr, D3DX_DEFAULT, 0)));
    EXPECT_TRUE(fails(D3DXLoadSurfaceFromSurface(sb.get(), nullptr, nullptr, sa.get(), nullptr, nullptr, 77, 0)));
    EXPECT_TRUE(fails(D3DXLoadSurfaceFromSurface(sa.get(), nullptr, nullptr, sa.get(), nullptr, nullptr, D3DX_DEFAULT, 0)));
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(sb->LockRect(&locked, nullptr, 0), S_OK);
    EXPECT_TRUE(fails(D3DXLoadSurfaceFromSurface(sb.get(), nullptr, nullptr, sa.get(), nullptr, nullptr, D3DX_DEFAULT, 0)));
    sb->UnlockRect();
    // A failed call leaves nothing locked behind.
    EXPECT_EQ(D3DXLoadSurfaceFromSurface(sb.get(), nullptr, nullptr, sa.get(), nullptr, nullptr, D3DX_DEFAULT, 0), S_OK);
    EXPECT_TRUE(D3DXGetLastErrorText().empty());
}
