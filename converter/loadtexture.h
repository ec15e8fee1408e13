// Loading an image into a texture of a named format and mip count, shared
// by "-single" and the project build.
#pragma once

#include "platform/d3d8/d3d8.h"

// Loads `file` and converts it level by level into `formatName` (unknown
// names give DXT1) with `mips` levels (decimal text; 0 or a non-number
// means as many as the loaded image has).  Returns a new texture (one
// reference for the caller) or null after printing why.  *palette receives
// null, or for a P8 result a new copy of the 256-entry palette that the
// caller frees with delete[].
IDirect3DTexture8* LoadTexture(IDirect3DDevice8* device, const char* file, const char* formatName, const char* mips,
                               PALETTEENTRY** palette);
