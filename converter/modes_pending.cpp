// Modes whose implementation has not landed yet: each says so and ends.
#include "dprintf.h"
#include "modes.h"

namespace {
int NotAvailable(const char* mode)
{
    dprintf("%s: this mode is not available in this build\n", mode);
    return 0;
}
} // namespace

int RunDumpMode(IDirect3DDevice8*, const char*, const char*, bool storedLevelsOnly)
{
    return NotAvailable(storedLevelsOnly ? "-dumpperm" : "-dump");
}

int RunProjectBuildMode(IDirect3DDevice8*, const char*, const char*) { return NotAvailable("-xml"); }
