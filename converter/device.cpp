#include "converter/device.h"

HRESULT OpenRenderingDevice(IDirect3D8** d3d, IDirect3DDevice8** device)
{
    // No device window exists here: the software device never presents, so
    // the focus window is null.
    *d3d = Direct3DCreate8(D3D_SDK_VERSION);
    if (!*d3d)
        return E_FAIL;

    D3DDISPLAYMODE mode{};
    if (FAILED((*d3d)->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode)))
        return E_FAIL;

    D3DPRESENT_PARAMETERS params{};
    params.Windowed = TRUE;
    params.SwapEffect = D3DSWAPEFFECT_DISCARD;
    params.BackBufferFormat = mode.Format;

    if (FAILED((*d3d)->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_REF, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING,
                                    &params, device)))
        return E_FAIL;
    return S_OK;
}
