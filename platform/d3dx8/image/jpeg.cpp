// JPEG reader through libjpeg-turbo: colour pictures become X8R8G8B8, grey
// ones L8.  libjpeg only warns about corrupt or cut-short data and fills the
// rest with grey; here any warning fails the file, so a damaged picture is
// never taken for a good one.
#include "platform/d3dx8/image/imagefile.h"

#include <cstdio>
#include <jpeglib.h>

#include <csetjmp>

namespace d3dx::image {

namespace {

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX] = "";
};

void OnError(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

void OnMessage(j_common_ptr cinfo, int level)
{
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (level < 0 && err->base.num_warnings++ == 0)
        (*cinfo->err->format_message)(cinfo, err->message);
}

// No object with a destructor is alive between setjmp and longjmp here.
bool ReadCore(jpeg_decompress_struct& cinfo, ErrorManager& err, Bytes data, Picture& out)
{
    if (setjmp(err.jump))
        return false;
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.image_width > D3D_MAX_TEXTURE_SIZE || cinfo.image_height > D3D_MAX_TEXTURE_SIZE ||
        cinfo.image_width == 0 || cinfo.image_height == 0) {
        std::snprintf(err.message, sizeof err.message, "picture of %u x %u is outside 1..%u per side",
                      cinfo.image_width, cinfo.image_height, D3D_MAX_TEXTURE_SIZE);
        return false;
    }
    D3DFORMAT format;
    if (cinfo.jpeg_color_space == JCS_GRAYSCALE) {
        cinfo.out_color_space = JCS_GRAYSCALE;
        format = D3DFMT_L8;
    } else if (cinfo.jpeg_color_space == JCS_YCbCr || cinfo.jpeg_color_space == JCS_RGB) {
        cinfo.out_color_space = JCS_EXT_BGRA;
        format = D3DFMT_X8R8G8B8;
    } else {
        std::snprintf(err.message, sizeof err.message, "CMYK and YCCK pictures are not readable");
        return false;
    }
    jpeg_start_decompress(&cinfo);
    std::vector<BYTE>& pixels = out.AllocateTop(format, cinfo.output_width, cinfo.output_height);
    const std::size_t rowBytes = TightLevelOf(format, cinfo.output_width, cinfo.output_height, 0).rowBytes;
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = pixels.data() + std::size_t{cinfo.output_scanline} * rowBytes;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    return err.base.num_warnings == 0;
}

} // namespace

bool LooksLikeJpeg(Bytes data) { return data.size() >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF; }

HRESULT DecodeJpeg(Bytes data, Picture& out)
{
    out.fileFormat = D3DXIFF_JPG;
    jpeg_decompress_struct cinfo{};
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = OnError;
    err.base.emit_message = OnMessage;
    const bool ok = ReadCore(cinfo, err, data, out);
    jpeg_destroy_decompress(&cinfo);
    if (!ok) {
        out.levels.clear();
        return Bad("JPEG file is not readable: %s", err.message);
    }
    // The fourth byte of BGRA output is libjpeg's filler; X8 means opaque.
    for (std::size_t i = 3; out.format == D3DFMT_X8R8G8B8 && i < out.levels[0].size(); i += 4)
        out.levels[0][i] = 255;
    return S_OK;
}

} // namespace d3dx::image
