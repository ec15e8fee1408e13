// Tex_LoadFile and the mip-chain readers: which road a file takes, what each
// road gives, and the exact messages of every failure.
#include "converter/image/texload.h"
#include "tests/imageio/imageio_fixture.h"

#include "tests/imageio/dds_builder.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>

using namespace imageio;
using samplegen::BmpOptions;
using samplegen::Image;
using samplegen::TgaOptions;

namespace {

const Rgba kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255};

struct Loaded {
    ComPtr<IDirect3DTexture8> texture;
    std::unique_ptr<PALETTEENTRY[]> palette;
};

class Loader : public ImageTest {
protected:
    Loaded LoadFile(const std::string& path)
    {
        PALETTEENTRY* palette = reinterpret_cast<PALETTEENTRY*>(1);  // the loader must reset it
        Loaded out;
        out.texture.reset(Tex_LoadFile(path.c_str(), device_.get(), &palette));
        out.palette.reset(palette);
        return out;
    }

    static void ExpectSize(IDirect3DTexture8* t, UINT w, UINT h, UINT levels, D3DFORMAT format)
    {
        ASSERT_EQ(t->GetLevelCount(), levels);
        D3DSURFACE_DESC desc{};
        t->GetLevelDesc(0, &desc);
        EXPECT_EQ(desc.Width, w);
        EXPECT_EQ(desc.Height, h);
        EXPECT_EQ(desc.Format, format);
    }

    static void ExpectSolid(IDirect3DTexture8* t, UINT level, Rgba colour)
    {
        const std::vector<Rgba> texels = ReadLevel(t, level);
        for (std::size_t i = 0; i < texels.size(); ++i)
            ASSERT_EQ(texels[i], colour) << "level " << level << ", texel " << i;
    }
};

TEST_F(Loader, Bmp1024x1920GivesFourSolidLevelsWithOpaqueAlpha)
{
    // Magenta right of the smaller levels must not leak into them.
    const std::string path =
        Save("chain.bmp", samplegen::WriteBmp(samplegen::MakeMipChain(1024, 1024, {kRed, kGreen, kBlue, kWhite},
                                                                      {255, 0, 255})));
    Loaded r = LoadFile(path);
    ASSERT_TRUE(r.texture) << Output();
    EXPECT_FALSE(r.palette);
    ExpectSize(r.texture.get(), 1024, 1024, 4, D3DFMT_X8R8G8B8);
    const Rgba colours[] = {kRed, kGreen, kBlue, kWhite};
    for (UINT level = 0; level < 4; ++level) {
        ExpectSolid(r.texture.get(), level, colours[level]);
        // Alpha as stored in memory, not just as the test reader widens X8.
        const std::vector<BYTE> bytes = LevelBytes(r.texture.get(), level);
        for (std::size_t i = 3; i < bytes.size(); i += 4)
            ASSERT_EQ(bytes[i], 255) << "level " << level;
    }
    EXPECT_EQ(Output(), "");
}

TEST_F(Loader, BmpChainSizesAndPaddedRows)
{
    struct Case {
        int width, height;
        UINT top;
    } cases[] = {{512, 960, 512}, {128, 240, 128}, {2048, 1920, 1024}, {129, 240, 128}, {130, 480, 256}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height);
        // Every texel distinct, so a wrong row length shows.
        Image picture = samplegen::MakeGradient(c.width, c.height, false);
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x)
                picture.at(x, y).b = static_cast<std::uint8_t>(y * 7 + x);
        Loaded r = LoadFile(Save("chain.bmp", samplegen::WriteBmp(picture)));
        ASSERT_TRUE(r.texture) << Output();
        ExpectSize(r.texture.get(), c.width, c.top, 4, D3DFMT_X8R8G8B8);
        int row = 0;
        for (UINT level = 0; level < 4; ++level) {
            const std::vector<Rgba> texels = ReadLevel(r.texture.get(), level);
            const int w = std::max(1, c.width >> level), h = static_cast<int>(c.top >> level);
            ASSERT_EQ(texels.size(), static_cast<std::size_t>(w) * h);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    ASSERT_EQ(texels[static_cast<std::size_t>(y) * w + x], picture.at(x, row + y))
                        << "level " << level << " at " << x << "," << y;
            row += h;
        }
    }
}

