#include "converter/image/ddswriter.h"

#include "platform/d3d8/comptr.h"
#include "platform/d3d8/formats.h"

#include <cstring>

bool Tex_DDSPixelFormat(D3DFORMAT format, DdsPixelFormat* pf)
{
    // The table's DDS record says which formats are written (not X8R8G8B8 or
    // X1R5G5B5: such textures are converted before they are saved).
    const FormatInfo* info = D3DFormatInfo(format);
    if (!info || info->dds == DdsRecord::None)
        return false;
    *pf = {};
    pf->size = sizeof(DdsPixelFormat);
    if (info->dds == DdsRecord::FourCC) {
        pf->flags = DDPF_FOURCC;
        pf->fourCC = format;
        return true;
    }
    pf->flags = DDPF_RGB | (info->alphaMask ? DDPF_ALPHAPIXELS : 0);
    pf->rgbBitCount = info->bitsPerPixel;
    pf->redMask = info->redMask;
    pf->greenMask = info->greenMask;
    pf->blueMask = info->blueMask;
    pf->alphaMask = info->alphaMask;
    return true;
}

bool Tex_BuildDDSHeader(DdsHeader* header, DWORD* magic, IDirect3DTexture8* texture, UINT levels, UINT level)
{
    D3DSURFACE_DESC desc{};
    if (FAILED(texture->GetLevelDesc(level, &desc)))
        return false;
    std::memset(header, 0, sizeof *header);
    header->size = sizeof(DdsHeader);
    header->flags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT;
    header->height = desc.Height;
    header->width = desc.Width;
    header->caps = DDSCAPS_TEXTURE;
    header->mipMapCount = levels;
    if (levels > 1) {
        header->flags |= DDSD_MIPMAPCOUNT;
        header->caps |= DDSCAPS_MIPMAP | DDSCAPS_COMPLEX;
    }
    if (!Tex_DDSPixelFormat(desc.Format, &header->pixelFormat))
        return false;
    if (IsBlockFormat(desc.Format)) {
        header->flags |= DDSD_LINEARSIZE;
        header->pitchOrLinearSize = desc.Size;
    } else {
        // The pitch field describes the rows as the file stores them, which
        // carry no padding: a lock pitch with padding would tell a reader
        // the wrong row length.
        header->flags |= DDSD_PITCH;
        D3DLOCKED_RECT locked{};
        if (SUCCEEDED(texture->LockRect(level, &locked, nullptr, D3DLOCK_READONLY))) {
            texture->UnlockRect(level);
            header->pitchOrLinearSize = desc.Width * (header->pixelFormat.rgbBitCount / 8);
        }
    }
    *magic = DDS_MAGIC;
    return true;
}

HRESULT Tex_WriteDDSLevels(IDirect3DTexture8* texture, win32::AtomicFile& file, UINT levels)
{
    for (UINT i = 0; i < levels; ++i) {
        D3DSURFACE_DESC desc{};
        {
            ComPtr<IDirect3DSurface8> surface;
            if (HRESULT hr = texture->GetSurfaceLevel(i, surface.put()); FAILED(hr))
                return hr;
            surface->GetDesc(&desc);
        }
        D3DLOCKED_RECT locked{};
        if (HRESULT hr = texture->LockRect(i, &locked, nullptr, 0); FAILED(hr))
            return hr;
        bool ok = true;
        if (IsBlockFormat(desc.Format)) {
            ok = file.write(locked.pBits, desc.Size);
        } else {
            const size_t rowBytes = size_t{desc.Width} * (D3DFormatInfo(desc.Format)->bitsPerPixel / 8);
            const auto* row = static_cast<const BYTE*>(locked.pBits);
            for (UINT y = 0; ok && y < desc.Height; ++y, row += locked.Pitch)
                ok = file.write(row, rowBytes);
        }
        texture->UnlockRect(i);
        if (!ok)
            return E_FAIL;
    }
    return S_OK;
}

HRESULT Tex_SaveDDS(IDirect3DTexture8* texture, const char* path)
{
    const UINT levels = texture->GetLevelCount();
    DdsHeader header;
    DWORD magic = 0;
    // The format is checked before anything touches the disk.
    if (!Tex_BuildDDSHeader(&header, &magic, texture, levels, 0))
        return E_FAIL;

    win32::AtomicFile file;
    if (!file.open(path))
        return E_FAIL;
    if (!file.write(&magic, sizeof magic) || !file.write(&header, sizeof header))
        return E_FAIL;
    if (HRESULT hr = Tex_WriteDDSLevels(texture, file, levels); FAILED(hr))
        return hr;
    return file.commit() ? S_OK : E_FAIL;
}
