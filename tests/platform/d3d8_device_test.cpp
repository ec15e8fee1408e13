#include "platform/d3d8/comptr.h"
#include "platform/d3d8/d3d8.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace {

class Device : public ::testing::Test {
protected:
    void SetUp() override
    {
        d3d_.reset(Direct3DCreate8(D3D_SDK_VERSION));
        ASSERT_TRUE(d3d_);
        D3DDISPLAYMODE mode{};
        ASSERT_EQ(d3d_->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode), S_OK);
        D3DPRESENT_PARAMETERS pp{};
        pp.Windowed = TRUE;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.BackBufferFormat = mode.Format;
        ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_REF, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp,
                                     device_.put()),
                  S_OK);
        live_ = D3D8Test_LiveTextures();
    }
    void TearDown() override
    {
        D3D8Test_FailTextureCreation(0);
        EXPECT_EQ(D3D8Test_LiveTextures(), live_) << "a texture leaked";
    }

    ComPtr<IDirect3DTexture8> Create(UINT w, UINT h, UINT levels, D3DFORMAT f)
    {
        ComPtr<IDirect3DTexture8> t;
        EXPECT_EQ(device_->CreateTexture(w, h, levels, 0, f, D3DPOOL_MANAGED, t.put()), S_OK);
        return t;
    }

    ComPtr<IDirect3D8> d3d_;
    ComPtr<IDirect3DDevice8> device_;
    long live_ = 0;
};

TEST(Direct3D, WrongSdkVersionGivesNull) { EXPECT_EQ(Direct3DCreate8(120), nullptr); }

TEST(Direct3D, OnlyTheReferenceDeviceExistsAndTheEnvironmentCanTakeItAway)
{
    ComPtr<IDirect3D8> d3d(Direct3DCreate8(D3D_SDK_VERSION));
    D3DPRESENT_PARAMETERS pp{};
    pp.Windowed = TRUE;
    pp.BackBufferFormat = D3DFMT_X8R8G8B8;
    ComPtr<IDirect3DDevice8> dev;
    EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, 0, &pp, dev.put()), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d->CreateDevice(1, D3DDEVTYPE_REF, nullptr, 0, &pp, dev.put()), D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_REF, nullptr, 0, nullptr, dev.put()), D3DERR_INVALIDCALL);
    ::setenv("MIPFORGE_NO_DEVICE", "1", 1);
    EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_REF, nullptr, 0, &pp, dev.put()), D3DERR_NOTAVAILABLE);
    EXPECT_FALSE(dev);
    ::unsetenv("MIPFORGE_NO_DEVICE");
    EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_REF, nullptr, 0, &pp, dev.put()), S_OK);
}

TEST_F(Device, ZeroLevelsMeansTheFullChain)
{
    auto t = Create(1024, 256, 0, D3DFMT_DXT1);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->GetLevelCount(), 11u);
    D3DSURFACE_DESC d{};
    ASSERT_EQ(t->GetLevelDesc(10, &d), S_OK);
    EXPECT_EQ(d.Width, 1u);
    EXPECT_EQ(d.Height, 1u);
    EXPECT_EQ(d.Size, 8u);
    EXPECT_EQ(d.Format, D3DFMT_DXT1);
    EXPECT_EQ(d.Pool, D3DPOOL_MANAGED);
    ASSERT_EQ(t->GetLevelDesc(2, &d), S_OK);
    EXPECT_EQ(d.Width, 256u);
    EXPECT_EQ(d.Height, 64u);
    EXPECT_EQ(d.Size, 256u / 4 * 64 / 4 * 8);
    EXPECT_EQ(t->GetLevelDesc(11, &d), D3DERR_INVALIDCALL);
}

TEST_F(Device, CreationRejectsBadArguments)
{
    ComPtr<IDirect3DTexture8> t;
    EXPECT_EQ(device_->CreateTexture(0, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, t.put()), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->CreateTexture(4, 0, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, t.put()), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->CreateTexture(4, 4, 1, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, t.put()), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->CreateTexture(4, 4, 4, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, t.put()), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->CreateTexture(16385, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, t.put()), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, nullptr), D3DERR_INVALIDCALL);
    EXPECT_FALSE(t);
}

