#include "platform/d3dx8/d3dx8.h"
#include "platform/d3dx8/d3dx8_internal.h"

namespace {
thread_local std::string t_lastError;
}

const std::string& D3DXGetLastErrorText() { return t_lastError; }

namespace d3dx {

HRESULT Fail(HRESULT code, std::string reason)
{
    t_lastError = std::move(reason);
    return code;
}

HRESULT Succeed()
{
    t_lastError.clear();
    return S_OK;
}

} // namespace d3dx
