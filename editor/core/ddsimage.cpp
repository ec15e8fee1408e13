#include "editor/core/ddsimage.h"

#include <cstring>
#include <limits>

#include <QFile>
#include <QStringList>

#include "converter/loadtexture.h"
#include "engine/basekit/dprintf.h"
#include "platform/d3d8/comptr.h"
#include "platform/d3dx8/bytes.h"
#include "platform/d3dx8/d3dx8.h"
#include "platform/d3dx8/dds_format.h"

namespace atlasdesk {

namespace {

static_assert(QSysInfo::ByteOrder == QSysInfo::LittleEndian, "A8R8G8B8 texels are copied as ARGB32 words");

QString lastPlatformError(const char* fallback)
{
    const std::string& why = D3DXGetLastErrorText();
    return why.empty() ? QString::fromLatin1(fallback) : QString::fromStdString(why);
}

QString formatName(D3DFORMAT format)
{
    const FormatInfo* info = D3DFormatInfo(format);
    if (!info)
        return QStringLiteral("unknown");
    const QLatin1StringView name(info->name);
    const QLatin1StringView prefix("D3DFMT_");
    return name.startsWith(prefix) ? QString(name.sliced(prefix.size())) : QString(name);
}

// Copies one A8R8G8B8 level into a QImage, whose ARGB32 is the same 32-bit
// word per pixel.
QImage copyArgbLevel(IDirect3DTexture8* argb, UINT level, int width, int height, QString& error)
{
    QImage image(width, height, QImage::Format_ARGB32);
    if (image.isNull()) {
        error = QStringLiteral("level %1 cannot be shown: out of memory").arg(level);
        return {};
    }
    D3DLOCKED_RECT locked{};
    if (FAILED(argb->LockRect(level, &locked, nullptr, D3DLOCK_READONLY))) {
        error = QStringLiteral("level %1 cannot be shown: its decoded pixels cannot be locked").arg(level);
        return {};
    }
    for (int y = 0; y < height; ++y)
        std::memcpy(image.scanLine(y), static_cast<const uchar*>(locked.pBits) + qsizetype(y) * locked.Pitch,
                    std::size_t(width) * 4);
    argb->UnlockRect(level);
    return image;
}

// One stored level, converted to A8R8G8B8 by the surface loader (which
// decodes DXT through the codec and un-premultiplies DXT2 and DXT4) unless
// it is stored so already.
QImage convertLevel(IDirect3DDevice8* device, IDirect3DTexture8* stored, UINT level, QString& error)
{
    D3DSURFACE_DESC desc{};
    if (FAILED(stored->GetLevelDesc(level, &desc))) {
        error = QStringLiteral("level %1 cannot be decoded: it has no description").arg(level);
        return {};
    }
    if (desc.Format == D3DFMT_A8R8G8B8)
        return copyArgbLevel(stored, level, int(desc.Width), int(desc.Height), error);
    ComPtr<IDirect3DSurface8> from, to;
    ComPtr<IDirect3DTexture8> argb;
    if (FAILED(stored->GetSurfaceLevel(level, from.put())) ||
        FAILED(D3DXCreateTexture(device, desc.Width, desc.Height, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SCRATCH,
                                 argb.put())) ||
        FAILED(argb->GetSurfaceLevel(0, to.put())) ||
        FAILED(D3DXLoadSurfaceFromSurface(to.get(), nullptr, nullptr, from.get(), nullptr, nullptr,
                                          D3DX_FILTER_NONE, 0))) {
        error = QStringLiteral("level %1 cannot be decoded: %2").arg(level).arg(lastPlatformError("no reason given"));
        return {};
    }
    return copyArgbLevel(argb.get(), 0, int(desc.Width), int(desc.Height), error);
}

// A software device of its own for one call.
struct SoftwareDevice {
    ComPtr<IDirect3D8> d3d{Direct3DCreate8(D3D_SDK_VERSION)};
    ComPtr<IDirect3DDevice8> device;