TEST_F(Device, ForcedCreationFailureHitsTheNthCall)
{
    D3D8Test_FailTextureCreation(2);
    auto a = Create(4, 4, 1, D3DFMT_L8);
    ComPtr<IDirect3DTexture8> b;
    EXPECT_EQ(device_->CreateTexture(4, 4, 1, 0, D3DFMT_L8, D3DPOOL_MANAGED, b.put()), E_OUTOFMEMORY);
    EXPECT_FALSE(b);
    auto c = Create(4, 4, 1, D3DFMT_L8);
    EXPECT_TRUE(a && c);
}

TEST_F(Device, MemoryStartsZeroedAndLevelsDoNotOverlap)
{
    auto t = Create(7, 5, 0, D3DFMT_R8G8B8);
    ASSERT_TRUE(t);
    for (UINT i = 0; i < t->GetLevelCount(); ++i) {
        D3DSURFACE_DESC d{};
        t->GetLevelDesc(i, &d);
        D3DLOCKED_RECT r{};
        ASSERT_EQ(t->LockRect(i, &r, nullptr, 0), S_OK);
        auto* bytes = static_cast<BYTE*>(r.pBits);
        for (UINT b = 0; b < d.Size; ++b)
            ASSERT_EQ(bytes[b], 0) << "level " << i;
        std::memset(bytes, 0xA0 + i, d.Size);
        ASSERT_EQ(t->UnlockRect(i), S_OK);
    }
    for (UINT i = 0; i < t->GetLevelCount(); ++i) {
        D3DSURFACE_DESC d{};
        t->GetLevelDesc(i, &d);
        D3DLOCKED_RECT r{};
        ASSERT_EQ(t->LockRect(i, &r, nullptr, D3DLOCK_READONLY), S_OK);
        auto* bytes = static_cast<BYTE*>(r.pBits);
        for (UINT b = 0; b < d.Size; ++b)
            ASSERT_EQ(bytes[b], 0xA0 + i);
        t->UnlockRect(i);
    }
}

TEST_F(Device, LockingRules)
{
    auto t = Create(16, 16, 0, D3DFMT_A8R8G8B8);
    D3DLOCKED_RECT r{};
    EXPECT_EQ(t->UnlockRect(0), D3DERR_INVALIDCALL) << "not locked";
    ASSERT_EQ(t->LockRect(0, &r, nullptr, 0), S_OK);
    EXPECT_EQ(r.Pitch, 64);
    D3DLOCKED_RECT again{};
    EXPECT_EQ(t->LockRect(0, &again, nullptr, D3DLOCK_READONLY), D3DERR_INVALIDCALL) << "already locked";

    ComPtr<IDirect3DSurface8> s;
    ASSERT_EQ(t->GetSurfaceLevel(0, s.put()), S_OK);
    EXPECT_EQ(s->LockRect(&again, nullptr, 0), D3DERR_INVALIDCALL) << "the surface shares the level's lock";
    EXPECT_EQ(t->LockRect(1, &again, nullptr, 0), S_OK) << "other levels lock independently";
    EXPECT_EQ(again.Pitch, 32);
    EXPECT_EQ(t->UnlockRect(1), S_OK);
    EXPECT_EQ(t->UnlockRect(0), S_OK);
    EXPECT_EQ(s->LockRect(&again, nullptr, 0), S_OK);
    EXPECT_EQ(again.pBits, r.pBits);
    EXPECT_EQ(s->UnlockRect(), S_OK);
    EXPECT_EQ(s->UnlockRect(), D3DERR_INVALIDCALL);
    EXPECT_EQ(t->LockRect(5, &r, nullptr, 0), D3DERR_INVALIDCALL) << "level out of range";
}

