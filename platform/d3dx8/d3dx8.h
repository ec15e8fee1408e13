// The subset of the Direct3D 8 extension library the pipeline calls: image
// file loading, texture creation and surface-to-surface loading with pixel
// conversion and DXT compression.  Names and arguments follow D3DX8.
//
// Every function here treats file contents as untrusted: sizes are checked
// against the data before use, sides are limited to D3D_MAX_TEXTURE_SIZE,
// and a bad file gives a failure code, never a crash.  The reason for the
// last failure on the calling thread is kept for the caller's message
// (D3DXGetLastErrorText).
#pragma once

#include "platform/d3d8/d3d8.h"

#include <string>

using D3DCOLOR = DWORD;

constexpr UINT D3DX_DEFAULT = 0xFFFFFFFFu;

constexpr DWORD D3DX_FILTER_NONE = 1;
constexpr DWORD D3DX_FILTER_POINT = 2;
constexpr DWORD D3DX_FILTER_LINEAR = 3;
constexpr DWORD D3DX_FILTER_TRIANGLE = 4;
constexpr DWORD D3DX_FILTER_BOX = 5;
constexpr DWORD D3DX_FILTER_MIRROR_U = 0x10000;
constexpr DWORD D3DX_FILTER_MIRROR_V = 0x20000;
constexpr DWORD D3DX_FILTER_MIRROR = 0x70000;
constexpr DWORD D3DX_FILTER_DITHER = 0x80000;

enum D3DXIMAGE_FILEFORMAT : DWORD {
    D3DXIFF_BMP = 0,
    D3DXIFF_JPG = 1,
    D3DXIFF_TGA = 2,
    D3DXIFF_PNG = 3,
    D3DXIFF_DDS = 4,
    D3DXIFF_PPM = 5,
};

struct D3DXIMAGE_INFO {
    UINT Width;
    UINT Height;
    UINT Depth;
    UINT MipLevels;  // levels stored in the file (1 for everything but DDS)
    D3DFORMAT Format;  // the file's own format
    D3DRESOURCETYPE ResourceType;
    D3DXIMAGE_FILEFORMAT ImageFileFormat;
};

// D3DXCreateTexture: a texture of the asked size, level count (0 or
// D3DX_DEFAULT: full chain), format and pool, or a failure code.  Unlike the
// device call, sizes and formats are not adjusted: what is asked is made.
HRESULT D3DXCreateTexture(IDirect3DDevice8* device, UINT width, UINT height, UINT mipLevels, DWORD usage,
                          D3DFORMAT format, D3DPOOL pool, IDirect3DTexture8** texture);

// Loads an image file (BMP, TGA, DDS, PNG, JPEG, binary PPM/PGM; recognised
// by content, not by name) into a new texture.
//   width, height: D3DX_DEFAULT takes the file's size.
//   mipLevels: D3DX_DEFAULT or 0 asks for the full chain; a DDS file's stored
//     levels are kept as they are, and missing levels are generated.
//   format: D3DFMT_UNKNOWN keeps the file's own format; anything else
//     converts into it.
//   filter: how the top level is resampled to width x height; with
//     D3DX_FILTER_NONE the picture keeps its size, any size.
//   mipFilter: how generated levels are made (D3DX_FILTER_BOX: 2x2 average).
//   palette: when not null, receives 256 entries when the texture is P8 or
//     A8P8 (zeros past the file's palette).
//   info: when not null, receives what the file holds.
HRESULT D3DXCreateTextureFromFileExA(IDirect3DDevice8* device, const char* file, UINT width, UINT height,
                                     UINT mipLevels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                     DWORD mipFilter, D3DCOLOR colorKey, D3DXIMAGE_INFO* info,
                                     PALETTEENTRY* palette, IDirect3DTexture8** texture);

// The same from bytes in memory.
HRESULT D3DXCreateTextureFromFileInMemoryEx(IDirect3DDevice8* device, const void* data, UINT size, UINT width,
                                            UINT height, UINT mipLevels, DWORD usage, D3DFORMAT format,
                                            D3DPOOL pool, DWORD filter, DWORD mipFilter, D3DCOLOR colorKey,
                                            D3DXIMAGE_INFO* info, PALETTEENTRY* palette,
                                            IDirect3DTexture8** texture);

// Copies src (or srcRect of it) into dst (or dstRect of it), converting the
// pixel format, compressing into or decompressing from DXT blocks, and
// resampling with `filter` when the rectangles differ in size.  Palettes
// belong to palettised surfaces (P8, A8P8): a palettised source without a
// palette reads as a grey ramp; a palettised destination without one gets
// the index of a grey ramp.  colorKey, when not 0, makes matching source
// pixels transparent black.  Any format the device knows converts to any
// other.
HRESULT D3DXLoadSurfaceFromSurface(IDirect3DSurface8* dst, const PALETTEENTRY* dstPalette, const RECT* dstRect,
                                   IDirect3DSurface8* src, const PALETTEENTRY* srcPalette, const RECT* srcRect,
                                   DWORD filter, D3DCOLOR colorKey);

// Regenerates levels srcLevel + 1 onwards from level srcLevel with `filter`
// (D3DX_DEFAULT means D3DX_FILTER_BOX).
HRESULT D3DXFilterTexture(IDirect3DTexture8* texture, const PALETTEENTRY* palette, UINT srcLevel, DWORD filter);

// Why the last call on this thread failed ("" after a success), e.g.
// "BMP file is cut short: 1200 bytes of pixel data missing".
const std::string& D3DXGetLastErrorText();
