// BMP reader: 1, 4 and 8-bit palettised (RLE4, RLE8), 16-bit (555 and
// bit-field masks), 24 and 32-bit, bottom-up and top-down, with the OS/2
// core header, the 40-byte header and the V2..V5 extensions.
#include "imagefile.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace d3dx::image {

namespace {

constexpr std::size_t kFileHeaderBytes = 14;

enum : std::uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kAlphaBitFields = 6 };

struct Masks {
    std::uint32_t r, g, b, a;
};

bool ValidMask(std::uint32_t m, unsigned bits)
{
    if (m == 0)
        return true;
    if (bits < 32 && (m >> bits) != 0)
        return false;
    const std::uint32_t low = m >> std::countr_zero(m);
    return (low & (low + 1)) == 0;  // contiguous
}

BYTE Channel(std::uint32_t px, std::uint32_t mask, BYTE missing)
{
    if (mask == 0)
        return missing;
    const unsigned shift = static_cast<unsigned>(std::countr_zero(mask));
    return ScaleTo8((px & mask) >> shift, mask >> shift);
}

// Run-length data into one index per pixel; rows count from the bottom.
HRESULT DecodeRle(Bytes src, bool four, UINT width, UINT height, std::vector<BYTE>& pixels)
{
    std::size_t p = 0;
    std::uint64_t x = 0, y = 0;
    auto put = [&](BYTE index) {
        if (x < width && y < height)
            pixels[(height - 1 - y) * std::size_t{width} + x] = index;
        ++x;
    };
    while (p + 2 <= src.size()) {
        const BYTE n = src[p], c = src[p + 1];
        p += 2;
        if (n > 0) {
            if (x + n > width || y >= height)
                return Bad("BMP run-length data runs past row %llu", static_cast<unsigned long long>(y));
            for (unsigned i = 0; i < n; ++i)
                put(four ? static_cast<BYTE>(i % 2 ? c & 15 : c >> 4) : c);
            continue;
        }
        if (c == 0) {
            x = 0;
            ++y;
        } else if (c == 1) {
            return S_OK;
        } else if (c == 2) {
            if (p + 2 > src.size())
                break;
            x += src[p];
            y += src[p + 1];
            p += 2;
            if (x > width || y > height)
                return Bad("BMP run-length delta leaves the picture");
        } else {
            const std::size_t bytes = four ? (c + 1u) / 2 : c;
            const std::size_t padded = (bytes + 1) & ~std::size_t{1};
            if (p + padded > src.size())
                break;
            if (x + c > width || y >= height)
                return Bad("BMP run-length data runs past row %llu", static_cast<unsigned long long>(y));
            for (unsigned i = 0; i < c; ++i)
                put(four ? static_cast<BYTE>(i % 2 ? src[p + i / 2] & 15 : src[p + i / 2] >> 4) : src[p + i]);
            p += padded;
        }
    }
    return Bad("BMP run-length data is cut short before its end mark");
}

} // namespace

bool LooksLikeBmp(Bytes data) { return data.size() >= 2 && data[0] == 'B' && data[1] == 'M'; }