TEST_F(Loader, Tga1024x2046GivesTenLevelsWithAlphaAsStored)
{
    std::vector<Rgba> colours;
    for (int i = 0; i < 10; ++i)
        colours.push_back({static_cast<std::uint8_t>(i * 25), static_cast<std::uint8_t>(255 - i * 20),
                           static_cast<std::uint8_t>(i * 3), static_cast<std::uint8_t>(i * 28)});
    for (int extra : {0, 1}) {
        SCOPED_TRACE(extra ? "1024 x 2047" : "1024 x 2046");
        const std::string path =
            Save("chain.tga", samplegen::WriteTga(samplegen::MakeMipChain(1024, 1024, colours, {1, 2, 3, 4}, extra)));
        Loaded r = LoadFile(path);
        ASSERT_TRUE(r.texture) << Output();
        ExpectSize(r.texture.get(), 1024, 1024, 10, D3DFMT_A8R8G8B8);
        for (UINT level = 0; level < 10; ++level)
            ExpectSolid(r.texture.get(), level, colours[level]);
    }
}

TEST_F(Loader, TgaChainFollowsTheExtensionLetterInAnyCase)
{
    const auto tga = samplegen::WriteTga(samplegen::MakeMipChain(16, 16, {kRed, kGreen, kBlue, kWhite}, {}));
    for (const char* name : {"a.tga", "B.TGA", "c.Tif"}) {
        Loaded r = LoadFile(Save(name, tga));
        ASSERT_TRUE(r.texture) << name << ": " << Output();
        ExpectSize(r.texture.get(), 16, 16, 4, D3DFMT_A8R8G8B8);
        ExpectSolid(r.texture.get(), 3, kWhite);
    }
}

TEST_F(Loader, TgaOf1280RowsIsRefusedNamingTheFile)
{
    // 1280 = 1024 + 256 announces two levels, 1024 and 512 rows: 256 too many.
    TgaOptions o;
    const std::string path = Save("short.tga", samplegen::WriteTga(Image(64, 1280), o));
    Loaded r = LoadFile(path);
    EXPECT_FALSE(r.texture);
    EXPECT_FALSE(r.palette);
    EXPECT_NE(Output().find("<" + path + ">"), std::string::npos) << Output();
    EXPECT_EQ(Output().find("Error create"), std::string::npos) << "the general load must not be tried";
}

TEST_F(Loader, CutChainFilesAreRefusedNamingTheFile)
{
    auto bmp = samplegen::WriteBmp(samplegen::MakeMipChain(128, 128, {kRed, kGreen, kBlue, kWhite}, {}));
    bmp.resize(bmp.size() - 1000);
    std::string path = Save("cut.bmp", bmp);
    EXPECT_FALSE(LoadFile(path).texture);
    EXPECT_NE(Output().find("<" + path + "> is cut short"), std::string::npos) << Output();

    ClearOutput();
    auto tga = samplegen::WriteTga(samplegen::MakeMipChain(64, 64, {kRed, kGreen}, {}));
    tga.resize(tga.size() / 2);
    path = Save("cut.tga", tga);
    EXPECT_FALSE(LoadFile(path).texture);
    EXPECT_NE(Output().find("<" + path + "> is cut short"), std::string::npos) << Output();
}

TEST_F(Loader, ReaderFailureIsFinalWithItsMessage)
{
    const std::string bmp =
        Save("chain.bmp", samplegen::WriteBmp(samplegen::MakeMipChain(128, 128, {kRed, kGreen, kBlue, kWhite}, {})));
    D3D8Test_FailTextureCreation(1);
    EXPECT_FALSE(LoadFile(bmp).texture);
    EXPECT_EQ(Output().rfind("D3DXCreateTexture (Tex_ReadMipmappingBMP)", 0), 0u) << Output();
    EXPECT_EQ(Output().back(), '\n');
    EXPECT_EQ(Output().find("Error create"), std::string::npos);

    ClearOutput();
    const std::string tga = Save("chain.tga", samplegen::WriteTga(samplegen::MakeMipChain(16, 16, {kRed, kBlue}, {})));
    D3D8Test_FailTextureCreation(1);
    EXPECT_FALSE(LoadFile(tga).texture);
    EXPECT_EQ(Output().rfind("D3DXCreateTexture (Tex_ReadMipmappingTGA)", 0), 0u) << Output();
}

