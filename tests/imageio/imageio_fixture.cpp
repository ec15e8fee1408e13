#include "tests/imageio/imageio_fixture.h"

#include "engine/basekit/dprintf.h"
#include "platform/d3dx8/image/imagefile.h"

#include <cstring>

namespace imageio {

std::string ImageTest::s_output;

namespace {

BYTE Widen(unsigned v, unsigned bits)
{
    if (bits == 0)
        return 255;
    unsigned out = 0;
    for (int shift = 8 - static_cast<int>(bits); shift > -static_cast<int>(bits); shift -= static_cast<int>(bits))
        out |= shift >= 0 ? v << shift : v >> -shift;
    return static_cast<BYTE>(out & 0xFF);
}

} // namespace

Rgba ReadTexel(const BYTE* p, D3DFORMAT format, const PALETTEENTRY* palette)
{
    const unsigned bits = D3DFormatInfo(format) ? D3DFormatInfo(format)->bitsPerPixel : 0;
    const unsigned w16 = bits == 16 ? p[0] | (p[1] << 8) : 0;
    switch (format) {
    case D3DFMT_A8R8G8B8: return {p[2], p[1], p[0], p[3]};
    case D3DFMT_X8R8G8B8: return {p[2], p[1], p[0], 255};
    case D3DFMT_R8G8B8: return {p[2], p[1], p[0], 255};
    case D3DFMT_R5G6B5: return {Widen(w16 >> 11, 5), Widen((w16 >> 5) & 63, 6), Widen(w16 & 31, 5), 255};
    case D3DFMT_X1R5G5B5:
        return {Widen((w16 >> 10) & 31, 5), Widen((w16 >> 5) & 31, 5), Widen(w16 & 31, 5), 255};
    case D3DFMT_A1R5G5B5:
        return {Widen((w16 >> 10) & 31, 5), Widen((w16 >> 5) & 31, 5), Widen(w16 & 31, 5),
                static_cast<BYTE>(w16 & 0x8000 ? 255 : 0)};
    case D3DFMT_A4R4G4B4:
        return {Widen((w16 >> 8) & 15, 4), Widen((w16 >> 4) & 15, 4), Widen(w16 & 15, 4), Widen(w16 >> 12, 4)};
    case D3DFMT_L8: return {p[0], p[0], p[0], 255};
    case D3DFMT_A8L8: return {p[0], p[0], p[0], p[1]};
    case D3DFMT_A8: return {0, 0, 0, p[0]};
    case D3DFMT_P8: {
        const PALETTEENTRY e = palette ? palette[p[0]] : PALETTEENTRY{p[0], p[0], p[0], 255};
        return {e.peRed, e.peGreen, e.peBlue, e.peFlags};
    }
    default: ADD_FAILURE() << "no test reader for format " << format; return {};
    }
}

Rgba Quantise(Rgba s, D3DFORMAT format)
{
    switch (format) {
    case D3DFMT_A8R8G8B8: return s;
    case D3DFMT_X8R8G8B8: return {s.r, s.g, s.b, 255};
    case D3DFMT_R5G6B5: return {Widen(s.r >> 3, 5), Widen(s.g >> 2, 6), Widen(s.b >> 3, 5), 255};
    case D3DFMT_X1R5G5B5: return {Widen(s.r >> 3, 5), Widen(s.g >> 3, 5), Widen(s.b >> 3, 5), 255};
    case D3DFMT_A1R5G5B5:
        return {Widen(s.r >> 3, 5), Widen(s.g >> 3, 5), Widen(s.b >> 3, 5), static_cast<BYTE>(s.a >= 128 ? 255 : 0)};
    default: ADD_FAILURE() << "no quantiser for format " << format; return {};
    }
}

std::vector<BYTE> LevelBytes(IDirect3DTexture8* texture, UINT level)
{
    D3DSURFACE_DESC desc{};
    EXPECT_EQ(texture->GetLevelDesc(level, &desc), S_OK);
    const auto tight = d3dx::image::TightLevelOf(desc.Format, desc.Width, desc.Height, 0);
    if (tight.size() == 0)
        return {};
    const std::size_t rowBytes = static_cast<std::size_t>(tight.rowBytes);
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(texture->LockRect(level, &locked, nullptr, D3DLOCK_READONLY), S_OK);
    std::vector<BYTE> bytes(rowBytes * tight.rows);
    for (UINT r = 0; r < tight.rows; ++r)
        std::memcpy(bytes.data() + r * rowBytes, static_cast<BYTE*>(locked.pBits) + std::size_t{r} * locked.Pitch,
                    rowBytes);
    texture->UnlockRect(level);
    return bytes;
}

std::vector<Rgba> ReadLevel(IDirect3DTexture8* texture, UINT level, const PALETTEENTRY* palette)
{
    D3DSURFACE_DESC desc{};
    EXPECT_EQ(texture->GetLevelDesc(level, &desc), S_OK);
    const std::vector<BYTE> bytes = LevelBytes(texture, level);
    const std::size_t texel = D3DFormatInfo(desc.Format)->bitsPerPixel / 8;
    std::vector<Rgba> out;
    out.reserve(std::size_t{desc.Width} * desc.Height);
    for (std::size_t i = 0; i < std::size_t{desc.Width} * desc.Height; ++i)
        out.push_back(ReadTexel(bytes.data() + i * texel, desc.Format, palette));
    return out;
}

void ImageTest::Capture(const char* text) { s_output += text; }

void ImageTest::SetUp()
{
    s_output.clear();
    pDPrintOutputProc = Capture;
    d3d_.reset(Direct3DCreate8(D3D_SDK_VERSION));
    ASSERT_TRUE(d3d_);
    D3DPRESENT_PARAMETERS pp{};
    pp.Windowed = TRUE;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_REF, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp,
                                 device_.put()),
              S_OK);
    liveTextures_ = D3D8Test_LiveTextures();
}

void ImageTest::TearDown()
{
    pDPrintOutputProc = nullptr;
    D3D8Test_FailTextureCreation(0);
    EXPECT_EQ(D3D8Test_LiveTextures(), liveTextures_) << "a texture leaked";
}

HRESULT ImageTest::LoadTop(const std::vector<std::uint8_t>& bytes, ComPtr<IDirect3DTexture8>& texture,
                           PALETTEENTRY* palette, D3DXIMAGE_INFO* info)
{
    return D3DXCreateTextureFromFileInMemoryEx(device_.get(), bytes.data(), static_cast<UINT>(bytes.size()),
                                               D3DX_DEFAULT, D3DX_DEFAULT, 1, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED,
                                               D3DX_FILTER_NONE, D3DX_FILTER_BOX, 0, info, palette, texture.put());
}

std::string ImageTest::Save(const std::string& name, const std::vector<std::uint8_t>& bytes)
{
    testutil::WriteFile(dir_ / name, bytes);
    return (dir_ / name).string();
}

} // namespace imageio
