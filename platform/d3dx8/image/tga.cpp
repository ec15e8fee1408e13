// TGA reader: colour-mapped (1, 9), true-colour (2, 10) and grey (3, 11)
// pictures, raw or run-length, with either origin.  TGA has no signature,
// so the header is judged strictly: it is the last kind tried.
#include "imagefile.h"

#include <cstring>

namespace d3dx::image {

namespace {

constexpr std::size_t kHeaderBytes = 18;

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

} // namespace

HRESULT DecodeTga(Bytes data, Picture& out)
{
    out.fileFormat = D3DXIFF_TGA;
    if (data.size() < kHeaderBytes)
        return Bad("not a readable image file (%zu bytes, too short for a TGA header)", data.size());
    const BYTE* d = data.data();
    const unsigned idLength = d[0], mapType = d[1], type = d[2];
    const unsigned mapFirst = LoadU16(d + 3), mapLength = LoadU16(d + 5), mapBits = d[7];
    const unsigned width = LoadU16(d + 12), height = LoadU16(d + 14), depth = d[16], descriptor = d[17];
    const unsigned alphaBits = descriptor & 15;
    const unsigned base = type & 7;
    const bool rle = type & 8;

    const bool typeOk = (type == 1 || type == 2 || type == 3 || type == 9 || type == 10 || type == 11);
    if (!typeOk || mapType > 1 || (descriptor & 0xC0))
        return Bad("not a recognised image file (no known signature, and not a TGA header)");
    if (mapType == 1 && mapBits != 15 && mapBits != 16 && mapBits != 24 && mapBits != 32)
        return Bad("TGA colour map entries of %u bits are not readable", mapBits);
    if (base == 1 && (mapType != 1 || depth != 8 || mapLength == 0 || mapFirst + mapLength > 256))
        return Bad("TGA colour map (type %u, first %u, %u entries, %u-bit indices) is not usable", mapType,
                   mapFirst, mapLength, depth);
    if (base == 2 && depth != 15 && depth != 16 && depth != 24 && depth != 32)
        return Bad("TGA true-colour picture of %u bits per pixel is not readable", depth);
    if (base == 3 && depth != 8 && depth != 16)
        return Bad("TGA grey picture of %u bits per pixel is not readable", depth);
    // An 8-bit grey picture has no room for alpha, yet some writers give it 8
    // alpha bits (the grey is meant as coverage); it is read as grey, as
    // other readers do.
    const unsigned alphaLimit = base == 1 || base == 3 || depth == 32 ? 8u : depth <= 16 ? 1u : 0u;
    if (alphaBits > alphaLimit)
        return Bad("TGA header gives %u alpha bits for %u bits per pixel", alphaBits, depth);
    if (!CheckSides("TGA", width, height))
        return D3DXERR_INVALIDDATA;

    const std::uint64_t mapBytes = mapType ? std::uint64_t{mapLength} * ((mapBits + 7) / 8) : 0;
    const std::uint64_t pixelStart = kHeaderBytes + idLength + mapBytes;
    if (pixelStart > data.size())
        return Bad("TGA file is cut short inside its %s", mapBytes ? "colour map" : "identification field");
    if (base == 1)
        for (unsigned i = 0; i < mapLength; ++i)
            out.palette[mapFirst + i] = MapEntry(d + kHeaderBytes + idLength + i * ((mapBits + 7) / 8), mapBits,
                                                 alphaBits > 0);

    D3DFORMAT format;
    if (base == 1)
        format = D3DFMT_P8;
    else if (base == 3)
        format = depth == 8 ? D3DFMT_L8 : D3DFMT_A8L8;
    else if (depth == 32)
        format = D3DFMT_A8R8G8B8;
    else if (depth == 24)
        format = D3DFMT_X8R8G8B8;
    else
        format = depth == 16 && alphaBits ? D3DFMT_A1R5G5B5 : D3DFMT_X1R5G5B5;

    // The stored pixels in file order, expanded from their packets.
    const unsigned pixelBytes = (depth + 7) / 8;
    const std::uint64_t count = std::uint64_t{width} * height;
    const Bytes src = data.subspan(pixelStart);
    std::vector<BYTE> unpacked;
    const BYTE* stored = src.data();
    if (!rle) {
        if (count * pixelBytes > src.size())
            return Bad("TGA file is cut short: %llu bytes of pixel data missing",
                       static_cast<unsigned long long>(count * pixelBytes - src.size()));
    } else {
        // A packet of 1 + pixelBytes bytes gives at most 128 pixels.
        if (count > src.size() / (1 + pixelBytes) * 128 + 128)
            return Bad("TGA run-length data of %zu bytes cannot hold %llu pixels", src.size(),
                       static_cast<unsigned long long>(count));
        unpacked.resize(count * pixelBytes);
        std::uint64_t done = 0;
        std::size_t p = 0;
        while (done < count) {
            if (p >= src.size())
                return Bad("TGA run-length data is cut short: %llu of %llu pixels",
                           static_cast<unsigned long long>(done), static_cast<unsigned long long>(count));
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
        stored = unpacked.data();
    }

    std::vector<BYTE>& pixels = out.AllocateTop(format, width, height);
    const unsigned outBytes = D3DFormatInfo(format)->bitsPerPixel / 8;
    const bool topDown = descriptor & 0x20, rightToLeft = descriptor & 0x10;
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
    return S_OK;
}

} // namespace d3dx::image
