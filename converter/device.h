// The one rendering device of a converter run.
#pragma once

#include "platform/d3d8/d3d8.h"

// Creates a headless reference device.  The caller sets both out-parameters
// to null first; on success both hold one reference that lives for the rest
// of the run.  S_OK, or E_FAIL on any failure.
HRESULT OpenRenderingDevice(IDirect3D8** d3d, IDirect3DDevice8** device);
