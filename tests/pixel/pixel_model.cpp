#include "tests/pixel/pixel_model.h"

#include "platform/d3dx8/d3dx8.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace model {

namespace {

enum class Kind { Rgb, Lum, Pal, Yuv, Block };

struct Field {
    int shift = 0, bits = 0;
    bool sign = false;
};

struct Layout {
    D3DFORMAT format;
    const char* name;
    Kind kind;
    int bytes;
    Field r, g, b, a;  // luminance formats: r is L
};

constexpr Field U(int shift, int bits) { return {shift, bits, false}; }
constexpr Field S(int shift, int bits) { return {shift, bits, true}; }
constexpr Field None{};

// Bit layouts, least significant bit 0, in the order of the format-name table.
const Layout kLayouts[] = {
    {D3DFMT_R8G8B8, "R8G8B8", Kind::Rgb, 3, U(16, 8), U(8, 8), U(0, 8), None},
    {D3DFMT_A8R8G8B8, "A8R8G8B8", Kind::Rgb, 4, U(16, 8), U(8, 8), U(0, 8), U(24, 8)},
    {D3DFMT_X8R8G8B8, "X8R8G8B8", Kind::Rgb, 4, U(16, 8), U(8, 8), U(0, 8), None},
    {D3DFMT_R5G6B5, "R5G6B5", Kind::Rgb, 2, U(11, 5), U(5, 6), U(0, 5), None},
    {D3DFMT_X1R5G5B5, "X1R5G5B5", Kind::Rgb, 2, U(10, 5), U(5, 5), U(0, 5), None},
    {D3DFMT_A1R5G5B5, "A1R5G5B5", Kind::Rgb, 2, U(10, 5), U(5, 5), U(0, 5), U(15, 1)},
    {D3DFMT_A4R4G4B4, "A4R4G4B4", Kind::Rgb, 2, U(8, 4), U(4, 4), U(0, 4), U(12, 4)},
    {D3DFMT_R3G3B2, "R3G3B2", Kind::Rgb, 1, U(5, 3), U(2, 3), U(0, 2), None},
    {D3DFMT_A8, "A8", Kind::Rgb, 1, None, None, None, U(0, 8)},
    {D3DFMT_A8R3G3B2, "A8R3G3B2", Kind::Rgb, 2, U(5, 3), U(2, 3), U(0, 2), U(8, 8)},
    {D3DFMT_X4R4G4B4, "X4R4G4B4", Kind::Rgb, 2, U(8, 4), U(4, 4), U(0, 4), None},
    {D3DFMT_A2B10G10R10, "A2B10G10R10", Kind::Rgb, 4, U(0, 10), U(10, 10), U(20, 10), U(30, 2)},
    {D3DFMT_G16R16, "G16R16", Kind::Rgb, 4, U(0, 16), U(16, 16), None, None},
    {D3DFMT_A8P8, "A8P8", Kind::Pal, 2, None, None, None, U(8, 8)},
    {D3DFMT_P8, "P8", Kind::Pal, 1, None, None, None, None},
    {D3DFMT_L8, "L8", Kind::Lum, 1, U(0, 8), None, None, None},
    {D3DFMT_A8L8, "A8L8", Kind::Lum, 2, U(0, 8), None, None, U(8, 8)},
    {D3DFMT_A4L4, "A4L4", Kind::Lum, 1, U(0, 4), None, None, U(4, 4)},
    {D3DFMT_V8U8, "V8U8", Kind::Rgb, 2, S(0, 8), S(8, 8), None, None},
    {D3DFMT_L6V5U5, "L6V5U5", Kind::Rgb, 2, S(0, 5), S(5, 5), None, U(10, 6)},
    {D3DFMT_X8L8V8U8, "X8L8V8U8", Kind::Rgb, 4, S(0, 8), S(8, 8), None, U(16, 8)},
    {D3DFMT_Q8W8V8U8, "Q8W8V8U8", Kind::Rgb, 4, S(0, 8), S(8, 8), S(16, 8), S(24, 8)},
    {D3DFMT_V16U16, "V16U16", Kind::Rgb, 4, S(0, 16), S(16, 16), None, None},
    {D3DFMT_W11V11U10, "W11V11U10", Kind::Rgb, 4, S(0, 10), S(10, 11), S(21, 11), None},
    {D3DFMT_A2W10V10U10, "A2W10V10U10", Kind::Rgb, 4, S(0, 10), S(10, 10), S(20, 10), U(30, 2)},
    {D3DFMT_UYVY, "UYVY", Kind::Yuv, 4, None, None, None, None},
    {D3DFMT_YUY2, "YUY2", Kind::Yuv, 4, None, None, None, None},
    {D3DFMT_DXT1, "DXT1", Kind::Block, 8, None, None, None, None},
    {D3DFMT_DXT2, "DXT2", Kind::Block, 16, None, None, None, None},
    {D3DFMT_DXT3, "DXT3", Kind::Block, 16, None, None, None, None},
    {D3DFMT_DXT4, "DXT4", Kind::Block, 16, None, None, None, None},
    {D3DFMT_DXT5, "DXT5", Kind::Block, 16, None, None, None, None},
};

const Layout& LayoutOf(D3DFORMAT f)
{
    for (const Layout& s : kLayouts)
        if (s.format == f)
            return s;
    ADD_FAILURE() << "no model for format " << f;
    return kLayouts[0];
}

// Nearest integer, halves up; flags values within a hair of a half.
long Round(double x, bool& tie)
{
    double f = x - std::floor(x);
    if (std::abs(f - 0.5) < 1e-6)
        tie = true;
    return static_cast<long>(std::floor(x + 0.5 + 1e-9));
}

double StoreField(const Field& f, double c, double absent, bool& tie)
{
    if (f.bits == 0)
        return absent;
    c = std::clamp(c, 0.0, 1.0);
    if (!f.sign) {
        const double max = std::ldexp(1.0, f.bits) - 1;
        return Round(c * max, tie) / max;
    }
    const double m = std::ldexp(1.0, f.bits - 1) - 1;
    const long k = Round((2 * c - 1) * m, tie);
    return (k / m + 1) / 2;
}

double ReadField(const Field& f, std::uint32_t v, double absent)
{
    if (f.bits == 0)
        return absent;
    const std::uint32_t raw = (v >> f.shift) & ((1u << f.bits) - 1);
    if (!f.sign)
        return raw / (std::ldexp(1.0, f.bits) - 1);
    const long half = 1L << (f.bits - 1);
    long k = raw >= std::uint32_t(half) ? long(raw) - 2 * half : long(raw);
    const double s = std::max(-1.0, k / double(half - 1));
    return (s + 1) / 2;
}

double Luma(double r, double g, double b) { return 0.299 * r + 0.587 * g + 0.114 * b; }

// Studio-range YCbCr as a matrix on (R, G, B) in [0, 1]; decoding solves it.
struct YuvMatrix {
    double m[3][3];
    YuvMatrix()
    {
        const double kr = 0.299, kb = 0.114, kg = 1 - kr - kb;
        const double y[3] = {kr, kg, kb};
        for (int i = 0; i < 3; ++i) {
            m[0][i] = 219 * y[i];
            m[1][i] = 224 * ((i == 2) - y[i]) / (2 * (1 - kb));
            m[2][i] = 224 * ((i == 0) - y[i]) / (2 * (1 - kr));
        }
    }
    void Solve(const double rhs[3], double out[3]) const
    {
        auto det = [](const double a[3][3]) {
            return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                   a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
        };
        const double d = det(m);
        for (int c = 0; c < 3; ++c) {
            double t[3][3];
            std::memcpy(t, m, sizeof t);
            for (int r = 0; r < 3; ++r)
                t[r][c] = rhs[r];
            out[c] = det(t) / d;
        }
    }
};

const YuvMatrix kYuv;

Rgba DecodeYuv(int y, int cb, int cr)
{
    double rgb[3];
    DecodeYuvUnclamped(y, cb, cr, rgb);
    return {std::clamp(rgb[0], 0.0, 1.0), std::clamp(rgb[1], 0.0, 1.0), std::clamp(rgb[2], 0.0, 1.0), 1.0};
}

void EncodeYuv(const Rgba& c, double out[3])
{
    const double rgb[3] = {c.r, c.g, c.b};
    const double offset[3] = {16, 128, 128};
    for (int i = 0; i < 3; ++i)
        out[i] = offset[i] + kYuv.m[i][0] * rgb[0] + kYuv.m[i][1] * rgb[1] + kYuv.m[i][2] * rgb[2];
}

std::uint8_t Byte8(double c, bool& tie) { return static_cast<std::uint8_t>(std::clamp<long>(Round(c * 255, tie), 0, 255)); }

} // namespace

