// Directory scanning of the directory modes.
#pragma once

#include <map>
#include <string>

// Lower-case file name -> path to load.  Ordered by byte comparison, so
// files are processed in ascending order of their lower-case names.
using TextureFileMap = std::map<std::string, std::string>;

// Lists the entries of `dir` whose name ends in "." + extension, compared
// without regard to case ("*" lists everything).  Keys are the lower-case
// names; paths use the names as they are on disk.
void FindTextureFiles(const char* dir, const char* extension, TextureFileMap& files);