HRESULT DecodeBmp(Bytes data, Picture& out)
{
    out.fileFormat = D3DXIFF_BMP;
    const std::size_t size = data.size();
    if (size < kFileHeaderBytes + 4)
        return Bad("BMP file is cut short: %zu bytes, no header", size);
    const BYTE* d = data.data();
    const std::uint32_t offBits = LoadU32(d + 10);
    const std::uint32_t headerSize = LoadU32(d + 14);
    if (headerSize != 12 && headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 64 &&
        headerSize != 108 && headerSize != 124)
        return Bad("BMP information header of %u bytes is not a known kind", headerSize);
    if (kFileHeaderBytes + headerSize > size)
        return Bad("BMP file is cut short inside its %u-byte information header", headerSize);

    const BYTE* h = d + kFileHeaderBytes;
    std::int64_t width, height;
    unsigned planes, bits;
    std::uint32_t compression = kRgb, colorsUsed = 0;
    if (headerSize == 12) {
        width = LoadU16(h + 4);
        height = LoadU16(h + 6);
        planes = LoadU16(h + 8);
        bits = LoadU16(h + 10);
    } else {
        width = static_cast<std::int32_t>(LoadU32(h + 4));
        height = static_cast<std::int32_t>(LoadU32(h + 8));
        planes = LoadU16(h + 12);
        bits = LoadU16(h + 14);
        compression = LoadU32(h + 16);
        colorsUsed = LoadU32(h + 32);
    }
    const bool topDown = height < 0;
    if (topDown)
        height = -height;
    if (!CheckSides("BMP", width, height))
        return D3DXERR_INVALIDDATA;
    if (planes != 1)
        return Bad("BMP header gives %u planes", planes);
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return Bad("BMP of %u bits per pixel is not readable", bits);
    const bool rle = compression == kRle8 || compression == kRle4;
    const bool fields = compression == kBitFields || compression == kAlphaBitFields;
    if (!(compression == kRgb || (compression == kRle8 && bits == 8) || (compression == kRle4 && bits == 4) ||
          (fields && (bits == 16 || bits == 32))) ||
        (headerSize == 64 && compression > kRle4))
        return Bad("BMP compression %u does not go with %u bits per pixel", compression, bits);
    if (rle && topDown)
        return Bad("BMP run-length data cannot be stored top-down");

    // Masks live inside the V2+ headers, or follow the 40-byte header.
    std::size_t paletteStart = kFileHeaderBytes + headerSize;
    Masks m = bits == 16 ? Masks{0x7C00, 0x3E0, 0x1F, 0} : Masks{0xFF0000, 0xFF00, 0xFF, 0};
    if (fields) {
        const BYTE* mp = h + 40;
        const std::size_t count = compression == kAlphaBitFields ? 4 : 3;
        if (headerSize == 40) {
            if (paletteStart + 4 * count > size)
                return Bad("BMP file is cut short inside its colour masks");
            mp = d + paletteStart;
            paletteStart += 4 * count;
        }
        m = {LoadU32(mp), LoadU32(mp + 4), LoadU32(mp + 8), 0};
        if (count == 4 || headerSize >= 56)
            m.a = LoadU32(mp + 12);
        if (!ValidMask(m.r, bits) || !ValidMask(m.g, bits) || !ValidMask(m.b, bits) || !ValidMask(m.a, bits) ||
            (m.r & m.g) || (m.r & m.b) || (m.g & m.b) || ((m.r | m.g | m.b) & m.a) || (m.r | m.g | m.b) == 0)
            return Bad("BMP colour masks %08X %08X %08X %08X are not usable", m.r, m.g, m.b, m.a);
    }

    if (bits <= 8) {
        const std::uint32_t most = 1u << bits;
        std::uint32_t count = colorsUsed ? colorsUsed : most;
        // The core header has no entry count: the palette fills the gap
        // up to the pixel data.
        if (headerSize == 12 && offBits > paletteStart)
            count = static_cast<std::uint32_t>(std::min<std::uint64_t>(most, (offBits - paletteStart) / 3));
        if (count > most)
            return Bad("BMP palette of %u entries is too long for %u bits per pixel", count, bits);
        const std::size_t entry = headerSize == 12 ? 3 : 4;
        if (paletteStart + std::uint64_t{count} * entry > size)
            return Bad("BMP file is cut short inside its palette of %u entries", count);
        for (std::uint32_t i = 0; i < count; ++i) {
            const BYTE* e = d + paletteStart + i * entry;
            out.palette[i] = {e[2], e[1], e[0], 255};
        }
    }
    if (offBits < kFileHeaderBytes + headerSize || offBits > size)
        return Bad("BMP pixel data offset %u lies outside the file of %zu bytes", offBits, size);

    const UINT w = static_cast<UINT>(width), ht = static_cast<UINT>(height);
    const Bytes src = data.subspan(offBits);
    if (rle) {
        std::vector<BYTE>& pixels = out.AllocateTop(D3DFMT_P8, w, ht);
        return DecodeRle(src, compression == kRle4, w, ht, pixels);
    }

    const std::uint64_t rowBytes = (std::uint64_t{w} * bits + 31) / 32 * 4;
    const std::uint64_t need = rowBytes * ht;
    if (need > src.size())
        return Bad("BMP file is cut short: %llu bytes of pixel data missing",
                   static_cast<unsigned long long>(need - src.size()));

    D3DFORMAT format;
    if (bits <= 8)
        format = D3DFMT_P8;
    else if (bits == 16 && m.r == 0x7C00 && m.g == 0x3E0 && m.b == 0x1F && (m.a == 0 || m.a == 0x8000))
        format = m.a ? D3DFMT_A1R5G5B5 : D3DFMT_X1R5G5B5;
    else if (bits == 16 && m.r == 0xF800 && m.g == 0x7E0 && m.b == 0x1F && m.a == 0)
        format = D3DFMT_R5G6B5;
    else if (bits == 16 && m.r == 0xF00 && m.g == 0xF0 && m.b == 0xF && m.a == 0xF000)
        format = D3DFMT_A4R4G4B4;
    else if (bits == 24)
        format = D3DFMT_X8R8G8B8;
    else
        format = (bits == 32 || m.a) ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;

    std::vector<BYTE>& pixels = out.AllocateTop(format, w, ht);
    const std::size_t outRow = TightLevelOf(format, w, ht, 0).rowBytes;
    // A 32-bit BMP without masks whose fourth bytes are all zero holds no
    // alpha; it reads opaque rather than invisible.
    bool anyAlpha = false;
    for (UINT y = 0; y < ht; ++y) {
        const BYTE* s = src.data() + (topDown ? y : ht - 1 - y) * rowBytes;
        BYTE* o = pixels.data() + y * outRow;
        if (bits <= 8) {
            for (UINT x = 0; x < w; ++x) {
                const unsigned bit = x * bits;
                o[x] = static_cast<BYTE>((s[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1));
            }
        } else if (format == D3DFMT_X1R5G5B5 || format == D3DFMT_A1R5G5B5 || format == D3DFMT_R5G6B5 ||
                   format == D3DFMT_A4R4G4B4) {
            std::memcpy(o, s, std::size_t{w} * 2);
            if (format == D3DFMT_X1R5G5B5)
                for (UINT x = 0; x < w; ++x)
                    o[2 * x + 1] &= 0x7F;
        } else if (bits == 24) {
            for (UINT x = 0; x < w; ++x)
                StoreU32(o + 4 * x, 0xFF000000u | LoadU24(s + 3 * x));
        } else {
            for (UINT x = 0; x < w; ++x) {
                const std::uint32_t px = bits == 16 ? LoadU16(s + 2 * x) : LoadU32(s + 4 * x);
                const BYTE a = compression == kRgb ? static_cast<BYTE>(px >> 24) : Channel(px, m.a, 255);
                anyAlpha |= a != 0;
                StoreU32(o + 4 * x, (std::uint32_t{a} << 24) | (Channel(px, m.r, 0) << 16) |
                                        (Channel(px, m.g, 0) << 8) | Channel(px, m.b, 0));
            }
        }
    }
    if (bits == 32 && compression == kRgb && !anyAlpha)
        for (std::size_t i = 3; i < pixels.size(); i += 4)
            pixels[i] = 255;
    return S_OK;
}

} // namespace d3dx::image
