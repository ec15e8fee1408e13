// Placeholder until surface loading and mip filtering land.
#include "d3dx8_internal.h"

HRESULT D3DXLoadSurfaceFromSurface(IDirect3DSurface8*, const PALETTEENTRY*, const RECT*, IDirect3DSurface8*,
                                   const PALETTEENTRY*, const RECT*, DWORD, D3DCOLOR)
{
    return d3dx::Fail(E_FAIL, "surface loading is not available in this build");
}

HRESULT D3DXFilterTexture(IDirect3DTexture8*, const PALETTEENTRY*, UINT, DWORD)
{
    return d3dx::Fail(E_FAIL, "mip filtering is not available in this build");
}
