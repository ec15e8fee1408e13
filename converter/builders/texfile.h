// The engine texture file writer ("-complex").
#pragma once

#include "platform/d3d8/d3d8.h"

#include <string>
#include <vector>

// The format version of the engine texture file.
constexpr int kTexFileVersion = 12;

// Writes the textures, under their names and with their palettes (null or
// 256 entries), into one engine texture file.  The three lists are
// parallel, `count` long.  Throws misc::error or a C string on failure.
void Tex_WriteTexFile(IDirect3DDevice8* device, const char* fileName, const std::vector<IDirect3DTexture8*>& textures,
                      const std::vector<std::string>& names, const std::vector<PALETTEENTRY*>& palettes, int count);
