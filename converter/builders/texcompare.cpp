#include "converter/builders/texcompare.h"

#include <cstring>

bool Tex_SameImage(IDirect3DTexture8* a, IDirect3DTexture8* b)
{
    if (a == b)
        return true;
    const DWORD levels = a->GetLevelCount();
    if (levels != b->GetLevelCount())
        return false;
    for (DWORD i = levels; i-- > 0;) {
        D3DSURFACE_DESC da{}, db{};
        if (FAILED(a->GetLevelDesc(i, &da)) || FAILED(b->GetLevelDesc(i, &db)))
            return false;
        if (da.Format != db.Format || da.Size != db.Size || da.Width != db.Width || da.Height != db.Height)
            return false;
        D3DLOCKED_RECT la{}, lb{};
        if (FAILED(a->LockRect(i, &la, nullptr, D3DLOCK_READONLY)))
            return false;
        if (FAILED(b->LockRect(i, &lb, nullptr, D3DLOCK_READONLY))) {
            a->UnlockRect(i);
            return false;
        }
        // The level's bytes as one block: rows and their padding alike.
        const bool same = std::memcmp(la.pBits, lb.pBits, da.Size) == 0;
        a->UnlockRect(i);
        b->UnlockRect(i);
        if (!same)
            return false;
    }
    return true;
}
