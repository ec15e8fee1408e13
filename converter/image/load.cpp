// Tex_LoadFile: the one road from an image file to a texture with its mip
// chain.  Mip-chain pictures go to their own readers; 8-bit BMPs are loaded
// palettised; everything else is loaded in the file's own format with a
// box-filtered chain.
#include "converter/image/texload.h"

#include "engine/basekit/dprintf.h"
#include "platform/d3d8/comptr.h"
#include "platform/d3dx8/d3dx8.h"

#include <cstring>
#include <new>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

IDirect3DTexture8* LoadWithLibrary(const char* path, IDirect3DDevice8* device, D3DFORMAT format,
                                   PALETTEENTRY** paletteOut, bool alwaysPalette)
{
    PALETTEENTRY palette[256] = {};
    IDirect3DTexture8* texture = nullptr;
    if (D3DXCreateTextureFromFileExA(device, path, D3DX_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, 0, format,
                                     D3DPOOL_MANAGED, D3DX_FILTER_NONE, D3DX_FILTER_BOX, 0, nullptr, palette,
                                     &texture) != S_OK) {
        // Ends its line, so the next message starts on a line of its own.
        Tex_PrintLibraryFailure(("Error create <" + std::string(path) + "> texture").c_str());
        return nullptr;
    }
    bool palettised = alwaysPalette;
    if (!palettised) {
        D3DSURFACE_DESC desc{};
        texture->GetLevelDesc(0, &desc);
        palettised = desc.Format == D3DFMT_P8;
    }
    if (palettised) {
        *paletteOut = new PALETTEENTRY[256];
        std::memcpy(*paletteOut, palette, sizeof palette);
    }
    return texture;
}

// A file shut on every road out of the loader.
struct FileCloser {
    std::FILE* file;
    ~FileCloser()
    {
        if (file)
            std::fclose(file);
    }
    void Close()
    {
        if (file)
            std::fclose(file);
        file = nullptr;
    }
};

// A name in a folder may be a pipe or a device: reading one would wait for
// a writer or never end, so only regular files are opened for loading.
std::FILE* OpenRegularFile(const char* path)
{
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = ::fdopen(fd, "rb");
    if (!file)
        ::close(fd);
    return file;
}

// 32-bit, taller than 8 rows, not zero wide, and at least two set bits above
// bit 0 of the height: a TGA with its levels drawn under each other.
IDirect3DTexture8* TryTgaChain(std::FILE* file, const char* path, IDirect3DDevice8* device, bool& handled)
{
    BYTE bytes[sizeof(TgaHeader)];
    handled = false;
    if (std::fread(bytes, 1, sizeof bytes, file) != sizeof bytes)
        return nullptr;
    const TgaHeader header = TgaHeader::FromBytes(bytes);
    if (header.pixelDepth != 32 || header.height <= 8 || header.width == 0)
        return nullptr;
    const UINT levels = Tex_MipmapTgaLevels(header.height);
    if (levels < 2)
        return nullptr;
    handled = true;
    return Tex_ReadMipmappingTGA(file, header, levels, D3DFMT_A8R8G8B8, device, path);
}

enum class BmpRoad { General, Chain, Palette, Refused };

BmpRoad ChooseBmpRoad(std::FILE* file, BmpFileHeader& fileHeader, BmpInfoHeader& info)
{
    BYTE bytes[sizeof(BmpFileHeader) + sizeof(BmpInfoHeader)] = {};
    const std::size_t got = std::fread(bytes, 1, sizeof bytes, file);
    fileHeader = BmpFileHeader::FromBytes(bytes);
    info = BmpInfoHeader::FromBytes(bytes + sizeof(BmpFileHeader));
    // An OS/2 core header keeps width, height and bit count in 16-bit fields
    // at other places; read as a 40-byte header it would refuse good files.
    if (got >= sizeof(BmpFileHeader) + sizeof(BmpCoreHeader) && info.biSize == BMP_CORE_HEADER_SIZE)
        info = BmpInfoHeader::FromCore(BmpCoreHeader::FromBytes(bytes + sizeof(BmpFileHeader)));
    else if (got < sizeof bytes)
        return BmpRoad::General;  // too short to judge; the library says why it is unreadable
    switch (info.biBitCount) {
    case 24:
        if (info.biWidth > 64 && info.biHeight > 64 && Tex_MipmapBmpTopHeight(info.biHeight) != 0)
            return BmpRoad::Chain;
        return BmpRoad::General;
    case 8:
        return BmpRoad::Palette;
    default:
        return BmpRoad::Refused;
    }
}

IDirect3DTexture8* LoadFile(const char* path, IDirect3DDevice8* device, PALETTEENTRY** palette)
{
    FileCloser file{OpenRegularFile(path)};
    if (!file.file) {
        dprintf("ERROR: Texture file <%s> not found.\n", path);
        return nullptr;
    }
    // The first letter of a three-letter extension picks the header test; a
    // name too short to have one goes straight to the general load.
    const std::size_t length = std::strlen(path);
    const char letter = length >= 3 ? path[length - 3] : '\0';

    if (letter == 'T' || letter == 't') {
        bool handled = false;
        IDirect3DTexture8* texture = TryTgaChain(file.file, path, device, handled);
        if (handled)
            return texture;
    } else if (letter == 'B' || letter == 'b') {
        BmpFileHeader fileHeader{};
        BmpInfoHeader info{};
        switch (ChooseBmpRoad(file.file, fileHeader, info)) {
        case BmpRoad::Chain:
            return Tex_ReadMipmappingBMP(file.file, fileHeader, info, D3DFMT_X8R8G8B8, device, path);
        case BmpRoad::Palette:
            file.Close();
            return LoadWithLibrary(path, device, D3DFMT_P8, palette, true);
        case BmpRoad::Refused:
            file.Close();
            dprintf("Unknown format <%s> RGB texture file\n", path);
            return nullptr;
        case BmpRoad::General:
            break;
        }
    }
    file.Close();
    return LoadWithLibrary(path, device, D3DFMT_UNKNOWN, palette, false);
}

} // namespace

IDirect3DTexture8* Tex_LoadFile(const char* path, IDirect3DDevice8* device, PALETTEENTRY** palette)
{
    PALETTEENTRY* ignored = nullptr;
    if (!palette)
        palette = &ignored;
    *palette = nullptr;
    // A picture that fits its file may still need more memory than the
    // process can have: that ends this file, not the run.
    try {
        return LoadFile(path, device, palette);
    } catch (const std::bad_alloc&) {
        delete[] *palette;
        *palette = nullptr;
        dprintf("ERROR: <%s> needs more memory than is available\n", path);
        return nullptr;
    }
}