TEST_F(Loader, ChainReadersCalledDirectlyRefuseWhatTheirPictureCannotGive)
{
    const std::string path =
        Save("chain.tga", samplegen::WriteTga(samplegen::MakeMipChain(16, 16, {kRed, kGreen, kBlue}, {})));
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    ASSERT_TRUE(file);
    BYTE bytes[sizeof(TgaHeader)];
    ASSERT_EQ(std::fread(bytes, 1, sizeof bytes, file.get()), sizeof bytes);
    const TgaHeader header = TgaHeader::FromBytes(bytes);
    EXPECT_EQ(header.width, 16);
    EXPECT_EQ(header.height, 28);

    // A 4-byte source into 2-byte texels, no levels, more levels than rows.
    EXPECT_FALSE(Tex_ReadMipmappingTGA(file.get(), header, 3, D3DFMT_R5G6B5, device_.get(), path.c_str()));
    EXPECT_FALSE(Tex_ReadMipmappingTGA(file.get(), header, 0, D3DFMT_A8R8G8B8, device_.get(), path.c_str()));
    EXPECT_FALSE(Tex_ReadMipmappingTGA(file.get(), header, 40, D3DFMT_A8R8G8B8, device_.get(), path.c_str()));
    EXPECT_FALSE(Tex_ReadMipmappingTGA(file.get(), header, 4, D3DFMT_A8R8G8B8, device_.get(), path.c_str()));
    EXPECT_EQ(Output().find("Error create"), std::string::npos);
    EXPECT_EQ(std::count(Output().begin(), Output().end(), '\n'), 4) << Output();

    ComPtr<IDirect3DTexture8> good(
        Tex_ReadMipmappingTGA(file.get(), header, 3, D3DFMT_A8R8G8B8, device_.get(), path.c_str()));
    ASSERT_TRUE(good) << Output();
    ExpectSolid(good.get(), 2, kBlue);

    // The BMP reader takes only the four chain heights.
    BmpInfoHeader info{40, 100, 1000, 1, 24, 0, 0, 0, 0, 0, 0};
    ClearOutput();
    EXPECT_FALSE(Tex_ReadMipmappingBMP(file.get(), BmpFileHeader{}, info, D3DFMT_X8R8G8B8, device_.get(),
                                       path.c_str()));
    EXPECT_NE(Output().find("not a mip-chain picture"), std::string::npos) << Output();
}

TEST_F(Loader, SixteenAndThirtyTwoBitBmpAreRefusedWithoutTheLibrary)
{
    for (int bits : {16, 32}) {
        ClearOutput();
        BmpOptions o;
        o.bits = bits;
        const std::string path = Save("deep.bmp", samplegen::WriteBmp(Image(8, 8), o));
        Loaded r = LoadFile(path);
        EXPECT_FALSE(r.texture);
        EXPECT_FALSE(r.palette);
        // The library reads these files; a null result shows it was not asked.
        EXPECT_EQ(Output(), "Unknown format <" + path + "> RGB texture file\n");
    }
}

TEST_F(Loader, EightBitBmpGivesP8AndItsPalette)
{
    samplegen::Indexed ix = samplegen::MakeIndexed(samplegen::MakeGradient(20, 10, false), 216, false);
    BmpOptions o;
    o.bits = 8;
    Loaded r = LoadFile(Save("pal.bmp", samplegen::WriteBmp(ix, o)));
    ASSERT_TRUE(r.texture) << Output();
    ASSERT_TRUE(r.palette);
    D3DSURFACE_DESC desc{};
    r.texture->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Format, D3DFMT_P8);
    EXPECT_EQ(LevelBytes(r.texture.get(), 0), ix.indices);
    for (std::size_t i = 0; i < ix.palette.size(); ++i) {
        EXPECT_EQ(r.palette[i].peRed, ix.palette[i].r);
        EXPECT_EQ(r.palette[i].peBlue, ix.palette[i].b);
        EXPECT_EQ(r.palette[i].peFlags, 255);
    }
}

TEST_F(Loader, OtherFilesKeepTheirOwnFormat)
{
    const DdsFile dxt5 = MakeDds(D3DFMT_DXT5, 16, 8, 5, 4);
    Loaded r = LoadFile(Save("a.dds", dxt5.bytes));
    ASSERT_TRUE(r.texture) << Output();
    EXPECT_FALSE(r.palette);
    ExpectSize(r.texture.get(), 16, 8, 5, D3DFMT_DXT5);
    EXPECT_EQ(LevelBytes(r.texture.get(), 4), dxt5.levels[4]);

    const DdsFile p8 = MakeDds(D3DFMT_P8, 4, 4, 3, 4);
    r = LoadFile(Save("p.dds", p8.bytes));
    ASSERT_TRUE(r.texture) << Output();
    ASSERT_TRUE(r.palette);
    EXPECT_EQ(std::memcmp(r.palette.get(), p8.palette.data(), sizeof(PALETTEENTRY) * 256), 0);
}

TEST_F(Loader, PalettePngKeepsItsTransparencyInThePaletteBlock)
{
    samplegen::Indexed ix = samplegen::MakeIndexed(samplegen::MakeGradient(12, 12, false), 64, true);
    Loaded r = LoadFile(Save("leaf.png", samplegen::WritePng(ix)));
    ASSERT_TRUE(r.texture) << Output();
    ASSERT_TRUE(r.palette);
    ExpectSize(r.texture.get(), 12, 12, 4, D3DFMT_P8);
    for (std::size_t i = 0; i < 256; ++i)
        EXPECT_EQ(r.palette[i].peFlags, i < ix.palette.size() ? ix.palette[i].a : 0) << "entry " << i;

    r = LoadFile(Save("snow.jpg", samplegen::WriteJpeg(samplegen::MakeGradient(12, 12, false), 90)));
    ASSERT_TRUE(r.texture) << Output();
    EXPECT_FALSE(r.palette);
    ExpectSize(r.texture.get(), 12, 12, 4, D3DFMT_X8R8G8B8);
}

