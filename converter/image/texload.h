// Loading image files into textures with full mip chains, and the readers of
// mip-chain pictures (every level drawn in one picture, one under the other).
// All of these print their own message through dprintf and return null on
// failure.  Not re-entrant from several threads for the same FILE.
#pragma once

#include "platform/d3d8/d3d8.h"
#include "platform/d3dx8/bmp_format.h"
#include "platform/d3dx8/tga_format.h"

#include <cstdio>
#include <memory>

// Owner of a palette block that Tex_LoadFile or LoadTexture allocated.
using PalettePtr = std::unique_ptr<PALETTEENTRY[]>;

// Loads `path` into a managed texture with its mip chain.  *palette is set to
// null first; for a P8 result it receives a block of 256 entries allocated
// with new[], which the caller frees with delete[].  The caller holds the one
// reference of the returned texture.
IDirect3DTexture8* Tex_LoadFile(const char* path, IDirect3DDevice8* device, PALETTEENTRY** palette);

// Mip-chain readers.  `file` is open and stays open.  The BMP reader takes a
// 24-bit picture of height 1920, 960, 480 or 240 and makes 4 levels; the TGA
// reader takes 32-bit pixels right after the 18-byte header and makes
// `levels` levels, level 0 as tall as the highest set bit of the height.
// `path` only names the file in messages.
IDirect3DTexture8* Tex_ReadMipmappingBMP(std::FILE* file, const BmpFileHeader& fileHeader,
                                         const BmpInfoHeader& infoHeader, D3DFORMAT format,
                                         IDirect3DDevice8* device, const char* path = "");
IDirect3DTexture8* Tex_ReadMipmappingTGA(std::FILE* file, const TgaHeader& header, UINT levels, D3DFORMAT format,
                                         IDirect3DDevice8* device, const char* path = "");

// Prints `text`, then ": <reason>" when the extension library recorded why
// its last call failed, then a line end.
void Tex_PrintLibraryFailure(const char* text);

// Level-0 height of a BMP mip-chain picture of `height` rows, or 0 when the
// height is not one of the four that hold a chain.
UINT Tex_MipmapBmpTopHeight(LONG height);
// Number of levels a 32-bit TGA of `height` rows announces: the set bits of
// the height above bit 0.
UINT Tex_MipmapTgaLevels(UINT height);
