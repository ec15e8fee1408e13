// The engine's texture manager, as far as it reads engine texture files:
// open a file, list its textures, and create and fill Direct3D textures from
// its records.
#pragma once

#include "engine/geobase/texfileheader.h"
#include "platform/d3d8/d3d8.h"

#include <cstdint>
#include <cstdio>
#include <memory>

// The textures of one opened engine texture file.  Owned by the
// lTextureManager that opened it; valid until the manager opens another file
// or goes away.  The order of the virtual operations is part of the engine's
// interface.
class ILandTexturesFile {
public:
    virtual const char* GetFileName() = 0;
    virtual int GetVersion() = 0;
    // Bytes of the leading block (the small levels) at the start of the file.
    virtual std::uint32_t GetLeadingBlockSize() = 0;
    virtual int GetTexturesCount() = 0;
    // Name of texture `i`, or null outside 0 .. count-1.
    virtual const char* GetTextureName(int i) = 0;
    virtual int GetSharedCount() = 0;
    // The record of the texture called `name` (exact comparison), or null.
    virtual const TexFileHeader::texture* GetTexture(const char* name) = 0;

protected:
    ~ILandTexturesFile() = default;
};

class lTextureManager {
public:
    lTextureManager();
    ~lTextureManager();
    lTextureManager(const lTextureManager&) = delete;
    lTextureManager& operator=(const lTextureManager&) = delete;

    // Textures are created on `device` in `pool`.  The flag and the log file
    // are kept for the engine's other users and unused here.
    bool Init(IDirect3DDevice8* device, D3DPOOL pool, bool compressedOnly, std::FILE* log);

    // Maps `name` and checks every record, reference, count and size in it
    // against the file.  False after printing why; the previous file, if
    // any, is closed either way.
    bool InitTexFile(const char* name);

    // The opened file, or null when none is open.
    ILandTexturesFile* getTexturesFile();

    // A texture for `record`: all its levels, or with `perm` only the levels
    // from its first stored level on (that level becomes level 0).  One
    // reference for the caller; null after printing why.
    IDirect3DTexture8* CreateTextureFromTexFile(const TexFileHeader::texture* record, bool perm);

    // Copies level `level` of `record` into level `target` of `texture`.
    // False when the level does not exist or does not fit that level.
    bool LoadSurface(const TexFileHeader::texture* record, int level, IDirect3DTexture8* texture, int target);

private:
    class file;

    IDirect3DDevice8* device_ = nullptr;
    D3DPOOL pool_ = D3DPOOL_MANAGED;
    std::unique_ptr<file> file_;
};