TEST_F(Loader, TheFileIsClosedOnEveryRoad)
{
    auto openFiles = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator{});
    };
    BmpOptions deep, eight;
    deep.bits = 16;
    eight.bits = 8;
    const std::vector<std::string> paths = {
        Save("chain.bmp", samplegen::WriteBmp(samplegen::MakeMipChain(128, 128, {kRed, kGreen, kBlue, kWhite}, {}))),
        Save("chain.tga", samplegen::WriteTga(samplegen::MakeMipChain(16, 16, {kRed, kBlue}, {}))),
        Save("short.tga", samplegen::WriteTga(Image(16, 20))),
        Save("deep.bmp", samplegen::WriteBmp(Image(4, 4), deep)),
        Save("pal.bmp", samplegen::WriteBmp(samplegen::MakeIndexed(Image(4, 4), 16, false), eight)),
        Save("plain.png", samplegen::WritePng(Image(4, 4), samplegen::PngKind::Rgb)),
        Save("junk.bmp", {'B', 'M'}),
        (dir_ / "missing.bmp").string(),
    };
    const auto before = openFiles();
    for (const std::string& path : paths)
        LoadFile(path);
    EXPECT_EQ(openFiles(), before) << Output();
}

TEST_F(Loader, MissingAndUnreadableFilesGiveTheirMessages)
{
    const std::string missing = (dir_ / "none.tga").string();
    EXPECT_FALSE(LoadFile(missing).texture);
    EXPECT_EQ(Output(), "ERROR: Texture file <" + missing + "> not found.\n");

    // The library's message ends its line and carries the reason.
    for (const char* name : {"junk.png", "junk.bmp", "junk.tga", "x"}) {
        ClearOutput();
        const std::string path = Save(name, {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'});
        Loaded r = LoadFile(path);
        EXPECT_FALSE(r.texture);
        EXPECT_FALSE(r.palette);
        const std::string head = "Error create <" + path + "> texture: ";
        EXPECT_EQ(Output().substr(0, head.size()), head) << Output();
        EXPECT_GT(Output().size(), head.size() + 1);
        EXPECT_EQ(Output().back(), '\n');
        EXPECT_EQ(Output().find('\n'), Output().size() - 1) << "one line only";
    }
}

// The roads below end in a generated chain, made by the surface library's
// mip filter.
TEST_F(Loader, PlainPicturesTakeTheGeneralRoadWithAFullChain)
{
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        UINT w, h;
        D3DFORMAT format;
    };
    TgaOptions t24;
    t24.depth = 24;
    const Case cases[] = {
        {"square.tga", samplegen::WriteTga(samplegen::MakeGradient(1024, 1024, true)), 1024, 1024, D3DFMT_A8R8G8B8},
        {"flat.tga", samplegen::WriteTga(samplegen::MakeGradient(32, 8, true)), 32, 8, D3DFMT_A8R8G8B8},
        {"rgb.tga", samplegen::WriteTga(samplegen::MakeMipChain(16, 16, {kRed, kGreen, kBlue, kWhite}, {}), t24), 16,
         30, D3DFMT_X8R8G8B8},
        {"square.bmp", samplegen::WriteBmp(samplegen::MakeGradient(256, 256, false)), 256, 256, D3DFMT_X8R8G8B8},
        {"narrow.bmp", samplegen::WriteBmp(samplegen::MakeGradient(64, 240, false)), 64, 240, D3DFMT_X8R8G8B8},
        {"grey.png", samplegen::WritePng(samplegen::MakeGradient(20, 12, false), samplegen::PngKind::Grey), 20, 12,
         D3DFMT_L8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClearOutput();
        Loaded r = LoadFile(Save(c.name, c.bytes));
        ASSERT_TRUE(r.texture) << Output();
        EXPECT_FALSE(r.palette);
        ExpectSize(r.texture.get(), c.w, c.h, D3DFullMipCount(c.w, c.h), c.format);
        EXPECT_EQ(Output(), "");
    }
}

TEST_F(Loader, TgaOfWidthZeroIsJudgedByTheLibrary)
{
    auto tga = samplegen::WriteTga(samplegen::MakeMipChain(16, 16, {kRed, kGreen}, {}));
    tga[12] = tga[13] = 0;
    const std::string path = Save("zero.tga", tga);
    EXPECT_FALSE(LoadFile(path).texture);
    EXPECT_EQ(Output().rfind("Error create <" + path + "> texture: ", 0), 0u) << Output();
}

} // namespace
