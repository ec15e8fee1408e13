// Writing textures as DDS files.
#pragma once

#include "platform/d3d8/d3d8.h"
#include "platform/d3dx8/dds_format.h"
#include "platform/win32/win32.h"

// Writes `texture` with all its levels to `path`.  S_OK, or a negative code:
// E_FAIL when the format cannot be written or the file cannot be created or
// written, the lock's code when a level cannot be locked.  The file is
// written under a temporary name and renamed into place, so a failed save
// leaves no file behind and an existing file intact.  The caller keeps its
// reference.  Writable formats: those with a DDS record in the format table.
HRESULT Tex_SaveDDS(IDirect3DTexture8* texture, const char* path);

// Fills the magic and the header from level `level` of `texture`; false when
// that level's format cannot be written.
bool Tex_BuildDDSHeader(DdsHeader* header, DWORD* magic, IDirect3DTexture8* texture, UINT levels, UINT level);

// Writes the pixel data of levels 0 .. levels-1: whole levels for DXT,
// rows without padding for the RGB formats.
HRESULT Tex_WriteDDSLevels(IDirect3DTexture8* texture, win32::AtomicFile& file, UINT levels);

// The DDS pixel-format record of a writable format, or false.
bool Tex_DDSPixelFormat(D3DFORMAT format, DdsPixelFormat* pixelFormat);