void DecodeYuvUnclamped(int y, int cb, int cr, double rgb[3])
{
    const double rhs[3] = {y - 16.0, cb - 128.0, cr - 128.0};
    kYuv.Solve(rhs, rgb);
}

std::vector<D3DFORMAT> AllFormats()
{
    std::vector<D3DFORMAT> all;
    for (const Layout& s : kLayouts)
        all.push_back(s.format);
    return all;
}

std::vector<D3DFORMAT> UncompressedFormats()
{
    std::vector<D3DFORMAT> all;
    for (const Layout& s : kLayouts)
        if (s.kind != Kind::Block)
            all.push_back(s.format);
    return all;
}

bool IsBlock(D3DFORMAT f) { return LayoutOf(f).kind == Kind::Block; }
bool IsYuv(D3DFORMAT f) { return LayoutOf(f).kind == Kind::Yuv; }
bool IsPalette(D3DFORMAT f) { return LayoutOf(f).kind == Kind::Pal; }
const char* Name(D3DFORMAT f) { return LayoutOf(f).name; }

Image Store(D3DFORMAT format, const Image& in, const PALETTEENTRY* palette)
{
    const Layout& s = LayoutOf(format);
    Image out = in;
    for (UINT y = 0; y < in.height; ++y) {
        for (UINT x = 0; x < in.width; ++x) {
            const Rgba& c = in.at(x, y);
            Rgba& o = out.at(x, y);
            bool tie = c.tie;
            switch (s.kind) {
            case Kind::Rgb:
                o = {StoreField(s.r, c.r, 0, tie), StoreField(s.g, c.g, 0, tie), StoreField(s.b, c.b, 0, tie),
                     StoreField(s.a, c.a, 1, tie)};
                break;
            case Kind::Lum: {
                double l = StoreField(s.r, Luma(c.r, c.g, c.b), 0, tie);
                o = {l, l, l, StoreField(s.a, c.a, 1, tie)};
                break;
            }
            case Kind::Pal: {
                const int r = Byte8(c.r, tie), g = Byte8(c.g, tie), b = Byte8(c.b, tie), a = Byte8(c.a, tie);
                const bool p8 = format == D3DFMT_P8;
                int index = 0;
                if (!palette) {
                    index = static_cast<int>(std::clamp<long>(Round(Luma(r, g, b), tie), 0, 255));
                } else {
                    long best = -1;
                    for (int i = 0; i < 256; ++i) {
                        const PALETTEENTRY& e = palette[i];
                        long d = long(e.peRed - r) * (e.peRed - r) + long(e.peGreen - g) * (e.peGreen - g) +
                                 long(e.peBlue - b) * (e.peBlue - b);
                        if (p8)
                            d += long(e.peFlags - a) * (e.peFlags - a);
                        if (best < 0 || d < best)
                            best = d, index = i;
                    }
                }
                if (palette)
                    o = {palette[index].peRed / 255.0, palette[index].peGreen / 255.0, palette[index].peBlue / 255.0,
                         palette[index].peFlags / 255.0};
                else
                    o = {index / 255.0, index / 255.0, index / 255.0, 1.0};
                if (!p8)
                    o.a = a / 255.0;
                break;
            }
            case Kind::Yuv:
            case Kind::Block:
                break;
            }
            o.tie = tie;
        }
        if (s.kind == Kind::Yuv) {
            for (UINT x = 0; x < in.width; x += 2) {
                const Rgba& p = in.at(x, y);
                const Rgba& q = x + 1 < in.width ? in.at(x + 1, y) : p;
                double e0[3], e1[3];
                EncodeYuv(p, e0);
                EncodeYuv(q, e1);
                bool tie = p.tie || q.tie;
                const int y0 = static_cast<int>(Round(e0[0], tie)), y1 = static_cast<int>(Round(e1[0], tie));
                const int cb = static_cast<int>(Round((e0[1] + e1[1]) / 2, tie));
                const int cr = static_cast<int>(Round((e0[2] + e1[2]) / 2, tie));
                out.at(x, y) = DecodeYuv(y0, cb, cr);
                out.at(x, y).tie = tie;
                if (x + 1 < in.width) {
                    out.at(x + 1, y) = DecodeYuv(y1, cb, cr);
                    out.at(x + 1, y).tie = tie;
                }
            }
        }
    }
    return out;
}

