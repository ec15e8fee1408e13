// BMP reader: 1, 4 and 8-bit palettised (RLE4, RLE8), 16-bit (555 and
// bit-field masks), 24 and 32-bit, bottom-up and top-down, with the OS/2
// core header, the 40-byte header and the V2..V5 extensions.
#include "platform/d3dx8/bmp_format.h"
#include "platform/d3dx8/image/imagefile.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <initializer_list>

namespace d3dx::image {

namespace {

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

// What the headers say, checked against each other and the file's size.
struct BmpLayout {
    BmpFileHeader file;
    BmpInfoHeader info;  // a core header's fields widened into it
    std::int64_t width, height;
    bool topDown;
    bool rle, fields;
    Masks masks;
    std::size_t paletteStart;  // past the information header and any masks
};

bool KnownHeaderSize(DWORD size)
{
    for (DWORD known : {BMP_CORE_HEADER_SIZE, BMP_INFO_HEADER_SIZE, BMP_V2_HEADER_SIZE, BMP_V3_HEADER_SIZE,
                        BMP_OS2_V2_HEADER_SIZE, BMP_V4_HEADER_SIZE, BMP_V5_HEADER_SIZE})
        if (size == known)
            return true;
    return false;
}

HRESULT ReadHeaders(Bytes data, BmpLayout& l)
{
    const std::size_t size = data.size();
    if (size < sizeof(BmpFileHeader) + sizeof(DWORD))
        return Bad("BMP file is cut short: %zu bytes, no header", size);
    const BYTE* h = data.data() + sizeof(BmpFileHeader);
    l.file = BmpFileHeader::FromBytes(data.data());
    const DWORD headerSize = LoadU32(h);
    if (!KnownHeaderSize(headerSize))
        return Bad("BMP information header of %u bytes is not a known kind", headerSize);
    if (sizeof(BmpFileHeader) + headerSize > size)
        return Bad("BMP file is cut short inside its %u-byte information header", headerSize);
    l.info = headerSize == BMP_CORE_HEADER_SIZE ? BmpInfoHeader::FromCore(BmpCoreHeader::FromBytes(h))
                                                : BmpInfoHeader::FromBytes(h);
    l.width = l.info.biWidth;
    l.height = l.info.biHeight;
    l.topDown = l.height < 0;
    if (l.topDown)
        l.height = -l.height;
    l.paletteStart = sizeof(BmpFileHeader) + headerSize;
    if (!CheckSides("BMP", l.width, l.height))
        return D3DXERR_INVALIDDATA;
    const unsigned planes = l.info.biPlanes, bits = l.info.biBitCount;
    const DWORD compression = l.info.biCompression;
    if (planes != 1)
        return Bad("BMP header gives %u planes", planes);
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return Bad("BMP of %u bits per pixel is not readable", bits);
    l.rle = compression == BI_RLE8 || compression == BI_RLE4;
    l.fields = compression == BI_BITFIELDS || compression == BI_ALPHABITFIELDS;
    if (!(compression == BI_RGB || (compression == BI_RLE8 && bits == 8) || (compression == BI_RLE4 && bits == 4) ||
          (l.fields && (bits == 16 || bits == 32))) ||
        (headerSize == BMP_OS2_V2_HEADER_SIZE && compression > BI_RLE4))
        return Bad("BMP compression %u does not go with %u bits per pixel", compression, bits);
    if (l.rle && l.topDown)
        return Bad("BMP run-length data cannot be stored top-down");
    return S_OK;
}

// Masks live inside the V2+ headers, or follow the 40-byte header.
HRESULT ReadMasks(Bytes data, BmpLayout& l)
{
    const unsigned bits = l.info.biBitCount;
    l.masks = bits == 16 ? Masks{0x7C00, 0x3E0, 0x1F, 0} : Masks{0xFF0000, 0xFF00, 0xFF, 0};
    if (!l.fields)
        return S_OK;
    const BYTE* mp = data.data() + sizeof(BmpFileHeader) + sizeof(BmpInfoHeader);
    const std::size_t count = l.info.biCompression == BI_ALPHABITFIELDS ? 4 : 3;
    if (l.info.biSize == BMP_INFO_HEADER_SIZE) {
        if (l.paletteStart + sizeof(DWORD) * count > data.size())
            return Bad("BMP file is cut short inside its colour masks");
        mp = data.data() + l.paletteStart;
        l.paletteStart += sizeof(DWORD) * count;
    }
    // A 52-byte header holds three masks: a fourth follows it.
    if (static_cast<std::size_t>(mp - data.data()) + sizeof(DWORD) * count > data.size())
        return Bad("BMP file is cut short inside its colour masks");
    Masks& m = l.masks;
    m = {LoadU32(mp + offsetof(BmpHeaderExtension, redMask)), LoadU32(mp + offsetof(BmpHeaderExtension, greenMask)),
         LoadU32(mp + offsetof(BmpHeaderExtension, blueMask)), 0};
    if (count == 4 || l.info.biSize >= BMP_V3_HEADER_SIZE)
        m.a = LoadU32(mp + offsetof(BmpHeaderExtension, alphaMask));
    if (!ValidMask(m.r, bits) || !ValidMask(m.g, bits) || !ValidMask(m.b, bits) || !ValidMask(m.a, bits) ||
        (m.r & m.g) || (m.r & m.b) || (m.g & m.b) || ((m.r | m.g | m.b) & m.a) || (m.r | m.g | m.b) == 0)
        return Bad("BMP colour masks %08X %08X %08X %08X are not usable", m.r, m.g, m.b, m.a);
    return S_OK;
}

HRESULT ReadPalette(Bytes data, const BmpLayout& l, Picture& out)
{
    const unsigned bits = l.info.biBitCount;
    if (bits > 8)
        return S_OK;
    const bool core = l.info.biSize == BMP_CORE_HEADER_SIZE;
    const std::uint32_t most = 1u << bits;
    std::uint32_t count = l.info.biClrUsed ? l.info.biClrUsed : most;
    // The core header has no entry count: the palette fills the gap up to
    // the pixel data.
    if (core && l.file.bfOffBits > l.paletteStart)
        count = static_cast<std::uint32_t>(std::min<std::uint64_t>(most, (l.file.bfOffBits - l.paletteStart) / 3));
    if (count > most)
        return Bad("BMP palette of %u entries is too long for %u bits per pixel", count, bits);
    const std::size_t entry = core ? 3 : 4;
    if (l.paletteStart + std::uint64_t{count} * entry > data.size())
        return Bad("BMP file is cut short inside its palette of %u entries", count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const BYTE* e = data.data() + l.paletteStart + i * entry;
        out.palette[i] = {e[2], e[1], e[0], 255};
    }
    return S_OK;
}

D3DFORMAT PickFormat(unsigned bits, const Masks& m)
{
    if (bits <= 8)
        return D3DFMT_P8;
    if (bits == 16 && m.r == 0x7C00 && m.g == 0x3E0 && m.b == 0x1F && (m.a == 0 || m.a == 0x8000))
        return m.a ? D3DFMT_A1R5G5B5 : D3DFMT_X1R5G5B5;
    if (bits == 16 && m.r == 0xF800 && m.g == 0x7E0 && m.b == 0x1F && m.a == 0)
        return D3DFMT_R5G6B5;
    if (bits == 16 && m.r == 0xF00 && m.g == 0xF0 && m.b == 0xF && m.a == 0xF000)
        return D3DFMT_A4R4G4B4;
    if (bits == 24)
        return D3DFMT_X8R8G8B8;
    return (bits == 32 || m.a) ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
}

// One stored row `s` into the picture's row `o`; true when a pixel read
// through masks (or a 32-bit BI_RGB pixel) has a non-zero alpha.
bool ConvertRow(const BmpLayout& l, D3DFORMAT format, UINT w, const BYTE* s, BYTE* o)
{
    const unsigned bits = l.info.biBitCount;
    const Masks& m = l.masks;
    bool anyAlpha = false;
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
            const BYTE a = l.info.biCompression == BI_RGB ? static_cast<BYTE>(px >> 24) : Channel(px, m.a, 255);
            anyAlpha |= a != 0;
            StoreU32(o + 4 * x, (std::uint32_t{a} << 24) | (Channel(px, m.r, 0) << 16) | (Channel(px, m.g, 0) << 8) |
                                    Channel(px, m.b, 0));
        }
    }
    return anyAlpha;
}

