// DDS files: the header bytes are the contract, so they are checked byte by
// byte against values written out here by hand.
#include "converter/image/ddswriter.h"
#include "platform/d3d8/comptr.h"
#include "platform/d3d8/d3d8.h"
#include "platform/d3d8/formats.h"
#include "platform/d3dx8/d3dx8.h"
#include "tests/support/testutil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sys/resource.h>
#include <csignal>

using testutil::TempDir;

namespace {

class DdsWriter : public ::testing::Test {
protected:
    void SetUp() override
    {
        d3d_.reset(Direct3DCreate8(D3D_SDK_VERSION));
        D3DPRESENT_PARAMETERS pp{};
        pp.Windowed = TRUE;
        pp.BackBufferFormat = D3DFMT_X8R8G8B8;
        ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_REF, nullptr, 0, &pp, device_.put()), S_OK);
    }

    // A texture whose every byte is a function of its level and offset.
    ComPtr<IDirect3DTexture8> Make(UINT w, UINT h, UINT levels, D3DFORMAT f)
    {
        ComPtr<IDirect3DTexture8> t;
        EXPECT_EQ(device_->CreateTexture(w, h, levels, 0, f, D3DPOOL_MANAGED, t.put()), S_OK);
        for (UINT i = 0; i < t->GetLevelCount(); ++i) {
            D3DSURFACE_DESC d{};
            t->GetLevelDesc(i, &d);
            D3DLOCKED_RECT r{};
            t->LockRect(i, &r, nullptr, 0);
            for (UINT b = 0; b < d.Size; ++b)
                static_cast<BYTE*>(r.pBits)[b] = static_cast<BYTE>(b * 7 + i * 31 + 1);
            t->UnlockRect(i);
        }
        return t;
    }

    static DWORD U32(const std::vector<std::uint8_t>& f, size_t at)
    {
        DWORD v;
        std::memcpy(&v, f.data() + at, 4);
        return v;
    }

    ComPtr<IDirect3D8> d3d_;
    ComPtr<IDirect3DDevice8> device_;
    TempDir dir_;
};

TEST_F(DdsWriter, DxtHeaderForElevenLevels)
{
    auto t = Make(1024, 1024, 0, D3DFMT_DXT1);
    const auto path = dir_ / "a.dds";
    ASSERT_EQ(Tex_SaveDDS(t.get(), path.c_str()), S_OK);
    auto f = testutil::ReadFile(path);

    EXPECT_EQ(std::string(f.begin(), f.begin() + 4), "DDS ");
    EXPECT_EQ(U32(f, 4), 124u);
    EXPECT_EQ(U32(f, 8), 0xA1007u);
    EXPECT_EQ(U32(f, 12), 1024u);
    EXPECT_EQ(U32(f, 16), 1024u);
    EXPECT_EQ(U32(f, 20), 524288u);
    EXPECT_EQ(U32(f, 24), 0u);
    EXPECT_EQ(U32(f, 28), 11u);
    for (size_t at = 32; at < 76; at += 4)
        EXPECT_EQ(U32(f, at), 0u) << "offset " << at;
    EXPECT_EQ(U32(f, 76), 32u);
    EXPECT_EQ(U32(f, 80), 0x4u);
    EXPECT_EQ(U32(f, 84), 0x31545844u);
    for (size_t at = 88; at < 108; at += 4)
        EXPECT_EQ(U32(f, at), 0u);
    EXPECT_EQ(U32(f, 108), 0x401008u);
    for (size_t at = 112; at < 128; at += 4)
        EXPECT_EQ(U32(f, at), 0u);

    // Level data follows at 128, largest first, each level whole.
    size_t expected = 128;
    for (UINT i = 0; i < 11; ++i) {
        D3DSURFACE_DESC d{};
        t->GetLevelDesc(i, &d);
        D3DLOCKED_RECT r{};
        t->LockRect(i, &r, nullptr, D3DLOCK_READONLY);
        ASSERT_LE(expected + d.Size, f.size());
        EXPECT_EQ(std::memcmp(f.data() + expected, r.pBits, d.Size), 0) << "level " << i;
        t->UnlockRect(i);
        expected += d.Size;
    }
    EXPECT_EQ(f.size(), expected);
    EXPECT_EQ(f.size(), 128u + 524288 + 131072 + 32768 + 8192 + 2048 + 512 + 128 + 32 + 8 + 8 + 8);
}

