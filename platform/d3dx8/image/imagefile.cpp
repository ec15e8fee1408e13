#include "platform/d3dx8/image/imagefile.h"

#include <cstdarg>
#include <cstdio>

namespace d3dx::image {

TightLevel TightLevelOf(D3DFORMAT format, UINT width, UINT height, UINT level)
{
    const FormatInfo* info = D3DFormatInfo(format);
    auto layout = D3DLevelLayout(format, width, height, level);
    if (!info || !layout)
        return {};
    TightLevel t;
    t.rows = layout->rows;
    if (info->kind == FormatKind::Block)
        t.rowBytes = layout->pitch;  // block rows carry no padding
    else if (info->kind == FormatKind::Yuv)
        t.rowBytes = (std::uint64_t{layout->width} + 1) / 2 * info->blockBytes;
    else
        t.rowBytes = (std::uint64_t{layout->width} * info->bitsPerPixel + 7) / 8;
    return t;
}

std::vector<BYTE>& Picture::AllocateTop(D3DFORMAT fmt, UINT w, UINT h)
{
    format = fmt;
    width = w;
    height = h;
    // Made in place: a level built apart and copied in would take twice
    // the memory for a moment, and its copy would touch every page again.
    levels.clear();
    levels.emplace_back(TightLevelOf(fmt, w, h, 0).size());
    return levels[0];
}

std::string Format(const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

HRESULT Bad(const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return Fail(D3DXERR_INVALIDDATA, text);
}

bool CheckSides(const char* kind, std::int64_t width, std::int64_t height)
{
    if (width >= 1 && height >= 1 && width <= D3D_MAX_TEXTURE_SIZE && height <= D3D_MAX_TEXTURE_SIZE)
        return true;
    Bad("%s picture of %lld x %lld is outside 1..%u per side", kind, static_cast<long long>(width),
        static_cast<long long>(height), D3D_MAX_TEXTURE_SIZE);
    return false;
}

HRESULT DecodeImage(Bytes data, Picture& out)
{
    out = Picture{};
    if (LooksLikeDds(data))
        return DecodeDds(data, out);
    if (LooksLikeBmp(data))
        return DecodeBmp(data, out);
    if (LooksLikePng(data))
        return DecodePng(data, out);
    if (LooksLikeJpeg(data))
        return DecodeJpeg(data, out);
    if (LooksLikePnm(data))
        return DecodePnm(data, out);
    return DecodeTga(data, out);
}

} // namespace d3dx::image