HRESULT ConvertPixels(Bytes src, const BmpLayout& l, Picture& out)
{
    const unsigned bits = l.info.biBitCount;
    const UINT w = static_cast<UINT>(l.width), ht = static_cast<UINT>(l.height);
    const std::uint64_t rowBytes = (std::uint64_t{w} * bits + 31) / 32 * 4;
    const std::uint64_t need = rowBytes * ht;
    if (need > src.size())
        return Bad("BMP file is cut short: %llu bytes of pixel data missing",
                   static_cast<unsigned long long>(need - src.size()));
    const D3DFORMAT format = PickFormat(bits, l.masks);
    std::vector<BYTE>& pixels = out.AllocateTop(format, w, ht);
    const std::size_t outRow = TightLevelOf(format, w, ht, 0).rowBytes;
    bool anyAlpha = false;
    for (UINT y = 0; y < ht; ++y)
        anyAlpha |= ConvertRow(l, format, w, src.data() + (l.topDown ? y : ht - 1 - y) * rowBytes,
                               pixels.data() + y * outRow);
    // A 32-bit BMP without masks whose fourth bytes are all zero holds no
    // alpha; it reads opaque rather than invisible.
    if (bits == 32 && l.info.biCompression == BI_RGB && !anyAlpha)
        for (std::size_t i = 3; i < pixels.size(); i += 4)
            pixels[i] = 255;
    return S_OK;
}

} // namespace

bool LooksLikeBmp(Bytes data) { return data.size() >= sizeof(WORD) && LoadU16(data.data()) == BMP_MAGIC; }

HRESULT DecodeBmp(Bytes data, Picture& out)
{
    out.fileFormat = D3DXIFF_BMP;
    BmpLayout l{};
    if (HRESULT hr = ReadHeaders(data, l); FAILED(hr))
        return hr;
    if (HRESULT hr = ReadMasks(data, l); FAILED(hr))
        return hr;
    if (HRESULT hr = ReadPalette(data, l, out); FAILED(hr))
        return hr;
    const DWORD offBits = l.file.bfOffBits;
    if (offBits < sizeof(BmpFileHeader) + l.info.biSize || offBits > data.size())
        return Bad("BMP pixel data offset %u lies outside the file of %zu bytes", offBits, data.size());
    const Bytes src = data.subspan(offBits);
    if (l.rle) {
        const UINT w = static_cast<UINT>(l.width), ht = static_cast<UINT>(l.height);
        return DecodeRle(src, l.info.biCompression == BI_RLE4, w, ht, out.AllocateTop(D3DFMT_P8, w, ht));
    }
    return ConvertPixels(src, l, out);
}

} // namespace d3dx::image
