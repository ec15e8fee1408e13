// TGA reader: colour-mapped (1, 9), true-colour (2, 10) and grey (3, 11)
// pictures, raw or run-length, with either origin.  TGA has no signature,
// so the header is judged strictly: it is the last kind tried.
#include "platform/d3dx8/image/imagefile.h"
#include "platform/d3dx8/tga_format.h"

#include <cstring>

namespace d3dx::image {

namespace {

PALETTEENTRY MapEntry(const BYTE* e, unsigned bits, bool alphaBit)
{
    if (bits == 15 || bits == 16) {
        const unsigned v = LoadU16(e);
        const BYTE a = bits == 16 && alphaBit ? ((v & 0x8000) ? 255 : 0) : 255;
        auto expand = [](unsigned c) { return static_cast<BYTE>(Expand5(static_cast<int>(c & 31))); };
        return {expand(v >> 10), expand(v >> 5), expand(v), a};
    }
    return {e[2], e[1], e[0], bits == 32 ? e[3] : BYTE{255}};
}

HRESULT CheckHeader(const TgaHeader& h)
{
    const unsigned type = h.imageType, base = type & TGA_TYPE_KIND, depth = h.pixelDepth;
    const unsigned mapBits = h.colorMapEntrySize, alphaBits = h.descriptor & TGA_ALPHA_BITS;
    const bool typeOk =
        base >= TGA_TYPE_COLOR_MAPPED && base <= TGA_TYPE_GREY && (type & ~(TGA_TYPE_KIND | TGA_TYPE_RLE)) == 0;
    if (!typeOk || h.colorMapType > 1 || (h.descriptor & TGA_RESERVED_BITS))
        return Bad("not a recognised image file (no known signature, and not a TGA header)");
    if (h.colorMapType == 1 && mapBits != 15 && mapBits != 16 && mapBits != 24 && mapBits != 32)
        return Bad("TGA colour map entries of %u bits are not readable", mapBits);
    if (base == TGA_TYPE_COLOR_MAPPED &&
        (h.colorMapType != 1 || depth != 8 || h.colorMapLength == 0 || h.colorMapFirst + h.colorMapLength > 256))
        return Bad("TGA colour map (type %u, first %u, %u entries, %u-bit indices) is not usable",
                   unsigned{h.colorMapType}, unsigned{h.colorMapFirst}, unsigned{h.colorMapLength}, depth);
    if (base == TGA_TYPE_TRUE_COLOR && depth != 15 && depth != 16 && depth != 24 && depth != 32)
        return Bad("TGA true-colour picture of %u bits per pixel is not readable", depth);
    if (base == TGA_TYPE_GREY && depth != 8 && depth != 16)
        return Bad("TGA grey picture of %u bits per pixel is not readable", depth);
    // An 8-bit grey picture has no room for alpha, yet some writers give it 8
    // alpha bits (the grey is meant as coverage); it is read as grey, as
    // other readers do.
    const unsigned alphaLimit =
        base == TGA_TYPE_COLOR_MAPPED || base == TGA_TYPE_GREY || depth == 32 ? 8u : depth <= 16 ? 1u : 0u;
    if (alphaBits > alphaLimit)
        return Bad("TGA header gives %u alpha bits for %u bits per pixel", alphaBits, depth);
    if (!CheckSides("TGA", h.width, h.height))
        return D3DXERR_INVALIDDATA;
    return S_OK;
}

D3DFORMAT PickFormat(const TgaHeader& h)
{
    const unsigned base = h.imageType & TGA_TYPE_KIND, depth = h.pixelDepth;
    if (base == TGA_TYPE_COLOR_MAPPED)
        return D3DFMT_P8;
    if (base == TGA_TYPE_GREY)
        return depth == 8 ? D3DFMT_L8 : D3DFMT_A8L8;
    if (depth == 32)
        return D3DFMT_A8R8G8B8;
    if (depth == 24)
        return D3DFMT_X8R8G8B8;
    return depth == 16 && (h.descriptor & TGA_ALPHA_BITS) ? D3DFMT_A1R5G5B5 : D3DFMT_X1R5G5B5;
}

// Run-length packets into `count` pixels of `pixelBytes` bytes each.
HRESULT Unpack(Bytes src, std::uint64_t count, unsigned pixelBytes, std::vector<BYTE>& unpacked)
{
    // A packet of 1 + pixelBytes bytes gives at most 128 pixels.
    if (count > src.size() / (1 + pixelBytes) * 128 + 128)
        return Bad("TGA run-length data of %zu bytes cannot hold %llu pixels", src.size(),
                   static_cast<unsigned long long>(count));
    unpacked.resize(count * pixelBytes);
    std::uint64_t done = 0;
    std::size_t p = 0;
    while (done < count) {
        if (p >= src.size())
            return Bad("TGA run-length data is cut short: %llu of %llu pixels", static_cast<unsigned long long>(done),
                       static_cast<unsigned long long>(count));
        const unsigned packet = src[p++];
        const unsigned n = (packet & 0x7F) + 1;
        const std::size_t take = (packet & 0x80) ? pixelBytes : std::size_t{n} * pixelBytes;
        if (take > src.size() - p)
            return Bad("TGA run-length data is cut short inside a packet");
        if (done + n > count)
            return Bad("TGA run-length packet runs past the end of the picture");
        for (unsigned i = 0; i < n; ++i)
            std::memcpy(&unpacked[(done + i) * pixelBytes], &src[p + ((packet & 0x80) ? 0 : i * pixelBytes)],
                        pixelBytes);
        p += take;
        done += n;
    }
    return S_OK;
}

// The stored pixels (file order, after any unpacking) into the picture's
// top-down, left-to-right rows.
void StorePixels(const TgaHeader& h, const BYTE* stored, D3DFORMAT format, std::vector<BYTE>& pixels)
{
    const unsigned width = h.width, height = h.height, depth = h.pixelDepth;
    const unsigned pixelBytes = (depth + 7) / 8;
    const unsigned outBytes = D3DFormatInfo(format)->bitsPerPixel / 8;
    const bool topDown = h.descriptor & TGA_TOP_DOWN, rightToLeft = h.descriptor & TGA_RIGHT_TO_LEFT;
    for (unsigned y = 0; y < height; ++y) {
        const BYTE* s = stored + std::size_t{topDown ? y : height - 1 - y} * width * pixelBytes;
        BYTE* o = pixels.data() + std::size_t{y} * width * outBytes;
        for (unsigned x = 0; x < width; ++x) {
            const BYTE* px = s + std::size_t{rightToLeft ? width - 1 - x : x} * pixelBytes;
            BYTE* q = o + std::size_t{x} * outBytes;
            if (depth == 24)
                StoreU32(q, 0xFF000000u | LoadU24(px));
            else
                std::memcpy(q, px, outBytes);
            if (format == D3DFMT_X1R5G5B5)
                q[1] &= 0x7F;
        }
    }
}

} // namespace

HRESULT DecodeTga(Bytes data, Picture& out)
{
    out.fileFormat = D3DXIFF_TGA;
    if (data.size() < sizeof(TgaHeader))
        return Bad("not a readable image file (%zu bytes, too short for a TGA header)", data.size());
    const TgaHeader h = TgaHeader::FromBytes(data.data());
    if (HRESULT hr = CheckHeader(h); FAILED(hr))
        return hr;

    const unsigned entryBytes = (h.colorMapEntrySize + 7u) / 8;
    const std::uint64_t mapBytes = h.colorMapType ? std::uint64_t{h.colorMapLength} * entryBytes : 0;
    const std::uint64_t mapStart = sizeof(TgaHeader) + h.idLength, pixelStart = mapStart + mapBytes;
    if (pixelStart > data.size())
        return Bad("TGA file is cut short inside its %s", mapBytes ? "colour map" : "identification field");
    if ((h.imageType & TGA_TYPE_KIND) == TGA_TYPE_COLOR_MAPPED)
        for (unsigned i = 0; i < h.colorMapLength; ++i)
            out.palette[h.colorMapFirst + i] = MapEntry(data.data() + mapStart + i * entryBytes, h.colorMapEntrySize,
                                                        (h.descriptor & TGA_ALPHA_BITS) > 0);

    const D3DFORMAT format = PickFormat(h);
    const unsigned pixelBytes = (h.pixelDepth + 7u) / 8;
    const std::uint64_t count = std::uint64_t{h.width} * h.height;
    const Bytes src = data.subspan(pixelStart);
    std::vector<BYTE> unpacked;
    const BYTE* stored = src.data();
    if (!(h.imageType & TGA_TYPE_RLE)) {
        if (count * pixelBytes > src.size())
            return Bad("TGA file is cut short: %llu bytes of pixel data missing",
                       static_cast<unsigned long long>(count * pixelBytes - src.size()));
    } else {
        if (HRESULT hr = Unpack(src, count, pixelBytes, unpacked); FAILED(hr))
            return hr;
        stored = unpacked.data();
    }
    StorePixels(h, stored, format, out.AllocateTop(format, h.width, h.height));
    return S_OK;
}

} // namespace d3dx::image
