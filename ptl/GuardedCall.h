// One entry of a scripted object's interface, run so that nothing the method does can hurt its
// caller: the object stays alive until the method returns (a page may let go of it from a
// handler the method calls), and no exception crosses the COM boundary.
#pragma once
#include <windows.h>
#include <new>

namespace PTL
{
template <class F>
HRESULT GuardedCall(IUnknown* pSelf, F&& body) noexcept
{
    pSelf->AddRef();
    HRESULT hr = E_FAIL;
    try
    {
        hr = body();
    }
    catch (const std::bad_alloc&)
    {
        hr = E_OUTOFMEMORY;
    }
    catch (...)
    {
        hr = E_FAIL;
    }
    // May be the last reference: nothing of the object is touched after it.
    pSelf->Release();
    return hr;
}
}  // namespace PTL
