// The container readers take a file name: each input is written to one
// file in memory-backed storage, replaced (not truncated) every time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The path that now holds `size` bytes of `data`.  Readers that choose by
// the file name get `suffix` appended (one file per suffix).
const std::string& FuzzInputFile(const std::uint8_t* data, std::size_t size, const char* suffix = "");
