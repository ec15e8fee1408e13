// Shared set-up of the image reader tests: a device, captured dprintf
// output, files in a temporary folder, and texture levels read back as RGBA.
#pragma once

#include "platform/d3d8/comptr.h"
#include "platform/d3d8/d3d8.h"
#include "platform/d3dx8/d3dx8.h"
#include "tests/support/testutil.h"
#include "tools/samplegen.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace imageio {

using samplegen::Rgba;

// A texel as the format stores it, widened to 8 bits a channel (5 and 6-bit
// channels by bit replication, 4-bit by repeating the nibble).
Rgba ReadTexel(const BYTE* p, D3DFORMAT format, const PALETTEENTRY* palette);
// What a source pixel becomes once stored in `format` and read back.
Rgba Quantise(Rgba source, D3DFORMAT format);
// Every texel of level `level`, rows top-down.
std::vector<Rgba> ReadLevel(IDirect3DTexture8* texture, UINT level, const PALETTEENTRY* palette = nullptr);
// The raw bytes of a level without row padding.
std::vector<BYTE> LevelBytes(IDirect3DTexture8* texture, UINT level);

class ImageTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Loads bytes as the general file loader does, in the file's own format
    // with only the top level (no chain, so no filter is involved).
    HRESULT LoadTop(const std::vector<std::uint8_t>& bytes, ComPtr<IDirect3DTexture8>& texture,
                    PALETTEENTRY* palette = nullptr, D3DXIMAGE_INFO* info = nullptr);
    std::string Save(const std::string& name, const std::vector<std::uint8_t>& bytes);
    // The dprintf output since the test began (or since the last Clear).
    const std::string& Output() const { return s_output; }
    void ClearOutput() { s_output.clear(); }

    ComPtr<IDirect3D8> d3d_;
    ComPtr<IDirect3DDevice8> device_;
    testutil::TempDir dir_;
    long liveTextures_ = 0;

private:
    static void Capture(const char* text);
    static std::string s_output;
};

} // namespace imageio
