// Entry points of the converter's modes.  Each takes the run's device and
// its operands (null when absent) and returns the process exit code.
#pragma once

#include "platform/d3d8/d3d8.h"

// The converter's exit codes (docs/errors.md); the process keeps their low
// 8 bits.  Several meanings share a value.
enum ExitCode : int {
    kExitFolderDone = 0,      // a directory mode processed its folder (files may still have failed)
    kExitBadArguments = 0,    // the argument complaint
    kExitNotLoaded = 0,       // "-single": the image could not be loaded
    kExitRanToEnd = 1,        // "-single", "-noise", "-dump", "-dumpperm", "-xml" ran to their end
    kExitNoDevice = E_FAIL,   // the rendering device could not be created (status 5)
    kExitNoInput = -1,        // no file of the extension in the folder; "-noise": no source (status 255)
};

// Directory conversion: with outDir, each image becomes a DDS file there;
// with texFile ("-complex"), all images go into one engine texture file.
ExitCode RunDirectoryMode(IDirect3DDevice8* device, const char* inDir, const char* extension, const char* outDir,
                          const char* texFile);

// "-single": one image to one DDS file of a named format and mip count.
ExitCode RunSingleMode(IDirect3DDevice8* device, const char* file, const char* format, const char* mips,
                       const char* outFile);

// "-noise": alpha faded level by level, written as DXT5.
ExitCode RunNoiseMode(IDirect3DDevice8* device, const char* source, const char* outFile, const char* decrement);

// "-dump" / "-dumpperm": every texture of an engine texture file to DDS files.
ExitCode RunDumpMode(IDirect3DDevice8* device, const char* texFile, const char* outDir, bool storedLevelsOnly);

// "-xml": a project file to a CDDS file.
ExitCode RunProjectBuildMode(IDirect3DDevice8* device, const char* project, const char* cddsFile);
