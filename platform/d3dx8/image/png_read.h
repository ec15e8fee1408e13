// The two PNG readers behind DecodePng, apart for the tests that hold them
// to the same result.
#pragma once

#include "platform/d3dx8/image/imagefile.h"

namespace d3dx::image {

// 8-bit RGB and RGBA pictures without interlacing or tRNS, checked whole;
// false for every other file (with `out` left without levels), which then
// goes to libpng.
bool DecodePlainPng(Bytes data, Picture& out);

// Any PNG, through libpng.
HRESULT DecodePngWithLibpng(Bytes data, Picture& out);

} // namespace d3dx::image
