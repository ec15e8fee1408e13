// Readers of mip-chain pictures: a 24-bit BMP or 32-bit TGA whose levels are
// drawn one under the other, each taken from the left edge of its rows.
// Every level is copied from the picture; none is filtered.
#include "converter/image/texload.h"

#include "engine/basekit/dprintf.h"
#include "platform/d3d8/comptr.h"
#include "platform/d3dx8/bytes.h"
#include "platform/d3dx8/d3dx8.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <vector>

#include <sys/stat.h>

namespace {

struct ChainPicture {
    const char* reader;        // the reader's name, as its messages carry it
    std::int64_t width;        // W
    UINT rows;                 // H, the picture's stored rows
    UINT topHeight;            // H0
    UINT levels;               // N
    std::uint64_t rowBytes;    // distance between stored rows
    std::uint64_t pixelStart;  // file offset of the first stored row
    bool threeBytes;           // BGR pixels, alpha made 255; else BGRA unchanged
};

// Grows to the largest picture read so far on this thread and is reused, so
// that a run over many pictures allocates only a few times.
std::vector<BYTE>& StagingBuffer()
{
    thread_local std::vector<BYTE> buffer;
    return buffer;
}

IDirect3DTexture8* ReadChain(std::FILE* file, const ChainPicture& pic, D3DFORMAT format, IDirect3DDevice8* device,
                             const char* path)
{
    if (pic.width < 1 || pic.width > D3D_MAX_TEXTURE_SIZE) {
        dprintf("ERROR: <%s> is %lld pixels wide, outside 1..%u (%s)\n", path, static_cast<long long>(pic.width),
                D3D_MAX_TEXTURE_SIZE, pic.reader);
        return nullptr;
    }
    if (format != D3DFMT_X8R8G8B8 && format != D3DFMT_A8R8G8B8) {
        const FormatInfo* info = D3DFormatInfo(format);
        dprintf("ERROR: <%s> cannot be read into %s (%s)\n", path, info ? info->name : "an unknown format",
                pic.reader);
        return nullptr;
    }
    // Rows the levels take from the top of the picture; a height whose set
    // bits are not contiguous (1280 = 1024 + 256) asks for more than it has.
    const bool levelsFit = pic.levels >= 1 && pic.levels <= 32 && (pic.topHeight >> (pic.levels - 1)) != 0;
    std::uint64_t needRows = 0;
    for (UINT i = 0; levelsFit && i < pic.levels; ++i)
        needRows += pic.topHeight >> i;
    if (!levelsFit || needRows > pic.rows) {
        dprintf("ERROR: <%s> has %u rows, too few for %u levels of %u rows down (%s)\n", path, pic.rows, pic.levels,
                pic.topHeight, pic.reader);
        return nullptr;
    }

    if (pic.topHeight > D3D_MAX_TEXTURE_SIZE) {
        dprintf("ERROR: <%s> has a top level %u rows tall, over %u (%s)\n", path, pic.topHeight,
                D3D_MAX_TEXTURE_SIZE, pic.reader);
        return nullptr;
    }

    // The top of the picture is the end of the file: read only the rows used.
    // The file must hold them before any memory is taken for them, so that a
    // header claiming a huge picture costs nothing.
    const std::uint64_t bytes = needRows * pic.rowBytes;
    const std::uint64_t start = pic.pixelStart + (pic.rows - needRows) * pic.rowBytes;
    struct stat st {};
    const std::uint64_t size = ::fstat(::fileno(file), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    const std::uint64_t present = size > start ? std::min(size - start, bytes) : 0;
    if (present != bytes || start > static_cast<std::uint64_t>(LONG_MAX)) {
        dprintf("ERROR: <%s> is cut short: %llu bytes of pixel data missing (%s)\n", path,
                static_cast<unsigned long long>(bytes - present), pic.reader);
        return nullptr;
    }
    std::vector<BYTE>& staging = StagingBuffer();
    if (staging.size() < bytes)
        staging.resize(bytes);
    std::size_t got = 0;
    if (std::fseek(file, static_cast<long>(start), SEEK_SET) == 0)
        got = std::fread(staging.data(), 1, bytes, file);
    if (got != bytes) {
        dprintf("ERROR: <%s> is cut short: %llu bytes of pixel data missing (%s)\n", path,
                static_cast<unsigned long long>(bytes - got), pic.reader);
        return nullptr;
    }

    const UINT width = static_cast<UINT>(pic.width);
    ComPtr<IDirect3DTexture8> texture;
    if (FAILED(D3DXCreateTexture(device, width, pic.topHeight, pic.levels, 0, format, D3DPOOL_MANAGED,
                                 texture.put()))) {
        Tex_PrintLibraryFailure((std::string("D3DXCreateTexture (") + pic.reader + ")").c_str());
        return nullptr;
    }
    if (texture->GetLevelCount() != pic.levels) {
        dprintf("ERROR: MipLevels not coincide (%s)\n", pic.reader);
        return nullptr;
    }

    // Staging row k holds picture row needRows - 1 - k; level rows follow on
    // from the level above without a gap.
    std::uint64_t pictureRow = 0;
    const unsigned srcBytes = pic.threeBytes ? 3 : 4;
    for (UINT level = 0; level < pic.levels; ++level) {
        ComPtr<IDirect3DSurface8> surface;
        if (FAILED(texture->GetSurfaceLevel(level, surface.put()))) {
            dprintf("GetSurfaceLevel (%s)\n", pic.reader);
            return nullptr;
        }
        D3DSURFACE_DESC desc{};
        surface->GetDesc(&desc);
        if (desc.Width > width || desc.Height != pic.topHeight >> level) {
            dprintf("ERROR: <%s> level %u came out %u x %u (%s)\n", path, level, desc.Width, desc.Height, pic.reader);
            return nullptr;
        }
        D3DLOCKED_RECT locked{};
        if (FAILED(surface->LockRect(&locked, nullptr, 0))) {
            dprintf("LockRect (%s)\n", pic.reader);
            return nullptr;
        }
        for (UINT y = 0; y < desc.Height; ++y, ++pictureRow) {
            const BYTE* src = staging.data() + (needRows - 1 - pictureRow) * pic.rowBytes;
            auto* dst = reinterpret_cast<BYTE*>(locked.pBits) + std::size_t{y} * static_cast<std::size_t>(locked.Pitch);
            if (pic.threeBytes) {
                for (UINT x = 0; x < desc.Width; ++x)
                    d3dx::StoreU32(dst + 4 * x, 0xFF000000u | d3dx::LoadU24(src + 3 * x));
            } else {
                std::memcpy(dst, src, std::size_t{desc.Width} * srcBytes);
            }
        }
        surface->UnlockRect();
    }
    return texture.release();
}

} // namespace

void Tex_PrintLibraryFailure(const char* text)
{
    const std::string& reason = D3DXGetLastErrorText();
    if (reason.empty())
        dprintf("%s\n", text);
    else
        dprintf("%s: %s\n", text, reason.c_str());
}

UINT Tex_MipmapBmpTopHeight(LONG height)
{
    switch (height) {
    case 1920: return 1024;
    case 960: return 512;
    case 480: return 256;
    case 240: return 128;
    default: return 0;
    }
}

UINT Tex_MipmapTgaLevels(UINT height) { return static_cast<UINT>(std::popcount(height >> 1)); }

IDirect3DTexture8* Tex_ReadMipmappingBMP(std::FILE* file, const BmpFileHeader& fileHeader,
                                         const BmpInfoHeader& infoHeader, D3DFORMAT format,
                                         IDirect3DDevice8* device, const char* path)
{
    ChainPicture pic{};
    pic.reader = "Tex_ReadMipmappingBMP";
    pic.width = infoHeader.biWidth;
    pic.topHeight = Tex_MipmapBmpTopHeight(infoHeader.biHeight);
    if (pic.topHeight == 0) {
        dprintf("ERROR: <%s> of height %d is not a mip-chain picture (%s)\n", path,
                static_cast<int>(infoHeader.biHeight), pic.reader);
        return nullptr;
    }
    pic.rows = static_cast<UINT>(infoHeader.biHeight);
    pic.levels = 4;
    pic.rowBytes = (static_cast<std::uint64_t>(pic.width < 0 ? 0 : pic.width) * 3 + 3) & ~std::uint64_t{3};
    pic.pixelStart = fileHeader.bfOffBits;
    pic.threeBytes = true;
    return ReadChain(file, pic, format, device, path);
}

IDirect3DTexture8* Tex_ReadMipmappingTGA(std::FILE* file, const TgaHeader& header, UINT levels, D3DFORMAT format,
                                         IDirect3DDevice8* device, const char* path)
{
    ChainPicture pic{};
    pic.reader = "Tex_ReadMipmappingTGA";
    pic.width = header.width;
    pic.rows = header.height;
    pic.topHeight = std::bit_floor(static_cast<UINT>(header.height));
    pic.levels = levels;
    pic.rowBytes = std::uint64_t{header.width} * 4;
    pic.pixelStart = sizeof(TgaHeader);
    pic.threeBytes = false;
    return ReadChain(file, pic, format, device, path);
}
