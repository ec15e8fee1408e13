// The direct reader of plain PNG pictures against libpng: whatever file
// either reads, the result (pixels, format, or refusal and its message) is
// libpng's.
#include "platform/d3dx8/image/png_read.h"
#include "tests/support/testutil.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using d3dx::image::Bytes;
using d3dx::image::Picture;
using Buffer = std::vector<std::uint8_t>;

void PutBe32(Buffer& out, std::uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

using testutil::AppendPngChunk;

Buffer Deflate(const Buffer& raw, int windowBits = 15)
{
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    Buffer out(deflateBound(&z, raw.size()) + 64);
    z.next_in = const_cast<Bytef*>(raw.data());
    z.avail_in = static_cast<uInt>(raw.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// A PNG built chunk by chunk, so that every part of it can be set or
// spoilt on purpose.  Rows are filtered by the given filter types in turn.
struct PngBuild {
    int width = 13, height = 9, channels = 3;
    std::vector<int> filters = {0, 1, 2, 3, 4};
    int windowBits = 15;
    std::size_t idatPiece = 0;   // split the image data into pieces this long
    bool textBetweenIdat = false;
    bool idatAfterText = false;
    Buffer extraStream;          // bytes after the zlib stream, inside IDAT
    int rowsShort = 0;           // rows left out of the stream
    int badFilterRow = -1;       // a row whose filter type is 5
    bool withTrns = false, withGamma = false, withPalette = false, end = true;
    std::uint32_t seed = 1;

    Buffer Pixels() const
    {
        std::mt19937 rng(seed);
        Buffer pixels(std::size_t(width) * height * channels);
        // Smooth ramps with noise, so that every predictor gets used.
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < channels; ++c)
                    pixels[(std::size_t(y) * width + x) * channels + c] =
                        static_cast<std::uint8_t>(x * (7 + c) + y * (3 + 2 * c) + rng() % 24);
        return pixels;
    }

    Buffer Filtered(const Buffer& pixels) const
    {
        const std::size_t bytes = std::size_t(width) * channels;
        Buffer raw;
        Buffer zero(bytes);
        for (int y = 0; y < height - rowsShort; ++y) {
            const std::uint8_t* row = &pixels[y * bytes];
            const std::uint8_t* above = y ? &pixels[(y - 1) * bytes] : zero.data();
            const int f = y == badFilterRow ? 5 : filters[static_cast<std::size_t>(y) % filters.size()];
            raw.push_back(static_cast<std::uint8_t>(f));
            for (std::size_t i = 0; i < bytes; ++i) {
                const int a = i >= std::size_t(channels) ? row[i - channels] : 0, b = above[i];
                const int c = i >= std::size_t(channels) ? above[i - channels] : 0;
                int predicted = 0;
                if (f == 1)
                    predicted = a;
                else if (f == 2)
                    predicted = b;
                else if (f == 3)
                    predicted = (a + b) / 2;
                else if (f == 4) {
                    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
                    predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
                }
                raw.push_back(static_cast<std::uint8_t>(row[i] - predicted));
            }
        }
        return raw;
    }

    Buffer Make() const
    {
        Buffer png = {137, 'P', 'N', 'G', 13, 10, 26, 10};
        Buffer header;
        PutBe32(header, static_cast<std::uint32_t>(width));
        PutBe32(header, static_cast<std::uint32_t>(height));
        header.insert(header.end(), {8, static_cast<std::uint8_t>(channels == 4 ? 6 : 2), 0, 0, 0});
        AppendPngChunk(png, "IHDR", header);
        if (withGamma)
            AppendPngChunk(png, "gAMA", {0, 0, 0xB1, 0x8F});
        if (withPalette)
            AppendPngChunk(png, "PLTE", {1, 2, 3, 4, 5, 6});
        if (withTrns)
            AppendPngChunk(png, "tRNS", {0, 1, 0, 2, 0, 3});
        Buffer stream = Deflate(Filtered(Pixels()), windowBits);
        stream.insert(stream.end(), extraStream.begin(), extraStream.end());
        const std::size_t piece = idatPiece ? idatPiece : stream.size();
        for (std::size_t at = 0; at < stream.size(); at += piece) {
            const std::size_t end = std::min(stream.size(), at + piece);
            AppendPngChunk(png, "IDAT", Buffer(stream.begin() + at, stream.begin() + end));
            if (textBetweenIdat && at == 0)
                AppendPngChunk(png, "tEXt", {'k', 0, 'v'});
        }
        if (idatAfterText) {
            AppendPngChunk(png, "tEXt", {'k', 0, 'v'});
            AppendPngChunk(png, "IDAT", {});
        }
        if (end)
            AppendPngChunk(png, "IEND", {});
        return png;
    }
};

// B, G, R, A as the 32-bit formats hold them.
Buffer ExpectedBgra(const PngBuild& b)
{
    const Buffer pixels = b.Pixels();
    Buffer out;
    for (std::size_t i = 0; i < pixels.size(); i += b.channels)
        out.insert(out.end(), {pixels[i + 2], pixels[i + 1], pixels[i], b.channels == 4 ? pixels[i + 3] : std::uint8_t{255}});
    return out;
}

struct Outcome {
    HRESULT hr = E_FAIL;
    std::string error;
    Picture picture;
};

Outcome WithLibpng(const Buffer& png)
{
    Outcome o;
    o.hr = d3dx::image::DecodePngWithLibpng(Bytes(png), o.picture);
    o.error = SUCCEEDED(o.hr) ? "" : D3DXGetLastErrorText();
    return o;
}

// DecodePng, whichever way it goes, ends where libpng alone does.
void ExpectLibpngOutcome(const Buffer& png, const std::string& what)
{
    Outcome mixed;
    mixed.hr = d3dx::image::DecodePng(Bytes(png), mixed.picture);
    mixed.error = SUCCEEDED(mixed.hr) ? "" : D3DXGetLastErrorText();
    const Outcome reference = WithLibpng(png);
    ASSERT_EQ(mixed.hr, reference.hr) << what << ": " << reference.error;
    EXPECT_EQ(mixed.error, reference.error) << what;
    EXPECT_EQ(mixed.picture.format, reference.picture.format) << what;
    EXPECT_EQ(mixed.picture.width, reference.picture.width) << what;
    EXPECT_EQ(mixed.picture.height, reference.picture.height) << what;
    EXPECT_TRUE(mixed.picture.levels == reference.picture.levels) << what;
}

bool Plain(const Buffer& png)
{
    Picture p;
    return d3dx::image::DecodePlainPng(Bytes(png), p);
}

TEST(PlainPng, ReadsEveryFilterLayoutAndSizeAsLibpngDoes)
{
    for (int channels : {3, 4})
        for (const auto& filters : std::vector<std::vector<int>>{{0}, {1}, {2}, {3}, {4}, {4, 3, 2, 1, 0}})
            for (const auto& [w, h] : std::vector<std::pair<int, int>>{{1, 1}, {1, 7}, {7, 1}, {13, 9}, {64, 5}}) {
                PngBuild b;
                b.width = w, b.height = h, b.channels = channels, b.filters = filters;
                b.seed = static_cast<std::uint32_t>(w * 31 + h);
                const Buffer png = b.Make();
                const std::string what = std::to_string(channels) + " channels, " + std::to_string(w) + "x" +
                                         std::to_string(h) + ", first filter " + std::to_string(filters[0]);
                Picture p;
                ASSERT_TRUE(d3dx::image::DecodePlainPng(Bytes(png), p)) << what;
                EXPECT_EQ(p.format, channels == 4 ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8) << what;
                ASSERT_EQ(p.levels.size(), 1u);
                EXPECT_TRUE(p.levels[0] == ExpectedBgra(b)) << what;
                ExpectLibpngOutcome(png, what);
            }
}

TEST(PlainPng, TakesSplitImageDataAndHarmlessChunks)
{
    PngBuild b;
    b.width = 40, b.height = 30;
    b.idatPiece = 7;
    b.withGamma = true;
    b.withPalette = true;  // a suggested palette for a colour picture
    const Buffer png = b.Make();
    EXPECT_TRUE(Plain(png));
    ExpectLibpngOutcome(png, "split IDAT with gAMA and PLTE");
}

// Each of these is left to libpng, which reads or refuses it; either way
// the outcome is libpng's.
TEST(PlainPng, LeavesUnusualAndDamagedFilesToLibpng)
{
    struct Case {
        const char* what;
        void (*spoil)(PngBuild&);
    };
    const Case cases[] = {
        {"colour key", [](PngBuild& b) { b.withTrns = true; }},
        {"small zlib window", [](PngBuild& b) { b.windowBits = 9; }},
        {"unknown filter type", [](PngBuild& b) { b.badFilterRow = 3; }},
        {"rows missing", [](PngBuild& b) { b.rowsShort = 2; }},
        {"bytes after the stream", [](PngBuild& b) { b.extraStream = {1, 2, 3}; }},
        {"image data split by text", [](PngBuild& b) { b.idatPiece = 20, b.textBetweenIdat = true; }},
        {"image data after text", [](PngBuild& b) { b.idatAfterText = true; }},
        {"no end chunk", [](PngBuild& b) { b.end = false; }},
    };
    for (const Case& c : cases) {
        PngBuild b;
        b.width = 24, b.height = 16;
        c.spoil(b);
        const Buffer png = b.Make();
        EXPECT_FALSE(Plain(png)) << c.what;
        ExpectLibpngOutcome(png, c.what);
    }
}

// Every byte of a file changed in turn, with the chunk's CRC made right
// again so that the damage reaches the chunk's contents: whenever the
// direct reader accepts, libpng reads the same picture.
TEST(PlainPng, NeverAcceptsWhatLibpngReadsOtherwise)
{
    PngBuild b;
    b.width = 9, b.height = 6, b.channels = 4, b.withGamma = true;
    const Buffer good = b.Make();
    int accepted = 0;
    for (std::size_t at = 8; at < good.size(); ++at)
        for (std::uint8_t flip : {0x01, 0x80, 0xFF}) {
            Buffer png = good;
            png[at] ^= flip;
            // Find the chunk holding `at` and mend its CRC.
            for (std::size_t chunk = 8; chunk + 12 <= png.size();) {
                const std::uint32_t length = std::uint32_t(good[chunk]) << 24 | std::uint32_t(good[chunk + 1]) << 16 |
                                             std::uint32_t(good[chunk + 2]) << 8 | good[chunk + 3];
                const std::size_t next = chunk + 12 + length;
                if (at >= chunk + 4 && at < chunk + 8 + length) {
                    const std::uint32_t crc = testutil::PngCrc(&png[chunk + 4], length + 4);
                    for (int i = 0; i < 4; ++i)
                        png[chunk + 8 + length + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
                }
                chunk = next;
            }
            accepted += Plain(png);
            ExpectLibpngOutcome(png, "byte " + std::to_string(at) + " ^ " + std::to_string(flip));
        }
    EXPECT_GT(accepted, 0);  // some changes (in gAMA, say) are harmless
    for (std::size_t size = 0; size < good.size(); ++size) {
        const Buffer cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_FALSE(Plain(cut)) << size;
        ExpectLibpngOutcome(cut, "cut at " + std::to_string(size));
    }
}

} // namespace