TEST_F(DdsWriter, OneLevelFilesHaveNoMipFlags)
{
    auto dxt = Make(64, 32, 1, D3DFMT_DXT5);
    ASSERT_EQ(Tex_SaveDDS(dxt.get(), (dir_ / "d.dds").c_str()), S_OK);
    auto f = testutil::ReadFile(dir_ / "d.dds");
    EXPECT_EQ(U32(f, 8), 0x81007u);
    EXPECT_EQ(U32(f, 20), 64u / 4 * 32 / 4 * 16);
    EXPECT_EQ(U32(f, 28), 1u);
    EXPECT_EQ(U32(f, 84), 0x35545844u);
    EXPECT_EQ(U32(f, 108), 0x1000u);

    auto rgb = Make(8, 8, 1, D3DFMT_R5G6B5);
    ASSERT_EQ(Tex_SaveDDS(rgb.get(), (dir_ / "r.dds").c_str()), S_OK);
    f = testutil::ReadFile(dir_ / "r.dds");
    EXPECT_EQ(U32(f, 8), 0x100Fu);
    EXPECT_EQ(U32(f, 20), 16u);
    EXPECT_EQ(U32(f, 28), 1u);
    EXPECT_EQ(U32(f, 108), 0x1000u);
}

TEST_F(DdsWriter, ArgbHeaderAndUnpaddedRows)
{
    auto t = Make(256, 256, 9, D3DFMT_A8R8G8B8);
    ASSERT_EQ(Tex_SaveDDS(t.get(), (dir_ / "a.dds").c_str()), S_OK);
    auto f = testutil::ReadFile(dir_ / "a.dds");
    EXPECT_EQ(U32(f, 8), 0x2100Fu);
    EXPECT_EQ(U32(f, 20), 1024u);
    EXPECT_EQ(U32(f, 28), 9u);
    EXPECT_EQ(U32(f, 80), 0x41u);
    EXPECT_EQ(U32(f, 88), 32u);
    EXPECT_EQ(U32(f, 92), 0xFF0000u);
    EXPECT_EQ(U32(f, 96), 0xFF00u);
    EXPECT_EQ(U32(f, 100), 0xFFu);
    EXPECT_EQ(U32(f, 104), 0xFF000000u);
    EXPECT_EQ(U32(f, 108), 0x401008u);
    size_t total = 128;
    for (UINT i = 0; i < 9; ++i)
        total += size_t(256 >> i) * (256 >> i) * 4;
    EXPECT_EQ(f.size(), total);
}

TEST_F(DdsWriter, PaddedRowsAreWrittenWithoutTheirPadding)
{
    // 5 texels of 3 bytes: the device pads rows to 16 bytes, the file holds 15.
    auto t = Make(5, 3, 1, D3DFMT_R8G8B8);
    ASSERT_EQ(Tex_SaveDDS(t.get(), (dir_ / "p.dds").c_str()), S_OK);
    auto f = testutil::ReadFile(dir_ / "p.dds");
    EXPECT_EQ(U32(f, 20), 15u) << "pitch of the rows as stored";
    EXPECT_EQ(U32(f, 80), 0x40u);
    EXPECT_EQ(U32(f, 88), 24u);
    ASSERT_EQ(f.size(), 128u + 15 * 3);
    D3DLOCKED_RECT r{};
    t->LockRect(0, &r, nullptr, D3DLOCK_READONLY);
    ASSERT_EQ(r.Pitch, 16);
    for (int y = 0; y < 3; ++y)
        EXPECT_EQ(std::memcmp(f.data() + 128 + y * 15, static_cast<BYTE*>(r.pBits) + y * 16, 15), 0);
    t->UnlockRect(0);
}

TEST_F(DdsWriter, SixteenBitFormatsCarryTheirMasks)
{
    struct Case {
        D3DFORMAT f;
        DWORD flags, r, g, b, a;
    } cases[] = {{D3DFMT_R5G6B5, 0x40, 0xF800, 0x7E0, 0x1F, 0},
                 {D3DFMT_A1R5G5B5, 0x41, 0x7C00, 0x3E0, 0x1F, 0x8000},
                 {D3DFMT_A4R4G4B4, 0x41, 0xF00, 0xF0, 0xF, 0xF000}};
    for (const Case& c : cases) {
        auto t = Make(4, 4, 0, c.f);
        ASSERT_EQ(Tex_SaveDDS(t.get(), (dir_ / "x.dds").c_str()), S_OK);
        auto f = testutil::ReadFile(dir_ / "x.dds");
        EXPECT_EQ(U32(f, 80), c.flags);
        EXPECT_EQ(U32(f, 88), 16u);
        EXPECT_EQ(U32(f, 92), c.r);
        EXPECT_EQ(U32(f, 96), c.g);
        EXPECT_EQ(U32(f, 100), c.b);
        EXPECT_EQ(U32(f, 104), c.a);
        EXPECT_EQ(f.size(), 128u + (16 + 4 + 1) * 2);
    }
}

