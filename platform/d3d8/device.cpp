#include "platform/d3d8/d3d8.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

std::atomic<int> g_failTextureCountdown{0};
std::atomic<long> g_liveTextures{0};

// Level data starts on 64-byte boundaries so vector code may use aligned loads.
constexpr std::uint64_t kLevelAlignment = 64;

class Device;
class Texture;

// COM reference counting: one reference at creation, destroyed at the last
// Release.
template <class Interface>
class RefCounted : public Interface {
public:
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override
    {
        ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

private:
    std::atomic<ULONG> refs_{1};
};

class Surface final : public IDirect3DSurface8 {
public:
    Surface(Texture* owner, UINT level) : owner_(owner), level_(level) {}
    ~Surface() override = default;

    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetDevice(IDirect3DDevice8** device) override;
    HRESULT GetContainer(IDirect3DTexture8** texture) override;
    HRESULT GetDesc(D3DSURFACE_DESC* desc) override;
    HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect() override;

private:
    Texture* owner_;
    UINT level_;
    std::atomic<ULONG> refs_{0};
};

struct Level {
    LevelLayout layout;
    std::uint64_t offset;
};

class Texture final : public RefCounted<IDirect3DTexture8> {
public:
    Texture(IDirect3DDevice8* device, D3DFORMAT format, DWORD usage, D3DPOOL pool, std::vector<Level> levels,
            void* block, BYTE* data)
        : device_(device), format_(format), usage_(usage), pool_(pool), levels_(std::move(levels)), block_(block),
          data_(data),
          locked_(new std::atomic<bool>[levels_.size()])
    {
        device_->AddRef();
        for (size_t i = 0; i < levels_.size(); ++i) {
            locked_[i] = false;
            surfaces_.push_back(std::make_unique<Surface>(this, static_cast<UINT>(i)));
        }
        ++g_liveTextures;
    }
    ~Texture() override
    {
        std::free(block_);
        device_->Release();
        --g_liveTextures;
    }

    HRESULT GetDevice(IDirect3DDevice8** device) override
    {
        if (!device)
            return D3DERR_INVALIDCALL;
        device_->AddRef();
        *device = device_;
        return S_OK;
    }
    DWORD GetLevelCount() override { return static_cast<DWORD>(levels_.size()); }
    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override
    {
        if (level >= levels_.size() || !desc)
            return D3DERR_INVALIDCALL;
        const LevelLayout& l = levels_[level].layout;
        desc->Format = format_;
        desc->Type = D3DRTYPE_SURFACE;
        desc->Usage = usage_;
        desc->Pool = pool_;
        desc->Size = static_cast<UINT>(l.size);
        desc->MultiSampleType = D3DMULTISAMPLE_NONE;
        desc->Width = l.width;
        desc->Height = l.height;
        return S_OK;
    }
    HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface8** surface) override
    {
        if (level >= levels_.size() || !surface)
            return D3DERR_INVALIDCALL;
        surfaces_[level]->AddRef();
        *surface = surfaces_[level].get();
        return S_OK;
    }
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD /*flags*/) override
    {
        if (level >= levels_.size() || !locked)
            return D3DERR_INVALIDCALL;
        const Level& l = levels_[level];
        std::uint64_t offset = 0;
        if (rect) {
            const LevelLayout& g = l.layout;
            if (rect->left < 0 || rect->top < 0 || rect->left >= rect->right || rect->top >= rect->bottom ||
                static_cast<UINT>(rect->right) > g.width || static_cast<UINT>(rect->bottom) > g.height)
                return D3DERR_INVALIDCALL;
            const FormatInfo* info = D3DFormatInfo(format_);
            if (info->kind == FormatKind::Block) {
                if (rect->left % 4 || rect->top % 4)
                    return D3DERR_INVALIDCALL;
                offset = rect->top / 4 * g.pitch + std::uint64_t(rect->left / 4) * info->blockBytes;
            } else if (info->kind == FormatKind::Yuv) {
                if (rect->left % 2)
                    return D3DERR_INVALIDCALL;
                offset = rect->top * g.pitch + std::uint64_t(rect->left / 2) * info->blockBytes;
            } else {
                offset = rect->top * g.pitch + std::uint64_t(rect->left) * info->bitsPerPixel / 8;
            }
        }
        bool expected = false;
        if (!locked_[level].compare_exchange_strong(expected, true))
            return D3DERR_INVALIDCALL;
        locked->Pitch = static_cast<INT>(l.layout.pitch);
        locked->pBits = data_ + l.offset + offset;
        return S_OK;
    }
    HRESULT UnlockRect(UINT level) override
    {
        if (level >= levels_.size())
            return D3DERR_INVALIDCALL;
        bool expected = true;
        if (!locked_[level].compare_exchange_strong(expected, false))
            return D3DERR_INVALIDCALL;
        return S_OK;
    }
    HRESULT SetPalette(const PALETTEENTRY* entries) override
    {
        if (!entries) {
            palette_.reset();
            return S_OK;
        }
        if (D3DFormatInfo(format_)->kind != FormatKind::Palette)
            return D3DERR_INVALIDCALL;
        if (!palette_)
            palette_ = std::make_unique<PALETTEENTRY[]>(256);
        std::memcpy(palette_.get(), entries, 256 * sizeof(PALETTEENTRY));
        return S_OK;
    }
    const PALETTEENTRY* GetPalette() override { return palette_.get(); }

