// The preview's DDS reader: every level decoded as the platform's codec
// decodes it, formats named, and damaged files refused at every length
// without a crash; the source's levels as the converter makes them, and
// the comparison of the two.
#include <QByteArray>
#include <QTemporaryDir>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

#include "editor/core/ddsimage.h"
#include "editor/core/imagecompare.h"
#include "platform/d3d8/formats.h"
#include "platform/d3dx8/dxt/dxt.h"

using atlasdesk::decodeDds;

namespace {

void put32(QByteArray& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.append(char(v >> (8 * i)));
}

struct Format {
    std::uint32_t flags, fourCC, bits, r, g, b, a;
};

QByteArray header(int w, int h, int levels, const Format& f)
{
    QByteArray d;
    put32(d, 0x20534444);
    // caps, height, width, pixel format and mip count (0x21007) are given
    const std::uint32_t words[31] = {124, 0x21007, std::uint32_t(h), std::uint32_t(w), 0, 0, std::uint32_t(levels),
                                     0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, f.flags, f.fourCC, f.bits, f.r, f.g,
                                     f.b, f.a, 0x1000, 0, 0, 0, 0};
    for (std::uint32_t v : words)
        put32(d, v);
    return d;
}

const Format kArgb = {0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000};
const Format kDxt1 = {0x4, D3DFMT_DXT1, 0, 0, 0, 0, 0};
const Format kDxt5 = {0x4, D3DFMT_DXT5, 0, 0, 0, 0, 0};

} // namespace

// A P8 file shows its own palette's colours (index 1 here: red).
TEST(DdsPreview, PalettisedFileShowsItsPalette)
{
    QByteArray d = header(4, 4, 1, {0x20, 0, 8, 0, 0, 0, 0});
    put32(d, 0), put32(d, 0xFF0000FF);  // entries 0 and 1: red, green, blue, flags
    d.append(QByteArray(254 * 4, 0)).append(QByteArray(16, 1));
    const auto pic = decodeDds(d);
    ASSERT_EQ(pic.levels.size(), 1u) << pic.error.toStdString();
    EXPECT_EQ(pic.levels[0].pixel(3, 3), qRgba(255, 0, 0, 255));
}

TEST(DdsPreview, ArgbLevelsDecodeWithTheirSizes)
{
    QByteArray d = header(8, 4, 4, kArgb);
    const std::uint32_t colours[] = {0x80FF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF};
    for (int level = 0; level < 4; ++level) {
        const int w = std::max(1, 8 >> level), h = std::max(1, 4 >> level);
        for (int i = 0; i < w * h; ++i)
            put32(d, colours[level]);
    }
    const auto pic = decodeDds(d);
    EXPECT_TRUE(pic.error.isEmpty()) << pic.error.toStdString();
    EXPECT_EQ(pic.format, QStringLiteral("A8R8G8B8"));
    EXPECT_EQ(pic.levelCount, 4);
    ASSERT_EQ(pic.levels.size(), 4u);
    EXPECT_EQ(pic.levels[1].size(), QSize(4, 2));
    EXPECT_EQ(pic.levels[3].size(), QSize(1, 1));
    EXPECT_EQ(pic.levels[0].pixel(3, 2), 0x80FF0000u);
    EXPECT_EQ(pic.levels[2].pixel(0, 0), 0xFF0000FFu);
}

