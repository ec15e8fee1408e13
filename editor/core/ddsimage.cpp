#include "ddsimage.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

namespace atlasdesk {

namespace {

constexpr std::uint32_t kMagic = 0x20534444;  // "DDS "
constexpr int kMaxSide = 16384;

struct PixelFormat {
    std::uint32_t size, flags, fourCC, bitCount, rMask, gMask, bMask, aMask;
};
struct Header {
    std::uint32_t size, flags, height, width, pitchOrLinearSize, depth, mipMapCount, alphaBitDepth;
    std::uint32_t reserved, surface;
    std::uint32_t colorKeys[8];
    PixelFormat pf;
    std::uint32_t caps, caps2, caps3, caps4, textureStage;
};
static_assert(sizeof(PixelFormat) == 32);
static_assert(sizeof(Header) == 124);
static_assert(offsetof(Header, pf) == 72);
static_assert(offsetof(Header, mipMapCount) == 24);

std::uint32_t le32(const unsigned char* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

Header readHeader(const unsigned char* p)
{
    std::uint32_t words[sizeof(Header) / 4];
    for (size_t i = 0; i < std::size(words); ++i)
        words[i] = le32(p + 4 * i);
    return std::bit_cast<Header>(words);
}

constexpr std::uint32_t fourCC(char a, char b, char c, char d)
{
    return std::uint32_t(std::uint8_t(a)) | std::uint32_t(std::uint8_t(b)) << 8 |
           std::uint32_t(std::uint8_t(c)) << 16 | std::uint32_t(std::uint8_t(d)) << 24;
}

// Expands a masked channel to 8 bits; a zero mask gives `absent`.
int channel(std::uint32_t pixel, std::uint32_t mask, int absent)
{
    if (!mask)
        return absent;
    const int shift = std::countr_zero(mask);
    const std::uint32_t max = mask >> shift;
    return int(((pixel & mask) >> shift) * 255u / max);
}

QRgb rgb565(std::uint16_t c)
{
    return qRgb(channel(c, 0xF800, 0), channel(c, 0x07E0, 0), channel(c, 0x001F, 0));
}

void decodeColourBlock(const unsigned char* b, bool allowTransparent, QRgb out[16])
{
    const std::uint16_t c0 = std::uint16_t(b[0] | b[1] << 8);
    const std::uint16_t c1 = std::uint16_t(b[2] | b[3] << 8);
    QRgb pal[4];
    pal[0] = rgb565(c0);
    pal[1] = rgb565(c1);
    auto mix = [&](int w0, int w1, int d) {
        return qRgb((qRed(pal[0]) * w0 + qRed(pal[1]) * w1) / d, (qGreen(pal[0]) * w0 + qGreen(pal[1]) * w1) / d,
                    (qBlue(pal[0]) * w0 + qBlue(pal[1]) * w1) / d);
    };
    if (c0 > c1 || !allowTransparent) {
        pal[2] = mix(2, 1, 3);
        pal[3] = mix(1, 2, 3);
    } else {
        pal[2] = mix(1, 1, 2);
        pal[3] = qRgba(0, 0, 0, 0);
    }
    const std::uint32_t bits = le32(b + 4);
    for (int i = 0; i < 16; ++i)
        out[i] = pal[(bits >> (2 * i)) & 3];
}

void decodeAlphaInterpolated(const unsigned char* b, int out[16])
{
    int a[8];
    a[0] = b[0];
    a[1] = b[1];
    if (a[0] > a[1]) {
        for (int i = 1; i < 7; ++i)
            a[i + 1] = ((7 - i) * a[0] + i * a[1]) / 7;
    } else {
        for (int i = 1; i < 5; ++i)
            a[i + 1] = ((5 - i) * a[0] + i * a[1]) / 5;
        a[6] = 0;
        a[7] = 255;
    }
    std::uint64_t bits = 0;
    for (int i = 0; i < 6; ++i)
        bits |= std::uint64_t(b[2 + i]) << (8 * i);
    for (int i = 0; i < 16; ++i)
        out[i] = a[(bits >> (3 * i)) & 7];
}

QImage decodeBlockLevel(const unsigned char* data, int w, int h, int kind)
{
    QImage img(w, h, QImage::Format_ARGB32);
    const int bw = (w + 3) / 4, bh = (h + 3) / 4;
    const int blockBytes = kind == 1 ? 8 : 16;
    for (int by = 0; by < bh; ++by)
        for (int bx = 0; bx < bw; ++bx) {
            const unsigned char* b = data + (std::int64_t(by) * bw + bx) * blockBytes;
            QRgb px[16];
            int alpha[16];
            if (kind == 1) {
                decodeColourBlock(b, true, px);
                for (int i = 0; i < 16; ++i)
                    alpha[i] = qAlpha(px[i]);
            } else {
                decodeColourBlock(b + 8, false, px);
                if (kind == 3) {
                    for (int i = 0; i < 16; ++i)
                        alpha[i] = ((b[i / 2] >> (4 * (i & 1))) & 15) * 17;
                } else {
                    decodeAlphaInterpolated(b, alpha);
                }
            }
            for (int i = 0; i < 16; ++i) {
                const int x = bx * 4 + (i & 3), y = by * 4 + i / 4;
                if (x < w && y < h)
                    img.setPixel(x, y, qRgba(qRed(px[i]), qGreen(px[i]), qBlue(px[i]), alpha[i]));
            }
        }
    return img;
}

QImage decodeMaskedLevel(const unsigned char* data, int w, int h, int bytesPerPixel, const PixelFormat& pf)
{
    QImage img(w, h, QImage::Format_ARGB32);
    const bool luminance = (pf.flags & 0x20000) != 0;  // DDPF_LUMINANCE
    const bool alphaOnly = (pf.flags & 0x2) != 0;       // DDPF_ALPHA
    const bool hasAlpha = (pf.flags & 0x1) != 0;
    for (int y = 0; y < h; ++y) {
        const unsigned char* row = data + std::int64_t(y) * w * bytesPerPixel;
        for (int x = 0; x < w; ++x) {
            std::uint32_t p = 0;
            for (int k = 0; k < bytesPerPixel; ++k)
                p |= std::uint32_t(row[x * bytesPerPixel + k]) << (8 * k);
            const int a = hasAlpha || alphaOnly ? channel(p, pf.aMask, 255) : 255;
            if (alphaOnly) {
                img.setPixel(x, y, qRgba(a, a, a, 255));
            } else if (luminance) {
                const int l = channel(p, pf.rMask, 0);
                img.setPixel(x, y, qRgba(l, l, l, a));
            } else {
                img.setPixel(x, y, qRgba(channel(p, pf.rMask, 0), channel(p, pf.gMask, 0), channel(p, pf.bMask, 0), a));
            }
        }
    }
    return img;
}

QString maskedFormatName(const PixelFormat& pf)
{
    struct Known {
        std::uint32_t bits, r, g, b, a;
        const char* name;
    };
    static const Known known[] = {
        {32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, "A8R8G8B8"}, {32, 0xFF0000, 0xFF00, 0xFF, 0, "X8R8G8B8"},
        {24, 0xFF0000, 0xFF00, 0xFF, 0, "R8G8B8"},            {16, 0xF800, 0x7E0, 0x1F, 0, "R5G6B5"},
        {16, 0x7C00, 0x3E0, 0x1F, 0x8000, "A1R5G5B5"},        {16, 0x7C00, 0x3E0, 0x1F, 0, "X1R5G5B5"},
        {16, 0xF00, 0xF0, 0xF, 0xF000, "A4R4G4B4"},           {8, 0xFF, 0, 0, 0, "L8"},
        {16, 0xFF, 0, 0, 0xFF00, "A8L8"},                     {8, 0, 0, 0, 0xFF, "A8"},
    };
    const std::uint32_t a = (pf.flags & 0x3) ? pf.aMask : 0;
    for (const Known& k : known)
        if (k.bits == pf.bitCount && k.r == pf.rMask && k.g == pf.gMask && k.b == pf.bMask && k.a == a)
            return QString::fromLatin1(k.name);
    return QStringLiteral("%1-bit RGB").arg(pf.bitCount);
}

} // namespace

DdsPicture decodeDds(const QByteArray& file)
{
    DdsPicture pic;
    const auto* bytes = reinterpret_cast<const unsigned char*>(file.constData());
    const std::int64_t total = file.size();
    if (total < 4 + std::int64_t(sizeof(Header)) || le32(bytes) != kMagic) {
        pic.error = QStringLiteral("not a DDS file");
        return pic;
    }
    const Header h = readHeader(bytes + 4);
    if (h.size != sizeof(Header) || h.pf.size != sizeof(PixelFormat)) {
        pic.error = QStringLiteral("damaged DDS header");
        return pic;
    }
    if (h.width == 0 || h.height == 0 || h.width > kMaxSide || h.height > kMaxSide) {
        pic.error = QStringLiteral("unsupported size %1 x %2").arg(h.width).arg(h.height);
        return pic;
    }
    pic.width = int(h.width);
    pic.height = int(h.height);
    pic.levelCount = std::max(1, int(std::min<std::uint32_t>(h.mipMapCount, 32)));

    int blockKind = 0;  // 1: DXT1, 3: DXT2/3, 5: DXT4/5
    int bytesPerPixel = 0;
    if (h.pf.flags & 0x4) {
        const std::uint32_t cc = h.pf.fourCC;
        if (cc == fourCC('D', 'X', 'T', '1'))
            blockKind = 1;
        else if (cc == fourCC('D', 'X', 'T', '2') || cc == fourCC('D', 'X', 'T', '3'))
            blockKind = 3;
        else if (cc == fourCC('D', 'X', 'T', '4') || cc == fourCC('D', 'X', 'T', '5'))
            blockKind = 5;
        char code[5] = {char(cc), char(cc >> 8), char(cc >> 16), char(cc >> 24), 0};
        pic.format = QString::fromLatin1(code);
        if (!blockKind) {
            pic.error = QStringLiteral("the format %1 cannot be shown").arg(pic.format);
            return pic;
        }
    } else if (h.pf.bitCount == 8 || h.pf.bitCount == 16 || h.pf.bitCount == 24 || h.pf.bitCount == 32) {
        bytesPerPixel = int(h.pf.bitCount / 8);
        pic.format = maskedFormatName(h.pf);
    } else {
        pic.error = QStringLiteral("unknown pixel format");
        return pic;
    }

    std::int64_t offset = 4 + std::int64_t(sizeof(Header));
    for (int level = 0; level < pic.levelCount; ++level) {
        const int w = std::max(1, pic.width >> level), h2 = std::max(1, pic.height >> level);
        const std::int64_t size = blockKind ? std::int64_t((w + 3) / 4) * ((h2 + 3) / 4) * (blockKind == 1 ? 8 : 16)
                                            : std::int64_t(w) * h2 * bytesPerPixel;
        if (total - offset < size) {
            pic.error = QStringLiteral("the file ends inside level %1").arg(level);
            break;
        }
        pic.levels.push_back(blockKind ? decodeBlockLevel(bytes + offset, w, h2, blockKind)
                                       : decodeMaskedLevel(bytes + offset, w, h2, bytesPerPixel, h.pf));
        offset += size;
    }
    return pic;
}

} // namespace atlasdesk
