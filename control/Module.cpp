// The module's exports: class objects, unloading, and self-registration.
#include <windows.h>
#include <comcat.h>
#include <objsafe.h>
#include <string>
#include "control/PL5CtrlObject.h"
#include "ptl/ClassFactory.h"
#include "ptl/Handle.h"
#include "ptl/Registrar.h"
#include "resources/resource.h"

namespace
{
const wchar_t APPID_TEXT[] = L"{CD46D855-4114-450F-A30A-1533D5A99195}";

PTL::RegistrarReplacements Replacements()
{
    return {
        {L"MODULE", PTL::CModule::Path()},
        {L"APPID", APPID_TEXT},
        {L"OLEMISC", std::to_wstring(CPL5Ctrl::MISC_STATUS)},
    };
}

bool ClassesKeyExists(const std::wstring& strPath)
{
    PTL::CRegKeyHandle key;
    return RegOpenKeyExW(HKEY_CLASSES_ROOT, strPath.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS;
}

std::wstring GuidText(REFGUID guid)
{
    wchar_t sz[40] = L"";
    StringFromGUID2(guid, sz, 40);
    return sz;
}

HRESULT UpdateCategories(bool bRegister)
{
    // Unregistering what is already gone is no failure.
    if (!bRegister && !ClassesKeyExists(L"CLSID\\" + GuidText(CLSID_PL5Ctrl) + L"\\Implemented Categories"))
        return S_OK;
    PTL::CComPtr<ICatRegister> pCatRegister;
    HRESULT hr = CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_ICatRegister,
                                  reinterpret_cast<void**>(&pCatRegister));
    if (FAILED(hr))
        return hr;
    CATID catids[] = {CATID_SafeForScripting, CATID_SafeForInitializing};
    return bRegister ? pCatRegister->RegisterClassImplCategories(CLSID_PL5Ctrl, 2, catids)
                     : pCatRegister->UnRegisterClassImplCategories(CLSID_PL5Ctrl, 2, catids);
}

HRESULT RegisterTypeLibrary()
{
    PTL::CComPtr<ITypeLib> pTypeLib;
    const std::wstring strPath = PTL::CModule::Path();
    const HRESULT hr = LoadTypeLibEx(strPath.c_str(), REGKIND_NONE, &pTypeLib);
    if (FAILED(hr))
        return hr;
    return RegisterTypeLib(pTypeLib, const_cast<OLECHAR*>(strPath.c_str()), nullptr);
}

HRESULT UnregisterTypeLibrary()
{
    PTL::CComPtr<ITypeLib> pTypeLib;
    HRESULT hr = LoadTypeLibEx(PTL::CModule::Path().c_str(), REGKIND_NONE, &pTypeLib);
    if (FAILED(hr))
        return hr;
    TLIBATTR* pAttr = nullptr;
    hr = pTypeLib->GetLibAttr(&pAttr);
    if (FAILED(hr))
        return hr;
    const TLIBATTR attr = *pAttr;
    pTypeLib->ReleaseTLibAttr(pAttr);
    // Already gone: nothing to do (the other architecture shares the library's key).
    wchar_t szKey[128] = L"";
    wsprintfW(szKey, L"TypeLib\\%s\\%u.%u\\%lx\\%s", GuidText(attr.guid).c_str(), attr.wMajorVerNum, attr.wMinorVerNum,
              static_cast<unsigned long>(attr.lcid), attr.syskind == SYS_WIN64 ? L"win64" : L"win32");
    if (!ClassesKeyExists(szKey))
        return S_OK;
    return UnRegisterTypeLib(attr.guid, attr.wMajorVerNum, attr.wMinorVerNum, attr.lcid, attr.syskind);
}
}  // namespace

extern "C"
{

__declspec(dllexport) HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (rclsid != CLSID_PL5Ctrl)
        return CLASS_E_CLASSNOTAVAILABLE;
    return PTL::GetClassFactory<CPL5CtrlObject>(riid, ppv);
}

__declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    if (PTL::CModule::LockCount() != 0)
        return S_FALSE;
    PTL::CTypeLib::Release();
    return S_OK;
}

__declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer()
{
    const HINSTANCE hInstance = PTL::CModule::Instance();
    HRESULT hr = PTL::CRegistrar::UpdateFromResource(hInstance, IDR_PL5_APPID, true, Replacements());
    if (SUCCEEDED(hr))
        hr = PTL::CRegistrar::UpdateFromResource(hInstance, IDR_PL5CTRL, true, Replacements());
    if (SUCCEEDED(hr))
        hr = UpdateCategories(true);
    if (SUCCEEDED(hr))
        hr = RegisterTypeLibrary();
    return hr;
}

__declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    const HINSTANCE hInstance = PTL::CModule::Instance();
    HRESULT hrFirst = S_OK;
    auto note = [&hrFirst](HRESULT hr) {
        if (FAILED(hr) && SUCCEEDED(hrFirst))
            hrFirst = hr;
    };
    note(UpdateCategories(false));
    note(UnregisterTypeLibrary());
    note(PTL::CRegistrar::UpdateFromResource(hInstance, IDR_PL5CTRL, false, Replacements()));
    note(PTL::CRegistrar::UpdateFromResource(hInstance, IDR_PL5_APPID, false, Replacements()));
    return hrFirst;
}

}  // extern "C"
