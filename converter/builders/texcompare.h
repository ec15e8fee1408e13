// Whether two textures hold the same image, level for level.
#pragma once

#include "platform/d3d8/d3d8.h"

// True when both have the same level count and every level the same
// format, byte size, width, height and bytes.  Levels are compared from the
// smallest up, where differences are cheapest to find; a level that cannot
// be locked counts as different.
bool Tex_SameImage(IDirect3DTexture8* a, IDirect3DTexture8* b);