// One block decodes to the codec's texels for the same bytes: its rounding,
// and straight colour from DXT2 and DXT4.  0x8410 expands to 132,130,132;
// under alpha 136 that premultiplied colour is 248,244,248.
TEST(DdsPreview, BlocksShowWhatTheCodecDecodes)
{
    const struct {
        D3DFORMAT format;
        std::vector<std::uint32_t> block;
        int texel;
        QRgb expected;
    } cases[] = {
        {D3DFMT_DXT1, {0x001FF800, 0b11100100}, 2, qRgb(170, 0, 85)},  // red, blue, thirds
        {D3DFMT_DXT1, {0xF800001F, 0xFFFFFFFF}, 15, qRgba(0, 0, 0, 0)},  // 3-colour: transparent
        {D3DFMT_DXT1, {0x00008410, 0}, 0, qRgb(132, 130, 132)},
        {D3DFMT_DXT2, {0x88888888, 0x88888888, 0x00008410, 0}, 5, qRgba(248, 244, 248, 136)},
        {D3DFMT_DXT4, {0x00000088, 0, 0x00008410, 0}, 5, qRgba(248, 244, 248, 136)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        QByteArray d = header(4, 4, 1, {0x4, std::uint32_t(c.format), 0, 0, 0, 0, 0});
        for (std::uint32_t word : c.block)
            put32(d, word);
        const auto pic = decodeDds(d);
        ASSERT_EQ(pic.levels.size(), 1u) << pic.error.toStdString();
        EXPECT_EQ(pic.format, QLatin1StringView(D3DFormatInfo(c.format)->name + 7));
        std::uint8_t t[64];
        dxt::DecodeBlock(c.format, reinterpret_cast<const std::uint8_t*>(d.constData()) + 128, t);
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(pic.levels[0].pixel(i % 4, i / 4), qRgba(t[4 * i], t[4 * i + 1], t[4 * i + 2], t[4 * i + 3]));
        EXPECT_EQ(pic.levels[0].pixel(c.texel % 4, c.texel / 4), c.expected);
    }
}

TEST(DdsPreview, Dxt5AlphaAndSmallLevels)
{
    QByteArray d = header(2, 2, 2, kDxt5);
    for (int level = 0; level < 2; ++level) {
        d.append(char(200));
        d.append(char(100));
        d.append(6, char(0));  // every index 0: alpha 200
        put32(d, 0x0000FFFF);
        put32(d, 0);
    }
    const auto pic = decodeDds(d);
    ASSERT_EQ(pic.levels.size(), 2u);
    EXPECT_EQ(pic.levels[0].size(), QSize(2, 2));
    EXPECT_EQ(pic.levels[0].pixel(1, 1), qRgba(255, 255, 255, 200));
}

TEST(DdsPreview, DamagedFilesAreRefusedAtEveryLength)
{
    QByteArray d = header(16, 16, 5, kDxt1);
    for (int level = 0; level < 5; ++level)
        for (int b = 0; b < std::max(1, (16 >> level) / 4) * std::max(1, (16 >> level) / 4); ++b) {
            put32(d, 0x1234ABCD);
            put32(d, 0x55AA55AA);
        }
    ASSERT_EQ(decodeDds(d).levels.size(), 5u);
    for (qsizetype n = 0; n < d.size(); ++n) {
        const auto pic = decodeDds(d.left(n));
        EXPECT_FALSE(pic.error.isEmpty()) << n;
        EXPECT_LT(pic.levels.size(), 5u);
    }
    QByteArray huge = header(1 << 20, 4, 1, kArgb);
    EXPECT_FALSE(decodeDds(huge).error.isEmpty());
    QByteArray badSize = header(4, 4, 1, kArgb);
    badSize[4] = 100;
    EXPECT_FALSE(decodeDds(badSize).error.isEmpty());
    QByteArray odd = header(4, 4, 1, {0x4, 0x12345678, 0, 0, 0, 0, 0});
    EXPECT_FALSE(decodeDds(odd).error.isEmpty());
}

// The source's levels come from the converter's loader: the picture itself,
// then 2x2 box averages, as many as asked; a missing file gives the
// loader's own message.
TEST(SourceLevels, TheConverterLoadsAndFiltersTheSource)
{
    QTemporaryDir dir;
    QImage image(8, 4, QImage::Format_ARGB32);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x)
            image.setPixel(x, y, qRgba(x * 32, y * 64, 200, x < 4 ? 255 : 100));
    const QString png = dir.filePath("s.png");
    ASSERT_TRUE(image.save(png));
    const struct {
        const char* mips;
        size_t levels;
    } cases[] = {{"Maximum", 4}, {"0", 4}, {"2", 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mips);
        const auto pic = atlasdesk::loadSourceLevels(png, c.mips);
        ASSERT_EQ(pic.levels.size(), c.levels) << pic.error.toStdString();
        EXPECT_EQ(pic.format, QStringLiteral("A8R8G8B8"));
        EXPECT_EQ(pic.levels[0], image);
        EXPECT_EQ(pic.levels[1].size(), QSize(4, 2));
        EXPECT_EQ(pic.levels[1].pixel(0, 0), qRgba(16, 32, 200, 255));
    }
    const auto missing = atlasdesk::loadSourceLevels(dir.filePath("none.png"), "Maximum");
    EXPECT_TRUE(missing.levels.empty());
    EXPECT_TRUE(missing.error.contains("not found")) << missing.error.toStdString();
}

// PSNR over R, G and B together and over A; "inf" for equal channels, and
// no comparison of levels of different sizes.
TEST(LevelQuality, PsnrOverColourAndOverAlpha)
{
    const auto filled = [](int side, QRgb c) {
        QImage i(side, side, QImage::Format_ARGB32);
        i.fill(c);
        return i;
    };
    const QImage base = filled(4, qRgba(100, 150, 200, 255));
    QImage oneTexel = base;
    oneTexel.setPixel(2, 1, qRgba(116, 150, 200, 255));
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        QImage other;
        bool compared;
        double rgb, alpha;
    } cases[] = {
        {base, true, inf, inf},
        {filled(4, qRgba(100, 150, 203, 255)), true, 10 * std::log10(65025.0 / 3), inf},  // MSE 9/3
        {filled(4, qRgba(100, 150, 200, 0)), true, inf, 0},                             // MSE 255^2
        {oneTexel, true, 10 * std::log10(65025.0 * 48 / 256), inf},                         // 16^2 in 48
        {filled(2, qRgba(100, 150, 200, 255)), false, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        const auto q = atlasdesk::compareLevels(c.other, base);
        EXPECT_EQ(q.compared, c.compared);
        EXPECT_DOUBLE_EQ(q.rgb, c.rgb);
        EXPECT_DOUBLE_EQ(q.alpha, c.alpha);
    }
    EXPECT_EQ(atlasdesk::psnrText(inf), QStringLiteral("inf"));
    EXPECT_EQ(atlasdesk::psnrText(10 * std::log10(65025.0 / 3)), QStringLiteral("43.36 dB"));
}
