// PNG reader through libpng.  Palette pictures stay P8 with their palette;
// a tRNS chunk puts each entry's alpha into peFlags (entries past its list
// are opaque), so the transparency survives in the palette, where Direct3D 8
// alpha palettes keep it.  Grey becomes L8 (A8L8 with alpha or tRNS), colour
// X8R8G8B8 (A8R8G8B8 with alpha or tRNS); 16-bit channels keep their high
// byte.
#include "platform/d3dx8/image/imagefile.h"
#include "platform/d3dx8/image/png_read.h"

#include <png.h>

#include <csetjmp>
#include <cstring>

namespace d3dx::image {

namespace {

struct Reader {
    Bytes data;
    std::size_t at = 0;
    char error[200] = "";
};

void ReadBytes(png_structp png, png_bytep out, png_size_t count)
{
    auto* r = static_cast<Reader*>(png_get_io_ptr(png));
    if (count > r->data.size() - r->at)
        png_error(png, "the file is cut short");
    std::memcpy(out, r->data.data() + r->at, count);
    r->at += count;
}

void OnError(png_structp png, png_const_charp message)
{
    auto* r = static_cast<Reader*>(png_get_error_ptr(png));
    std::snprintf(r->error, sizeof r->error, "%s", message);
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

// Everything between setjmp and a possible longjmp lives in `out` or in
// plain locals, so that no destructor is skipped when libpng bails out.
bool ReadCore(png_structp png, png_infop info, const Reader& reader, Picture& out, std::vector<png_bytep>& rows)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_user_limits(png, D3D_MAX_TEXTURE_SIZE, D3D_MAX_TEXTURE_SIZE);
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    const int colorType = png_get_color_type(png, info);
    const int depth = png_get_bit_depth(png, info);
    const bool trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    // Deflate expands at most 1032-fold, so a file too small to hold the
    // picture's rows is refused before its pixels are allocated.
    const std::uint64_t rawBytes =
        std::uint64_t{height} * (1 + (std::uint64_t{width} * png_get_channels(png, info) * depth + 7) / 8);
    if (rawBytes > 1032 * static_cast<std::uint64_t>(reader.data.size()) + 1024)
        png_error(png, "the file is far too small for its picture size");

    D3DFORMAT format;
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        png_colorp entries = nullptr;
        int count = 0;
        png_get_PLTE(png, info, &entries, &count);
        png_bytep alpha = nullptr;
        int alphaCount = 0;
        png_color_16p unused = nullptr;
        if (trns)
            png_get_tRNS(png, info, &alpha, &alphaCount, &unused);
        for (int i = 0; i < count && i < 256; ++i)
            out.palette[static_cast<std::size_t>(i)] = {entries[i].red, entries[i].green, entries[i].blue,
                                                        i < alphaCount ? alpha[i] : BYTE{255}};
        if (depth < 8)
            png_set_packing(png);
        format = D3DFMT_P8;
    } else if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) {
        if (depth < 8)
            png_set_expand_gray_1_2_4_to_8(png);
        if (trns)
            png_set_tRNS_to_alpha(png);
        if (depth == 16) {
            png_set_gray_to_rgb(png);
            png_set_strip_16(png);
            png_set_bgr(png);
            png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
            format = D3DFMT_A8R8G8B8;
        } else {
            format = (colorType == PNG_COLOR_TYPE_GRAY_ALPHA || trns) ? D3DFMT_A8L8 : D3DFMT_L8;
        }
    } else {
        if (trns)
            png_set_tRNS_to_alpha(png);
        png_set_strip_16(png);
        png_set_bgr(png);
        const bool alpha = (colorType & PNG_COLOR_MASK_ALPHA) || trns;
        if (!alpha)
            png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
        format = (alpha || depth == 16) ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
    }
    png_set_interlace_handling(png);
    png_read_update_info(png, info);

    const std::size_t rowBytes = png_get_rowbytes(png, info);
    std::vector<BYTE>& pixels = out.AllocateTop(format, width, height);
    if (rowBytes != TightLevelOf(format, width, height, 0).rowBytes)
        png_error(png, "unexpected row size after transformations");
    rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y)
        rows[y] = pixels.data() + std::size_t{y} * rowBytes;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    return true;
}

} // namespace

bool LooksLikePng(Bytes data) { return data.size() >= 8 && png_sig_cmp(data.data(), 0, 8) == 0; }

HRESULT DecodePngWithLibpng(Bytes data, Picture& out)
{
    out.fileFormat = D3DXIFF_PNG;
    Reader reader{data};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &reader, OnError, OnWarning);
    if (!png)
        return Fail(E_OUTOFMEMORY, "PNG reader could not start");
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return Fail(E_OUTOFMEMORY, "PNG reader could not start");
    }
    png_set_read_fn(png, &reader, ReadBytes);
    std::vector<png_bytep> rows;
    const bool ok = ReadCore(png, info, reader, out, rows);
    png_destroy_read_struct(&png, &info, nullptr);
    if (!ok) {
        out.levels.clear();
        return Bad("PNG file is not readable: %s", reader.error);
    }
    return S_OK;
}

HRESULT DecodePng(Bytes data, Picture& out)
{
    out.fileFormat = D3DXIFF_PNG;
    return DecodePlainPng(data, out) ? S_OK : DecodePngWithLibpng(data, out);
}

} // namespace d3dx::image