    bool open()
    {
        D3DPRESENT_PARAMETERS params{};
        params.Windowed = TRUE;
        params.SwapEffect = D3DSWAPEFFECT_DISCARD;
        return d3d && SUCCEEDED(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_REF, nullptr,
                                                  D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params, device.put()));
    }
};

void convertLevels(IDirect3DDevice8* device, IDirect3DTexture8* texture, DdsPicture& pic)
{
    for (UINT level = 0; level < UINT(pic.levelCount); ++level) {
        QImage image = convertLevel(device, texture, level, pic.error);
        if (image.isNull())
            break;
        pic.levels.push_back(std::move(image));
    }
}

} // namespace

DdsPicture decodeDds(const QByteArray& file)
{
    DdsPicture pic;
    // The platform reader takes any image file; the preview is for DDS only.
    if (file.size() < qsizetype(sizeof(DWORD)) ||
        d3dx::LoadU32(reinterpret_cast<const BYTE*>(file.constData())) != DDS_MAGIC) {
        pic.error = QStringLiteral("not a DDS file");
        return pic;
    }
    if (file.size() > qsizetype(std::numeric_limits<UINT>::max())) {
        pic.error = QStringLiteral("the file is too large");
        return pic;
    }
    SoftwareDevice soft;
    if (!soft.open()) {
        pic.error = QStringLiteral("no software rendering device");
        return pic;
    }

    // The file's own format and stored levels (a P8 texture carries its
    // palette); the rest of the chain the reader allocates stays empty (no
    // mip filter), and is not shown.
    D3DXIMAGE_INFO info{};
    ComPtr<IDirect3DTexture8> stored;
    if (FAILED(D3DXCreateTextureFromFileInMemoryEx(soft.device.get(), file.constData(), UINT(file.size()), D3DX_DEFAULT,
                                                   D3DX_DEFAULT, D3DX_DEFAULT, 0, D3DFMT_UNKNOWN, D3DPOOL_SCRATCH,
                                                   D3DX_FILTER_NONE, D3DX_FILTER_NONE, 0, &info, nullptr,
                                                   stored.put()))) {
        pic.error = lastPlatformError("the file cannot be read");
        return pic;
    }
    pic.format = formatName(info.Format);
    pic.width = int(info.Width);
    pic.height = int(info.Height);
    pic.levelCount = int(info.MipLevels);
    convertLevels(soft.device.get(), stored.get(), pic);
    return pic;
}

DdsPicture loadSourceLevels(const QString& path, const QString& mips)
{
    DdsPicture pic;
    SoftwareDevice soft;
    if (!soft.open()) {
        pic.error = QStringLiteral("no software rendering device");
        return pic;
    }
    // The loader prints why it fails; those lines become the error.
    DPrintCapture messages;
    PALETTEENTRY* palette = nullptr;
    ComPtr<IDirect3DTexture8> levels(LoadTexture(soft.device.get(), QFile::encodeName(path).constData(),
                                                 "D3DFMT_A8R8G8B8", mips.toLocal8Bit().constData(), &palette));
    delete[] palette;
    if (!levels) {
        QStringList lines;
        for (const std::string& m : messages.take())
            lines << QString::fromLocal8Bit(m).trimmed();
        lines.removeAll(QString());
        pic.error = lines.isEmpty() ? QStringLiteral("the image cannot be loaded") : lines.join(QLatin1Char('\n'));
        return pic;
    }
    D3DSURFACE_DESC desc{};
    levels->GetLevelDesc(0, &desc);
    pic.format = formatName(desc.Format);
    pic.width = int(desc.Width);
    pic.height = int(desc.Height);
    pic.levelCount = int(levels->GetLevelCount());
    convertLevels(soft.device.get(), levels.get(), pic);
    return pic;
}

} // namespace atlasdesk
