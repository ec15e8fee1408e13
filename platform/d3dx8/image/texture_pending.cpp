// Placeholder until the image readers land.
#include "d3dx8_internal.h"

HRESULT D3DXCreateTexture(IDirect3DDevice8* device, UINT width, UINT height, UINT mipLevels, DWORD usage,
                          D3DFORMAT format, D3DPOOL pool, IDirect3DTexture8** texture)
{
    if (mipLevels == D3DX_DEFAULT)
        mipLevels = 0;
    return device->CreateTexture(width, height, mipLevels, usage, format, pool, texture);
}

HRESULT D3DXCreateTextureFromFileInMemoryEx(IDirect3DDevice8*, const void*, UINT, UINT, UINT, UINT, DWORD, D3DFORMAT,
                                            D3DPOOL, DWORD, DWORD, D3DCOLOR, D3DXIMAGE_INFO*, PALETTEENTRY*,
                                            IDirect3DTexture8**)
{
    return d3dx::Fail(E_FAIL, "image files are not readable in this build");
}

HRESULT D3DXCreateTextureFromFileExA(IDirect3DDevice8*, const char*, UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL,
                                     DWORD, DWORD, D3DCOLOR, D3DXIMAGE_INFO*, PALETTEENTRY*, IDirect3DTexture8**)
{
    return d3dx::Fail(E_FAIL, "image files are not readable in this build");
}
