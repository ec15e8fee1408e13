// What the image harnesses share: one headless device for the whole run,
// and a walk over a loaded texture that touches every byte the loader
// claims to have filled and pushes small textures through pixel conversion.
#pragma once

#include "platform/d3d8/d3d8.h"

// The device every input is loaded through; created once, never released.
IDirect3DDevice8* FuzzDevice();

// Reads every level of `texture` completely, converts small ones to
// A8R8G8B8 and DXT5, and traps when a call that must succeed on a texture
// the loader handed out fails.
void FuzzWalkTexture(IDirect3DTexture8* texture, const PALETTEENTRY* palette);