Image Decode(D3DFORMAT format, const std::uint8_t* bits, std::size_t pitch, UINT width, UINT height,
             const PALETTEENTRY* palette)
{
    const Layout& s = LayoutOf(format);
    Image out{width, height, std::vector<Rgba>(std::size_t(width) * height)};
    for (UINT y = 0; y < height; ++y) {
        const std::uint8_t* row = bits + y * pitch;
        for (UINT x = 0; x < width; ++x) {
            Rgba& o = out.at(x, y);
            if (s.kind == Kind::Yuv) {
                const std::uint8_t* m = row + (x / 2) * 4;
                const bool uyvy = format == D3DFMT_UYVY;
                const int luma = uyvy ? m[1 + 2 * (x & 1)] : m[2 * (x & 1)];
                o = DecodeYuv(luma, uyvy ? m[0] : m[1], uyvy ? m[2] : m[3]);
                continue;
            }
            std::uint32_t v = 0;
            for (int i = 0; i < s.bytes; ++i)
                v |= std::uint32_t{row[x * s.bytes + i]} << (8 * i);
            if (s.kind == Kind::Pal) {
                const int index = v & 0xFF;
                if (palette)
                    o = {palette[index].peRed / 255.0, palette[index].peGreen / 255.0, palette[index].peBlue / 255.0,
                         palette[index].peFlags / 255.0};
                else
                    o = {index / 255.0, index / 255.0, index / 255.0, 1.0};
                if (format == D3DFMT_A8P8)
                    o.a = (v >> 8) / 255.0;
            } else if (s.kind == Kind::Lum) {
                const double l = ReadField(s.r, v, 0);
                o = {l, l, l, ReadField(s.a, v, 1)};
            } else {
                o = {ReadField(s.r, v, 0), ReadField(s.g, v, 0), ReadField(s.b, v, 0), ReadField(s.a, v, 1)};
            }
        }
    }
    return out;
}

