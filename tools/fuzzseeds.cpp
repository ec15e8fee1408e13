// fuzzseeds <corpus root>: writes the starting inputs of the image, loader, PNG,
// XML, project and DXT fuzz harnesses into <root>/<harness>/, all made by
// the repository's own writers so that every reader starts from files it
// accepts and the fuzzer mutates from there.
#include "tools/samplegen.h"

#include "converter/device.h"
#include "converter/image/ddswriter.h"
#include "converter/image/texconvert.h"
#include "engine/basekit/dprintf.h"
#include "platform/d3d8/comptr.h"
#include "platform/d3dx8/d3dx8.h"
#include "platform/d3dx8/dxt/dxt.h"
#include "project/project.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using samplegen::Image;
using samplegen::Rgba;

namespace {

void Save(const fs::path& path, const std::vector<std::uint8_t>& bytes) { samplegen::SaveBytes(path, bytes); }

void Save(const fs::path& path, const std::string& text)
{
    Save(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

// DDS files in the formats the converter writes, made by its own writer
// from a generated picture.
void WriteDdsSeeds(const fs::path& folder)
{
    IDirect3D8* d3d = nullptr;
    IDirect3DDevice8* device = nullptr;
    if (FAILED(OpenRenderingDevice(&d3d, &device)))
        throw std::runtime_error("no rendering device");
    const std::vector<std::uint8_t> png = samplegen::WritePng(samplegen::MakeFoliage(20, 12, 5), samplegen::PngKind::Rgba);
    const D3DFORMAT formats[] = {D3DFMT_DXT1, D3DFMT_DXT3, D3DFMT_DXT5, D3DFMT_A8R8G8B8, D3DFMT_R5G6B5,
                                 D3DFMT_A4R4G4B4};
    for (D3DFORMAT format : formats) {
        IDirect3DTexture8* loaded = nullptr;
        if (FAILED(D3DXCreateTextureFromFileInMemoryEx(device, png.data(), static_cast<UINT>(png.size()), D3DX_DEFAULT,
                                                       D3DX_DEFAULT, D3DX_DEFAULT, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED,
                                                       D3DX_FILTER_NONE, D3DX_FILTER_BOX, 0, nullptr, nullptr,
                                                       &loaded)))
            throw std::runtime_error("seed picture refused");
        IDirect3DTexture8* converted = Tex_Convert(&device, loaded, format);
        if (!converted)
            throw std::runtime_error("seed conversion failed");
        ComPtr<IDirect3DTexture8> texture(converted);
        const std::string path = (folder / ("s-" + std::to_string(format) + ".dds")).string();
        if (FAILED(Tex_SaveDDS(texture.get(), path.c_str())))
            throw std::runtime_error("cannot write " + path);
    }
    device->Release();
    d3d->Release();
}

// DDS records no writer of the repository makes (bump maps, video, a
// D3DFORMAT number as the code) and plain PNM text, for the image harness.
void WriteRecordSeeds(const fs::path& folder)
{
    const struct {
        const char* name;
        DdsPixelFormat pf;
        std::size_t levelBytes;  // 4 x 4 texels
    } records[] = {
        {"v8u8", {sizeof(DdsPixelFormat), DDPF_BUMPDUDV, 0, 16, 0xFF, 0xFF00, 0, 0}, 32},
        {"l6v5u5", {sizeof(DdsPixelFormat), DDPF_BUMPLUMINANCE, 0, 16, 0x1F, 0x3E0, 0xFC00, 0}, 32},
        {"x8l8v8u8", {sizeof(DdsPixelFormat), DDPF_BUMPLUMINANCE, 0, 32, 0xFF, 0xFF00, 0xFF0000, 0}, 64},
        {"yuy2", {sizeof(DdsPixelFormat), DDPF_FOURCC, D3DFMT_YUY2, 0, 0, 0, 0, 0}, 32},
        {"code21", {sizeof(DdsPixelFormat), DDPF_FOURCC, D3DFMT_A8R8G8B8, 0, 0, 0, 0, 0}, 64},
    };
    for (const auto& r : records) {
        DdsHeader h{};
        h.size = sizeof h;
        h.flags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT;
        h.height = h.width = 4;
        h.pixelFormat = r.pf;
        h.caps = DDSCAPS_TEXTURE;
        std::vector<std::uint8_t> bytes(DDS_DATA_OFFSET + r.levelBytes);
        const DWORD magic = DDS_MAGIC;
        std::memcpy(bytes.data(), &magic, sizeof magic);
        std::memcpy(bytes.data() + sizeof magic, &h, sizeof h);
        for (std::size_t i = DDS_DATA_OFFSET; i < bytes.size(); ++i)
            bytes[i] = static_cast<std::uint8_t>(i * 37);
        Save(folder / (std::string(r.name) + ".dds"), bytes);
    }
    Save(folder / "plain.pbm", std::string("P1\n# a comment\n3 2\n0 1 0\n1 0 1\n"));
    Save(folder / "plain.pgm", std::string("P2\n2 2\n15\n0 15\n7 16\n"));
    Save(folder / "plain.ppm", std::string("P3\n2 1\n255\n255 0 10\n1 2 3\n"));
    Save(folder / "bitmap.pbm", std::string("P4\n3 2\n\xA0\x5F"));
}

// Mip-chain pictures for the two chain readers: the smallest BMP height that
// holds a chain (240 rows: 128 + 64 + 32 + 16) and TGAs of a few level counts.
void WriteChainSeeds(const fs::path& bmpFolder, const fs::path& tgaFolder)
{
    const std::vector<Rgba> colours = {{200, 30, 30, 255}, {30, 200, 30, 200}, {30, 30, 200, 100}, {90, 90, 90, 0},
                                       {10, 10, 10, 255}};
    const std::vector<Rgba> four(colours.begin(), colours.begin() + 4);
    Save(bmpFolder / "chain-240.bmp", samplegen::WriteBmp(samplegen::MakeMipChain(128, 128, four, {1, 2, 3, 255})));
    // One row short of a chain, and a chain picture of the wrong depth.
    Image cut = samplegen::MakeMipChain(80, 128, four, {0, 0, 0, 255});
    cut.height -= 1;
    cut.pixels.resize(static_cast<std::size_t>(cut.width) * cut.height);
    Save(bmpFolder / "chain-short.bmp", samplegen::WriteBmp(cut));
    samplegen::BmpOptions bits32;
    bits32.bits = 32;
    Save(bmpFolder / "chain-32bit.bmp",
         samplegen::WriteBmp(samplegen::MakeMipChain(72, 128, four, {0, 0, 0, 255}), bits32));
    samplegen::TgaOptions tga;
    tga.depth = 32;
    Save(tgaFolder / "chain-16.tga", samplegen::WriteTga(samplegen::MakeMipChain(16, 16, colours, {}), tga));
    Save(tgaFolder / "chain-8.tga", samplegen::WriteTga(samplegen::MakeMipChain(8, 8, colours, {}), tga));
    Save(tgaFolder / "chain-32.tga", samplegen::WriteTga(samplegen::MakeMipChain(32, 32, colours, {}), tga));
    tga.topDown = true;
    Save(tgaFolder / "chain-top.tga", samplegen::WriteTga(samplegen::MakeMipChain(16, 16, colours, {}), tga));
}

void WriteXmlSeeds(const fs::path& xmlFolder, const fs::path& projectFolder)
{
    project::tree t;
    project::new_project(t);
    project::add_texture_from_file(t, "art/Grass.TGA");
    project::add_texture_from_file(t, "D:\\art\\rock.bmp");
    project::add_blank_texture(t);
    const std::string text = project::to_text(t);
    Save(projectFolder / "three.xml", text);
    Save(xmlFolder / "project.xml", text);

    project::tree odd;
    project::new_project(odd);
    auto texture = project::add_blank_texture(odd);
    project::set_property(odd, texture, "name", std::string("\x01 <&>\r\n\xff", 9));
    project::set_property(odd, texture, "comment", "Просмотр ]]> \"'");
    Save(projectFolder / "escaped.xml", project::to_text(odd));
    Save(xmlFolder / "escaped.xml", project::to_text(odd));

    Save(xmlFolder / "cdata.xml", std::string("<a v=\"x\"><b><![CDATA[<raw>&]]></b><!-- c --><?pi x?><c n=\"a b\"/></a>"));
    Save(xmlFolder / "refs.xml", std::string("<a>&#x41;&#66;&lt;&amp;&quot;&apos;&gt;</a><b/>"));
    Save(xmlFolder / "cp1251.xml", std::string("<?xml version=\"1.0\" encoding=\"windows-1251\"?><a>\xcf\xf0\xe8</a>"));
    Save(xmlFolder / "hex.xml", std::string("<_ nx=\"00ff\" vx=\"0a0d\"><_ n=\"1 2\">v</_></_>"));
}

// DXT harness inputs: a format-and-quality byte, width and height bytes
// (stored minus one), then the blocks of a generated picture.
void WriteDxtSeeds(const fs::path& folder)
{
    const Image foliage = samplegen::MakeFoliage(13, 9, 3);
    const D3DFORMAT formats[] = {D3DFMT_DXT1, D3DFMT_DXT2, D3DFMT_DXT3, D3DFMT_DXT4, D3DFMT_DXT5};
    for (int f = 0; f < 5; ++f) {
        const unsigned bytes = dxt::BlockBytes(formats[f]);
        const std::size_t blockPitch = std::size_t{(13 + 3) / 4} * bytes;
        std::vector<std::uint8_t> seed = {static_cast<std::uint8_t>(f + 5), 12, 8};
        std::vector<std::uint8_t> blocks(blockPitch * ((9 + 3) / 4));
        dxt::EncodeImage(formats[f], reinterpret_cast<const std::uint8_t*>(foliage.pixels.data()), 13, 9, 13 * 4,
                         blocks.data(), blockPitch);
        seed.insert(seed.end(), blocks.begin(), blocks.end());
        Save(folder / ("blocks-" + std::to_string(f) + ".bin"), seed);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzzseeds <corpus root>\n");
        return 2;
    }
    pDPrintOutputProc = [](const char*) {};
    try {
        const fs::path root = argv[1];
        for (const char* harness : {"image", "loadbmp", "loadtga", "png", "xml", "project", "dxt"})
            fs::create_directories(root / harness);
        for (const std::string& path : samplegen::WriteVariantSet(root / "image")) {
            const fs::path p = path;
            const std::string ext = p.extension().string();
            if (ext == ".bmp")
                fs::copy_file(p, root / "loadbmp" / p.filename(), fs::copy_options::overwrite_existing);
            else if (ext == ".tga")
                fs::copy_file(p, root / "loadtga" / p.filename(), fs::copy_options::overwrite_existing);
            else if (ext == ".png")
                fs::copy_file(p, root / "png" / p.filename(), fs::copy_options::overwrite_existing);
        }
        WriteDdsSeeds(root / "image");
        WriteRecordSeeds(root / "image");
        WriteChainSeeds(root / "loadbmp", root / "loadtga");
        WriteXmlSeeds(root / "xml", root / "project");
        WriteDxtSeeds(root / "dxt");
        // Plain colour pictures, the kind the direct PNG reader takes.
        Save(root / "png" / "rgb.png", samplegen::WritePng(samplegen::MakeFoliage(19, 7, 3), samplegen::PngKind::Rgb));
        Save(root / "png" / "rgb-1x1.png", samplegen::WritePng(samplegen::Image(1, 1), samplegen::PngKind::Rgb));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fuzzseeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
