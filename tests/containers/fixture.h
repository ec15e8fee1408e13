// Shared pieces of the container tests: a device, textures with known
// bytes, the converter's printed text, and little-endian field reads.
#pragma once

#include "platform/d3d8/comptr.h"
#include "platform/d3d8/d3d8.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace containers {

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A w x h texture of `format` with `levels` levels (0: full chain),
    // every byte of every level derived from `seed` and its position.
    ComPtr<IDirect3DTexture8> MakeTexture(UINT w, UINT h, UINT levels, D3DFORMAT format, unsigned seed);
    // A copy of `source` with one byte of level `level` changed.
    ComPtr<IDirect3DTexture8> Altered(IDirect3DTexture8* source, UINT level);

    IDirect3D8* d3d_ = nullptr;
    IDirect3DDevice8* device_ = nullptr;
};

// Everything printed through dprintf since the test's SetUp.
std::string& Printed();

// The bytes of level `level` of `texture`, as the level's size says.
std::vector<std::uint8_t> LevelBytes(IDirect3DTexture8* texture, UINT level);

// Writes a new file in place of `path`.  Removing first instead of
// truncating keeps ext4 from flushing the file at every close, which makes
// loops over thousands of damaged variants slow.
void WriteFresh(const std::string& path, const void* data, std::size_t size);

// Writes `bytes` to `path` once for every 4-byte word below `end` replaced
// by each of `values`, and calls `open` on each variant; returns how many
// variants `open` refused (returned false for).
int CountRefusedCorruptions(const std::vector<std::uint8_t>& bytes, std::size_t end,
                            std::initializer_list<std::uint32_t> values, const std::string& path,
                            const std::function<bool()>& open);

inline std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return std::uint32_t{b.at(at)} | std::uint32_t{b.at(at + 1)} << 8 | std::uint32_t{b.at(at + 2)} << 16 |
           std::uint32_t{b.at(at + 3)} << 24;
}
// The absolute offset a self-relative reference at `at` points to (0: null).
inline std::int64_t Ref(const std::vector<std::uint8_t>& b, std::size_t at)
{
    const auto raw = static_cast<std::int32_t>(U32(b, at));
    return raw == 0 ? 0 : static_cast<std::int64_t>(at) + raw;
}

} // namespace containers
