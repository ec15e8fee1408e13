#include "converter/mipforge.h"

#include "converter/device.h"
#include "converter/modes.h"
#include "engine/basekit/dprintf.h"
#include "platform/win32/win32.h"

namespace {

constexpr const char* kUsage[] = {
    "Mipforge.exe -noise <Source Tga file> <Dest dds file> <alpha decrease by miplevel>\n",
    "Mipforge.exe <InDir> <extention> <OutDir>\n",
    "Mipforge.exe -complex <InDir> <extention> <CDDS FileName>\n",
    "Mipforge.exe -dump <CDDS FileName> <OutDir>\n",
    "Mipforge.exe -single FileName format mip outfilename\n",
    "Mipforge.exe -xml <Project FileName> <CDDS FileName>\n",
};

ExitCode Complain()
{
    dprintf("%s", "Incorrect calling \nPlease type >Mipforge <InDir> <OutDir> [<Out complex file>]");
    return kExitBadArguments;
}

bool Is(const char* arg, const char* option) { return win32::StrICmp(arg, option) == 0; }

} // namespace

int MipforgeMain(int argc, char** argv)
{
    for (const char* line : kUsage)
        dprintf("%s", line);

    if (argc < 3 || argc > 6)
        return Complain();

    // The device and its Direct3D object live until the process ends; they
    // are held in static storage so that nothing about them is lost.
    static IDirect3D8* d3d = nullptr;
    static IDirect3DDevice8* device = nullptr;
    if (FAILED(OpenRenderingDevice(&d3d, &device)))
        return kExitNoDevice;

    // A mode never reads past the argument list: a command line that lacks
    // one of the mode's operands gets the argument complaint.
    const char* mode = argv[1];
    if (Is(mode, "-xml")) {
        if (argc < 4)
            return Complain();
        return RunProjectBuildMode(device, argv[2], argv[3]);
    }
    if (Is(mode, "-complex")) {
        if (argc < 5)
            return Complain();
        return RunDirectoryMode(device, argv[2], argv[3], nullptr, argv[4]);
    }
    if (Is(mode, "-dump") || Is(mode, "-dumpperm")) {
        return RunDumpMode(device, argv[2], argc > 3 ? argv[3] : nullptr, Is(mode, "-dumpperm"));
    }
    if (Is(mode, "-noise")) {
        if (argc < 5)
            return Complain();
        return RunNoiseMode(device, argv[2], argv[3], argv[4]);
    }
    if (Is(mode, "-single")) {
        if (argc < 6)
            return Complain();
        return RunSingleMode(device, argv[2], argv[3], argv[4], argv[5]);
    }
    if (argc < 4)
        return Complain();
    return RunDirectoryMode(device, argv[1], argv[2], argv[3], nullptr);
}