Image RandomImage(UINT width, UINT height, std::uint32_t seed)
{
    Random random(seed);
    Image image{width, height, std::vector<Rgba>(std::size_t(width) * height)};
    for (Rgba& c : image.pixels)
        c = {random.Byte() / 255.0, random.Byte() / 255.0, random.Byte() / 255.0, random.Byte() / 255.0};
    return image;
}

std::vector<PALETTEENTRY> RandomPalette(std::uint32_t seed)
{
    Random random(seed);
    std::vector<PALETTEENTRY> palette(256);
    for (PALETTEENTRY& e : palette)
        e = {BYTE(random.Byte()), BYTE(random.Byte()), BYTE(random.Byte()), BYTE(random.Byte())};
    return palette;
}

std::uint32_t ToArgb(const Rgba& c)
{
    bool tie = false;
    return std::uint32_t{Byte8(c.a, tie)} << 24 | std::uint32_t{Byte8(c.r, tie)} << 16 |
           std::uint32_t{Byte8(c.g, tie)} << 8 | Byte8(c.b, tie);
}

Rgba FromArgb(std::uint32_t v)
{
    return {((v >> 16) & 0xFF) / 255.0, ((v >> 8) & 0xFF) / 255.0, (v & 0xFF) / 255.0, (v >> 24) / 255.0};
}

