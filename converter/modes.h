// Entry points of the converter's modes.  Each takes the run's device and
// its operands (null when absent) and returns the process exit code.
#pragma once

#include "d3d8.h"

// Directory conversion: with outDir, each image becomes a DDS file there;
// with texFile ("-complex"), all images go into one engine texture file.
int RunDirectoryMode(IDirect3DDevice8* device, const char* inDir, const char* extension, const char* outDir,
                     const char* texFile);

// "-single": one image to one DDS file of a named format and mip count.
int RunSingleMode(IDirect3DDevice8* device, const char* file, const char* format, const char* mips,
                  const char* outFile);

// "-noise": alpha faded level by level, written as DXT5.
int RunNoiseMode(IDirect3DDevice8* device, const char* source, const char* outFile, const char* decrement);

// "-dump" / "-dumpperm": every texture of an engine texture file to DDS files.
int RunDumpMode(IDirect3DDevice8* device, const char* texFile, const char* outDir, bool storedLevelsOnly);

// "-xml": a project file to a CDDS file.
int RunProjectBuildMode(IDirect3DDevice8* device, const char* project, const char* cddsFile);
