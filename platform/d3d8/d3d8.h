// A software Direct3D 8 subset: the objects the texture pipeline uses, with
// Direct3D 8 names and signatures.  Textures live in host memory; the device
// is headless and never draws.
//
// Reference counting follows COM: every Create/Get that hands out an
// interface adds one reference for the caller, who releases it.  A surface
// obtained from a texture keeps its texture alive while it is referenced.
// Reference counts are atomic; locks are per level, and distinct levels may
// be locked and filled from different threads at once.
#pragma once

#include "platform/d3d8/d3d8types.h"
#include "platform/d3d8/formats.h"

using ULONG = std::uint32_t;

struct IDirect3D8;
struct IDirect3DDevice8;
struct IDirect3DTexture8;
struct IDirect3DSurface8;

struct IUnknown {
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IUnknown() = default;
};

struct IDirect3DSurface8 : IUnknown {
    virtual HRESULT GetDevice(IDirect3DDevice8** device) = 0;
    // The texture this surface is a level of (one reference added).
    virtual HRESULT GetContainer(IDirect3DTexture8** texture) = 0;
    virtual HRESULT GetDesc(D3DSURFACE_DESC* desc) = 0;
    // Locks the whole surface (rect null) or a rectangle of it; block
    // formats need 4-aligned rectangles.  A locked surface cannot be locked
    // again until it is unlocked (D3DERR_INVALIDCALL).
    virtual HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) = 0;
    virtual HRESULT UnlockRect() = 0;
};

struct IDirect3DTexture8 : IUnknown {
    virtual HRESULT GetDevice(IDirect3DDevice8** device) = 0;
    virtual DWORD GetLevelCount() = 0;
    virtual HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) = 0;
    virtual HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface8** surface) = 0;
    // Same lock as the level's surface: a level locked through either is locked.
    virtual HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) = 0;
    virtual HRESULT UnlockRect(UINT level) = 0;
    // Direct3D 8 keeps palettes on the device; here a palettised texture (P8,
    // A8P8) carries the 256 entries it was loaded with, so that converting it
    // later reads its own colours.  SetPalette copies the entries (null
    // drops them); call it before the texture is shared between threads.
    // GetPalette gives the carried entries, or null.
    virtual HRESULT SetPalette(const PALETTEENTRY* entries) = 0;
    virtual const PALETTEENTRY* GetPalette() = 0;
};

struct IDirect3DDevice8 : IUnknown {
    virtual HRESULT GetDirect3D(IDirect3D8** d3d) = 0;
    // levels 0 means the full chain down to 1x1.  Level i is
    // max(1, w >> i) x max(1, h >> i); the memory starts zeroed.
    virtual HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                                  D3DPOOL pool, IDirect3DTexture8** texture) = 0;
};

struct IDirect3D8 : IUnknown {
    virtual HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) = 0;
    // Only the reference (software) device type exists.  Creation fails with
    // D3DERR_NOTAVAILABLE when the environment has MIPFORGE_NO_DEVICE=1.
    virtual HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focus, DWORD behaviour,
                                 D3DPRESENT_PARAMETERS* params, IDirect3DDevice8** device) = 0;
};

// Null when sdkVersion is not D3D_SDK_VERSION.
IDirect3D8* Direct3DCreate8(UINT sdkVersion);

// Test hooks.  Makes the n-th next texture creation (1 = the very next) fail
// with E_OUTOFMEMORY; 0 switches the failure off.
void D3D8Test_FailTextureCreation(int nth);
// Number of textures currently alive, for leak checks.
long D3D8Test_LiveTextures();