Textures::Textures()
{
    d3d_.reset(Direct3DCreate8(D3D_SDK_VERSION));
    D3DPRESENT_PARAMETERS pp{};
    pp.Windowed = TRUE;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    pp.BackBufferFormat = D3DFMT_X8R8G8B8;
    EXPECT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_REF, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, device_.put()),
              S_OK);
}

Textures::~Textures() = default;

ComPtr<IDirect3DTexture8> Textures::Make(D3DFORMAT format, UINT width, UINT height, UINT levels)
{
    ComPtr<IDirect3DTexture8> t;
    EXPECT_EQ(device_->CreateTexture(width, height, levels, 0, format, D3DPOOL_MANAGED, t.put()), S_OK);
    return t;
}

ComPtr<IDirect3DTexture8> Textures::FromImage(const Image& image)
{
    ComPtr<IDirect3DTexture8> t = Make(D3DFMT_A8R8G8B8, image.width, image.height);
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(t->LockRect(0, &locked, nullptr, 0), S_OK);
    for (UINT y = 0; y < image.height; ++y)
        for (UINT x = 0; x < image.width; ++x) {
            const std::uint32_t v = ToArgb(image.at(x, y));
            std::memcpy(static_cast<std::uint8_t*>(locked.pBits) + y * locked.Pitch + x * 4, &v, 4);
        }
    t->UnlockRect(0);
    return t;
}

ComPtr<IDirect3DSurface8> Level(IDirect3DTexture8* texture, UINT level)
{
    ComPtr<IDirect3DSurface8> s;
    EXPECT_EQ(texture->GetSurfaceLevel(level, s.put()), S_OK);
    return s;
}

std::vector<std::uint8_t> Bytes(IDirect3DTexture8* texture, UINT level)
{
    D3DSURFACE_DESC d{};
    texture->GetLevelDesc(level, &d);
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(texture->LockRect(level, &locked, nullptr, D3DLOCK_READONLY), S_OK);
    const auto* p = static_cast<const std::uint8_t*>(locked.pBits);
    std::vector<std::uint8_t> bytes(p, p + d.Size);
    texture->UnlockRect(level);
    return bytes;
}

Image Read(IDirect3DTexture8* texture, const PALETTEENTRY* palette, UINT level)
{
    D3DSURFACE_DESC d{};
    texture->GetLevelDesc(level, &d);
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(texture->LockRect(level, &locked, nullptr, D3DLOCK_READONLY), S_OK);
    Image image = Decode(d.Format, static_cast<const std::uint8_t*>(locked.pBits), std::size_t(locked.Pitch), d.Width,
                         d.Height, palette);
    texture->UnlockRect(level);
    return image;
}

std::vector<std::uint32_t> ReadArgb(IDirect3DTexture8* texture, const PALETTEENTRY* palette, UINT level)
{
    D3DSURFACE_DESC d{};
    texture->GetLevelDesc(level, &d);
    ComPtr<IDirect3DDevice8> device;
    texture->GetDevice(device.put());
    ComPtr<IDirect3DTexture8> argb;
    EXPECT_EQ(device->CreateTexture(d.Width, d.Height, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, argb.put()), S_OK);
    EXPECT_EQ(D3DXLoadSurfaceFromSurface(Level(argb.get()).get(), nullptr, nullptr, Level(texture, level).get(), palette,
                                         nullptr, D3DX_FILTER_NONE, 0),
              S_OK)
        << D3DXGetLastErrorText();
    std::vector<std::uint32_t> out;
    const std::vector<std::uint8_t> bytes = Bytes(argb.get());
    for (UINT y = 0; y < d.Height; ++y)
        for (UINT x = 0; x < d.Width; ++x) {
            std::uint32_t v;
            std::memcpy(&v, &bytes[(std::size_t(y) * ((d.Width * 4 + 3) & ~3u)) + x * 4], 4);
            out.push_back(v);
        }
    return out;
}

} // namespace model