// The writer's records come from the table's DDS column: every format with a
// record is written and the reader takes the file back as that format.
TEST_F(DdsWriter, EveryRecordOfTheTableReadsBackAsItsFormat)
{
    for (const FormatInfo& info : D3DFormatTable()) {
        auto t = Make(8, 8, 1, info.format);
        const auto path = dir_ / "t.dds";
        const HRESULT saved = Tex_SaveDDS(t.get(), path.c_str());
        ASSERT_EQ(saved, info.dds == DdsRecord::None ? E_FAIL : S_OK) << info.name;
        if (FAILED(saved))
            continue;
        D3DXIMAGE_INFO read{};
        ComPtr<IDirect3DTexture8> back;
        ASSERT_EQ(D3DXCreateTextureFromFileExA(device_.get(), path.c_str(), D3DX_DEFAULT, D3DX_DEFAULT, 1, 0,
                                               D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_FILTER_NONE, D3DX_FILTER_NONE,
                                               0, &read, nullptr, back.put()),
                  S_OK)
            << info.name;
        EXPECT_EQ(read.Format, info.format) << info.name;
    }
}

TEST_F(DdsWriter, UnwritableFormatsAreRefusedWithoutTouchingTheDisk)
{
    for (D3DFORMAT f : {D3DFMT_X8R8G8B8, D3DFMT_X1R5G5B5, D3DFMT_P8, D3DFMT_L8, D3DFMT_V8U8, D3DFMT_UYVY}) {
        auto t = Make(8, 8, 1, f);
        const auto path = dir_ / "x8.dds";
        EXPECT_EQ(Tex_SaveDDS(t.get(), path.c_str()), E_FAIL) << f;
        EXPECT_FALSE(std::filesystem::exists(path));
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir_.path())) << "no temporary file left behind";
}

TEST_F(DdsWriter, MissingFolderFailsAndWritesNothing)
{
    auto t = Make(8, 8, 1, D3DFMT_DXT1);
    EXPECT_EQ(Tex_SaveDDS(t.get(), (dir_ / "no/such/a.dds").c_str()), E_FAIL);
    EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
}

TEST_F(DdsWriter, ReplacesAnExistingFile)
{
    const auto path = dir_ / "a.dds";
    testutil::WriteText(path, std::string(100000, 'x'));
    auto t = Make(4, 4, 1, D3DFMT_DXT1);
    ASSERT_EQ(Tex_SaveDDS(t.get(), path.c_str()), S_OK);
    EXPECT_EQ(std::filesystem::file_size(path), 128u + 8);
}

TEST_F(DdsWriter, LockedLevelFailsTheSaveAndKeepsTheOldFile)
{
    const auto path = dir_ / "a.dds";
    testutil::WriteText(path, "good old file");
    auto t = Make(16, 16, 0, D3DFMT_DXT1);
    D3DLOCKED_RECT r{};
    ASSERT_EQ(t->LockRect(2, &r, nullptr, 0), S_OK);
    EXPECT_EQ(Tex_SaveDDS(t.get(), path.c_str()), D3DERR_INVALIDCALL);
    t->UnlockRect(2);
    EXPECT_EQ(testutil::ReadText(path), "good old file");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 1);
}

TEST_F(DdsWriter, ShortWriteFailsTheSaveAndKeepsTheOldFile)
{
    // A file-size limit makes the kernel cut the write short, as a full disk
    // would; the save must notice and keep the existing file.
    const auto path = dir_ / "a.dds";
    testutil::WriteText(path, "good old file");
    auto t = Make(256, 256, 0, D3DFMT_A8R8G8B8);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    ::setrlimit(RLIMIT_FSIZE, &small);
    HRESULT hr = Tex_SaveDDS(t.get(), path.c_str());
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(hr, E_FAIL);
    EXPECT_EQ(testutil::ReadText(path), "good old file");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 1);
}

} // namespace