TEST_F(Device, LockingARectangle)
{
    auto t = Create(16, 8, 1, D3DFMT_A8R8G8B8);
    D3DLOCKED_RECT whole{}, part{};
    ASSERT_EQ(t->LockRect(0, &whole, nullptr, 0), S_OK);
    t->UnlockRect(0);
    RECT rc{2, 3, 6, 8};
    ASSERT_EQ(t->LockRect(0, &part, &rc, 0), S_OK);
    EXPECT_EQ(static_cast<BYTE*>(part.pBits) - static_cast<BYTE*>(whole.pBits), 3 * 64 + 2 * 4);
    t->UnlockRect(0);
    RECT outside{0, 0, 17, 1};
    EXPECT_EQ(t->LockRect(0, &part, &outside, 0), D3DERR_INVALIDCALL);
    RECT empty{3, 3, 3, 4};
    EXPECT_EQ(t->LockRect(0, &part, &empty, 0), D3DERR_INVALIDCALL);

    auto dxt = Create(16, 16, 1, D3DFMT_DXT5);
    RECT misaligned{2, 0, 8, 4};
    EXPECT_EQ(dxt->LockRect(0, &part, &misaligned, 0), D3DERR_INVALIDCALL);
    RECT block{4, 8, 8, 12};
    ASSERT_EQ(dxt->LockRect(0, &whole, nullptr, 0), S_OK);
    dxt->UnlockRect(0);
    ASSERT_EQ(dxt->LockRect(0, &part, &block, 0), S_OK);
    EXPECT_EQ(static_cast<BYTE*>(part.pBits) - static_cast<BYTE*>(whole.pBits), 2 * 64 + 16);
    dxt->UnlockRect(0);
}

TEST_F(Device, SurfacesKeepTheirTextureAlive)
{
    IDirect3DTexture8* raw = nullptr;
    ASSERT_EQ(device_->CreateTexture(8, 8, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &raw), S_OK);
    IDirect3DSurface8* s = nullptr;
    ASSERT_EQ(raw->GetSurfaceLevel(2, &s), S_OK);
    EXPECT_EQ(raw->AddRef(), 3u) << "caller, surface";
    EXPECT_EQ(raw->Release(), 2u);
    EXPECT_EQ(raw->Release(), 1u) << "the surface still holds it";
    EXPECT_EQ(D3D8Test_LiveTextures(), live_ + 1);
    D3DSURFACE_DESC d{};
    ASSERT_EQ(s->GetDesc(&d), S_OK);
    EXPECT_EQ(d.Width, 2u);
    IDirect3DTexture8* container = nullptr;
    ASSERT_EQ(s->GetContainer(&container), S_OK);
    EXPECT_EQ(container, raw);
    container->Release();
    EXPECT_EQ(s->Release(), 0u);
    EXPECT_EQ(D3D8Test_LiveTextures(), live_);
}

TEST_F(Device, TexturesHoldTheirDevice)
{
    auto t = Create(4, 4, 1, D3DFMT_DXT1);
    IDirect3DDevice8* dev = nullptr;
    ASSERT_EQ(t->GetDevice(&dev), S_OK);
    EXPECT_EQ(dev, device_.get());
    dev->Release();
    t.reset();
}

TEST_F(Device, EveryFormatCreatesAndLocks)
{
    for (const FormatInfo& f : D3DFormatTable()) {
        auto t = Create(13, 6, 0, f.format);
        ASSERT_TRUE(t) << f.name;
        EXPECT_EQ(t->GetLevelCount(), 4u);
        for (UINT i = 0; i < 4; ++i) {
            D3DSURFACE_DESC d{};
            ASSERT_EQ(t->GetLevelDesc(i, &d), S_OK);
            D3DLOCKED_RECT r{};
            ASSERT_EQ(t->LockRect(i, &r, nullptr, 0), S_OK);
            auto expect = D3DLevelLayout(f.format, 13, 6, i);
            EXPECT_EQ(std::uint64_t(r.Pitch), expect->pitch);
            EXPECT_EQ(d.Size, expect->size);
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(r.pBits) % 64, 0u) << "levels start 64-byte aligned";
            EXPECT_EQ(t->UnlockRect(i), S_OK);
        }
    }
}

} // namespace
