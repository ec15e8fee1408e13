#include "tests/containers/fixture.h"

#include "converter/device.h"
#include "engine/basekit/dprintf.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

namespace containers {

std::string& Printed()
{
    static std::string text;
    return text;
}

void DeviceTest::SetUp()
{
    Printed().clear();
    pDPrintOutputProc = [](const char* text) { Printed() += text; };
    ASSERT_EQ(OpenRenderingDevice(&d3d_, &device_), S_OK);
}

void DeviceTest::TearDown()
{
    pDPrintOutputProc = nullptr;
    if (device_)
        device_->Release();
    if (d3d_)
        d3d_->Release();
}

ComPtr<IDirect3DTexture8> DeviceTest::MakeTexture(UINT w, UINT h, UINT levels, D3DFORMAT format, unsigned seed)
{
    ComPtr<IDirect3DTexture8> t;
    EXPECT_EQ(device_->CreateTexture(w, h, levels, 0, format, D3DPOOL_MANAGED, t.put()), S_OK);
    if (!t)
        return t;
    for (UINT i = 0; i < t->GetLevelCount(); ++i) {
        D3DSURFACE_DESC desc{};
        D3DLOCKED_RECT locked{};
        t->GetLevelDesc(i, &desc);
        EXPECT_EQ(t->LockRect(i, &locked, nullptr, 0), S_OK);
        auto* bytes = static_cast<std::uint8_t*>(locked.pBits);
        std::uint32_t x = seed * 2654435761u + i * 40503u + 1;
        for (UINT k = 0; k < desc.Size; ++k) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            bytes[k] = static_cast<std::uint8_t>(x);
        }
        t->UnlockRect(i);
    }
    return t;
}

ComPtr<IDirect3DTexture8> DeviceTest::Altered(IDirect3DTexture8* source, UINT level)
{
    D3DSURFACE_DESC desc{};
    source->GetLevelDesc(0, &desc);
    ComPtr<IDirect3DTexture8> t;
    EXPECT_EQ(device_->CreateTexture(desc.Width, desc.Height, source->GetLevelCount(), 0, desc.Format,
                                     D3DPOOL_MANAGED, t.put()),
              S_OK);
    for (UINT i = 0; i < t->GetLevelCount(); ++i) {
        auto bytes = LevelBytes(source, i);
        if (i == level)
            bytes[0] ^= 0x5a;
        D3DLOCKED_RECT locked{};
        t->LockRect(i, &locked, nullptr, 0);
        std::memcpy(locked.pBits, bytes.data(), bytes.size());
        t->UnlockRect(i);
    }
    return t;
}

void WriteFresh(const std::string& path, const void* data, std::size_t size)
{
    std::filesystem::remove(path);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(std::fwrite(data, 1, size, f), size);
    std::fclose(f);
}

int CountRefusedCorruptions(const std::vector<std::uint8_t>& bytes, std::size_t end,
                            std::initializer_list<std::uint32_t> values, const std::string& path,
                            const std::function<bool()>& open)
{
    int refused = 0;
    for (std::size_t at = 0; at + 4 <= end && at + 4 <= bytes.size(); at += 4)
        for (std::uint32_t v : values) {
            auto copy = bytes;
            std::memcpy(copy.data() + at, &v, 4);
            WriteFresh(path, copy.data(), copy.size());
            if (!open())
                ++refused;
        }
    return refused;
}

std::vector<std::uint8_t> LevelBytes(IDirect3DTexture8* texture, UINT level)
{
    D3DSURFACE_DESC desc{};
    D3DLOCKED_RECT locked{};
    texture->GetLevelDesc(level, &desc);
    if (FAILED(texture->LockRect(level, &locked, nullptr, D3DLOCK_READONLY)))
        return {};
    const auto* p = static_cast<const std::uint8_t*>(locked.pBits);
    std::vector<std::uint8_t> bytes(p, p + desc.Size);
    texture->UnlockRect(level);
    return bytes;
}

} // namespace containers
