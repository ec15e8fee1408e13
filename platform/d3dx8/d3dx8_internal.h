// Helpers shared by the parts of the extension library.
#pragma once

#include "platform/d3dx8/d3dx8.h"

#include <string>

namespace d3dx {

// Records the reason of a failure for D3DXGetLastErrorText and returns code.
HRESULT Fail(HRESULT code, std::string reason);
// Clears the reason and returns S_OK.
HRESULT Succeed();

} // namespace d3dx
