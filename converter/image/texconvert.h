// Pixel format conversion of whole textures.
#pragma once

#include "platform/d3d8/comptr.h"
#include "platform/d3d8/d3d8.h"

// Converts `source` into a new texture of `format` with the same size and
// level count, through the device that *device points at.
// Ownership: returns `source` itself (no reference added) when it already
// has the format; returns a new texture and releases the caller's reference
// to `source` on success; returns null and leaves `source` with the caller
// when the texture cannot be created or a level cannot be converted, and
// when a premultiplied source (DXT2, DXT4) is asked for anything but DXT1,
// DXT2 or DXT4.  Prints nothing.
IDirect3DTexture8* Tex_Convert(IDirect3DDevice8** device, IDirect3DTexture8* source, D3DFORMAT format);

// Converts the texture that `texture` holds, as Tex_Convert does: true with
// `texture` now holding the result (the same texture when it already had
// the format), or false with `texture` unchanged.
bool Tex_ConvertInPlace(IDirect3DDevice8* device, ComPtr<IDirect3DTexture8>& texture, D3DFORMAT format);

// Loads levels 0 .. levels-1 of `destination` from the same levels of
// `source`; false when any level fails.
bool Tex_CopyLevels(IDirect3DTexture8* source, IDirect3DTexture8* destination, UINT levels);