private:
    IDirect3DDevice8* device_;
    D3DFORMAT format_;
    DWORD usage_;
    D3DPOOL pool_;
    std::vector<Level> levels_;
    void* block_; // what calloc returned
    BYTE* data_;  // block_ rounded up to kLevelAlignment
    std::unique_ptr<std::atomic<bool>[]> locked_;
    std::vector<std::unique_ptr<Surface>> surfaces_;
    std::unique_ptr<PALETTEENTRY[]> palette_;
};

ULONG Surface::AddRef()
{
    if (refs_++ == 0)
        owner_->AddRef();
    return refs_;
}

ULONG Surface::Release()
{
    ULONG left = --refs_;
    if (left == 0)
        owner_->Release(); // may destroy the texture, and this surface with it
    return left;
}

HRESULT Surface::GetDevice(IDirect3DDevice8** device) { return owner_->GetDevice(device); }

HRESULT Surface::GetContainer(IDirect3DTexture8** texture)
{
    if (!texture)
        return D3DERR_INVALIDCALL;
    owner_->AddRef();
    *texture = owner_;
    return S_OK;
}

HRESULT Surface::GetDesc(D3DSURFACE_DESC* desc) { return owner_->GetLevelDesc(level_, desc); }

HRESULT Surface::LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags)
{
    return owner_->LockRect(level_, locked, rect, flags);
}

HRESULT Surface::UnlockRect() { return owner_->UnlockRect(level_); }

class Device final : public RefCounted<IDirect3DDevice8> {
public:
    explicit Device(IDirect3D8* d3d) : d3d_(d3d) { d3d_->AddRef(); }
    ~Device() override { d3d_->Release(); }

    HRESULT GetDirect3D(IDirect3D8** d3d) override
    {
        if (!d3d)
            return D3DERR_INVALIDCALL;
        d3d_->AddRef();
        *d3d = d3d_;
        return S_OK;
    }
    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                          IDirect3DTexture8** texture) override
    {
        if (!texture)
            return D3DERR_INVALIDCALL;
        *texture = nullptr;
        if (width == 0 || height == 0 || width > D3D_MAX_TEXTURE_SIZE || height > D3D_MAX_TEXTURE_SIZE ||
            !D3DFormatInfo(format) || pool > D3DPOOL_SCRATCH)
            return D3DERR_INVALIDCALL;
        const UINT full = D3DFullMipCount(width, height);
        if (levels == 0)
            levels = full;
        if (levels > full)
            return D3DERR_INVALIDCALL;

        std::vector<Level> table;
        table.reserve(levels);
        std::uint64_t total = 0;
        for (UINT i = 0; i < levels; ++i) {
            LevelLayout layout = *D3DLevelLayout(format, width, height, i);
            table.push_back({layout, total});
            total += (layout.size + kLevelAlignment - 1) / kLevelAlignment * kLevelAlignment;
        }
        if (int n = g_failTextureCountdown.load(); n > 0 && g_failTextureCountdown.fetch_sub(1) == 1)
            return E_OUTOFMEMORY;
        // calloc gives zeroed pages lazily, so a large texture costs only what
        // is touched; the extra bytes let level 0 start on an aligned address.
        void* block = std::calloc(1, total + kLevelAlignment);
        if (!block)
            return E_OUTOFMEMORY;
        auto aligned = (reinterpret_cast<std::uintptr_t>(block) + kLevelAlignment - 1) & ~(kLevelAlignment - 1);
        try {
            *texture = new Texture(this, format, usage, pool, std::move(table), block,
                                   reinterpret_cast<BYTE*>(aligned));
        } catch (const std::bad_alloc&) {
            std::free(block);
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

private:
    IDirect3D8* d3d_;
};

class Direct3D final : public RefCounted<IDirect3D8> {
public:
    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) override
    {
        if (adapter != D3DADAPTER_DEFAULT || !mode)
            return D3DERR_INVALIDCALL;
        *mode = {1024, 768, 60, D3DFMT_X8R8G8B8};
        return S_OK;
    }
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND /*focus*/, DWORD /*behaviour*/,
                         D3DPRESENT_PARAMETERS* params, IDirect3DDevice8** device) override
    {
        if (!device)
            return D3DERR_INVALIDCALL;
        *device = nullptr;
        if (adapter != D3DADAPTER_DEFAULT || !params || !params->Windowed)
            return D3DERR_INVALIDCALL;
        if (type != D3DDEVTYPE_REF)
            return D3DERR_NOTAVAILABLE;
        if (const char* off = std::getenv("MIPFORGE_NO_DEVICE"); off && std::strcmp(off, "1") == 0)
            return D3DERR_NOTAVAILABLE;
        try {
            *device = new Device(this);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

private:
};

} // namespace

IDirect3D8* Direct3DCreate8(UINT sdkVersion)
{
    if (sdkVersion != D3D_SDK_VERSION)
        return nullptr;
    return new (std::nothrow) Direct3D;
}

void D3D8Test_FailTextureCreation(int nth) { g_failTextureCountdown = nth; }

long D3D8Test_LiveTextures() { return g_liveTextures; }
