// The registered control as any COM client meets it: registration in the registry, creation by
// program id, unloading, and what the user sees when a page asks the control to open something.
#include <windows.h>
#include <shlwapi.h>
#include <gtest/gtest.h>
#include <string>
#include "Pelora5_h.h"
#include "tests/common/DialogWatcher.h"
#include "ptl/ComPtr.h"
#include "ptl/Handle.h"
#include "ptl/Text.h"

using PTL::CComBSTR;
using PTL::CComPtr;

namespace
{
const wchar_t CLSID_KEY[] = L"CLSID\\{7E2A99B8-B972-44DB-9201-9A443A38EFD5}";
const wchar_t APPID_KEY[] = L"AppID\\{CD46D855-4114-450F-A30A-1533D5A99195}";
const wchar_t TYPELIB_KEY[] = L"TypeLib\\{798247F5-EA72-4E5E-89D3-97753CD4D50D}";

#ifdef _WIN64
const REGSAM OTHER_VIEW = KEY_WOW64_32KEY;
#else
const REGSAM OTHER_VIEW = KEY_WOW64_64KEY;
#endif

bool KeyExists(const std::wstring& strPath, REGSAM samView = 0)
{
    PTL::CRegKeyHandle key;
    return RegOpenKeyExW(HKEY_CLASSES_ROOT, strPath.c_str(), 0, KEY_READ | samView, &key) == ERROR_SUCCESS;
}

std::wstring DefaultValue(const std::wstring& strPath, REGSAM samView = 0, const wchar_t* szName = nullptr)
{
    PTL::CRegKeyHandle key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, strPath.c_str(), 0, KEY_READ | samView, &key) != ERROR_SUCCESS)
        return L"<missing>";
    wchar_t sz[1024] = L"";
    DWORD cb = sizeof(sz) - sizeof(wchar_t);
    DWORD dwType = 0;
    const LSTATUS ls = RegQueryValueExW(key.Get(), szName, nullptr, &dwType, reinterpret_cast<BYTE*>(sz), &cb);
    return ls == ERROR_SUCCESS && dwType == REG_SZ ? std::wstring(sz) : std::wstring(L"<missing>");
}

// The registered module of this architecture, loaded by path to call its exports.
class CRegisteredModule
{
public:
    CRegisteredModule()
    {
        m_strPath = DefaultValue(std::wstring(CLSID_KEY) + L"\\InprocServer32");
        m_module.Reset(LoadLibraryW(m_strPath.c_str()));
    }

    HRESULT Call(const char* szExport) const
    {
        auto pfn = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(GetProcAddress(m_module.Get(), szExport));
        return pfn ? pfn() : E_NOTIMPL;
    }
    bool Loaded() const { return m_module.IsValid(); }
    const std::wstring& Path() const { return m_strPath; }

private:
    std::wstring m_strPath;
    PTL::CLibraryHandle m_module;
};
}  // namespace

TEST(Registration, ProgIdsLeadToTheClass)
{
    for (const wchar_t* szProgId : {L"Pelora5.PL5Ctrl", L"Pelora5.PL5Ctrl.1"})
    {
        CLSID clsid = {};
        ASSERT_EQ(S_OK, CLSIDFromProgID(szProgId, &clsid)) << PTL::EncodeText(szProgId);
        EXPECT_TRUE(clsid == CLSID_PL5Ctrl) << PTL::EncodeText(szProgId);
    }
    EXPECT_EQ("Pelora5.PL5Ctrl.1", PTL::EncodeText(DefaultValue(L"Pelora5.PL5Ctrl\\CurVer")));
    CComPtr<IPL5Ctrl> p;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_PL5Ctrl, nullptr, CLSCTX_INPROC_SERVER, IID_IPL5Ctrl,
                                     reinterpret_cast<void**>(&p)));
}

TEST(Registration, KeysValuesAndCategories)
{
    const std::wstring strClsid = CLSID_KEY;
    const struct
    {
        std::wstring strKey;
        const wchar_t* szName;
        const wchar_t* szExpected;
    } cases[] = {
        {strClsid + L"\\ProgID", nullptr, L"Pelora5.PL5Ctrl.1"},
        {strClsid + L"\\VersionIndependentProgID", nullptr, L"Pelora5.PL5Ctrl"},
        {strClsid + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {strClsid + L"\\MiscStatus", nullptr, L"0"},
        {strClsid + L"\\MiscStatus\\1", nullptr, L"131473"},
        {strClsid + L"\\TypeLib", nullptr, L"{798247F5-EA72-4E5E-89D3-97753CD4D50D}"},
        {strClsid + L"\\Version", nullptr, L"1.1"},
        {L"Interface\\{E71559C4-DC0F-46F4-9BAF-1A1D89A3EDFB}\\TypeLib", L"Version", L"1.1"},
        {strClsid, L"AppID", L"{CD46D855-4114-450F-A30A-1533D5A99195}"},
        {APPID_KEY, nullptr, L"Pelora5"},
        {L"AppID\\Pelora5.DLL", L"AppID", L"{CD46D855-4114-450F-A30A-1533D5A99195}"},
    };
    int i = 0;
    for (const auto& c : cases)
        EXPECT_EQ(PTL::EncodeText(c.szExpected), PTL::EncodeText(DefaultValue(c.strKey, 0, c.szName)))
            << "case " << i++;
    for (const wchar_t* szSub :
         {L"\\Programmable", L"\\Control", L"\\Implemented Categories\\{7DD95801-9882-11CF-9FA9-00AA006C42C4}",
          L"\\Implemented Categories\\{7DD95802-9882-11CF-9FA9-00AA006C42C4}"})
        EXPECT_TRUE(KeyExists(strClsid + szSub)) << PTL::EncodeText(szSub);
    const std::wstring strModule = DefaultValue(strClsid + L"\\InprocServer32");
    EXPECT_EQ(PTL::EncodeText(strModule + L", 102"), PTL::EncodeText(DefaultValue(strClsid + L"\\ToolboxBitmap32")));
    EXPECT_TRUE(KeyExists(std::wstring(TYPELIB_KEY) + L"\\1.1"));
}

TEST(Registration, BothArchitecturesLiveSideBySide)
{
    const std::wstring strServer = std::wstring(CLSID_KEY) + L"\\InprocServer32";
    const std::wstring strMine = DefaultValue(strServer);
    const std::wstring strOther = DefaultValue(strServer, OTHER_VIEW);
    EXPECT_NE("<missing>", PTL::EncodeText(strOther));
    EXPECT_NE(PTL::EncodeText(strMine), PTL::EncodeText(strOther));
    EXPECT_NE(std::wstring::npos, strMine.find(sizeof(void*) == 8 ? L"x64" : L"x86")) << PTL::EncodeText(strMine);
}

TEST(Registration, RegisterTwiceReplacesAndUnregisterRemoves)
{
    CRegisteredModule module;
    ASSERT_TRUE(module.Loaded()) << PTL::EncodeText(module.Path());

    // A stale subkey under the class key goes when the class key is registered again.
    {
        PTL::CRegKeyHandle stale;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, (std::wstring(CLSID_KEY) + L"\\Stale").c_str(), 0,
                                                 nullptr, 0, KEY_WRITE, nullptr, &stale, nullptr));
    }
    EXPECT_EQ(S_OK, module.Call("DllRegisterServer"));
    EXPECT_EQ(S_OK, module.Call("DllRegisterServer"));
    EXPECT_FALSE(KeyExists(std::wstring(CLSID_KEY) + L"\\Stale"));
    EXPECT_TRUE(KeyExists(std::wstring(CLSID_KEY) + L"\\InprocServer32"));

    EXPECT_EQ(S_OK, module.Call("DllUnregisterServer"));
    for (const wchar_t* szGone :
         {CLSID_KEY, APPID_KEY, L"AppID\\Pelora5.DLL", L"Pelora5.PL5Ctrl", L"Pelora5.PL5Ctrl.1"})
        EXPECT_FALSE(KeyExists(szGone)) << PTL::EncodeText(szGone);
    for (const wchar_t* szKept : {L"CLSID", L"AppID"})
        EXPECT_TRUE(KeyExists(szKept)) << PTL::EncodeText(szKept);
    // Unregistering what is already gone is no failure.
    EXPECT_EQ(S_OK, module.Call("DllUnregisterServer"));

    // Leave the machine registered for everything that follows (the other architecture shares
    // the program ids, so put them back too).
    EXPECT_EQ(S_OK, module.Call("DllRegisterServer"));
    EXPECT_TRUE(KeyExists(L"Pelora5.PL5Ctrl"));
}

TEST(Registration, UnloadOnlyWithoutLiveObjects)
{
    CRegisteredModule module;
    ASSERT_TRUE(module.Loaded());
    {
        CComPtr<IPL5Ctrl> p;
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_PL5Ctrl, nullptr, CLSCTX_INPROC_SERVER, IID_IPL5Ctrl,
                                         reinterpret_cast<void**>(&p)));
        EXPECT_EQ(S_FALSE, module.Call("DllCanUnloadNow"));
    }
    EXPECT_EQ(S_OK, module.Call("DllCanUnloadNow"));
    CoFreeUnusedLibraries();
}

TEST(ExcuteLocalFile, RefusesWhatThePageMayNotOpenAndTellsTheUser)
{
    CComPtr<IPL5Ctrl> p;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_PL5Ctrl, nullptr, CLSCTX_INPROC_SERVER, IID_IPL5Ctrl,
                                     reinterpret_cast<void**>(&p)));
    const wchar_t* paths[] = {
        L"C:\\windows\\system32\\notepad.exe",
        L"notepad.exe",
        L"\\\\server\\share\\setup.exe",
        L"file:///C:/windows/system32/notepad.exe",
        L"ftp://example.invalid/x",
        L"",
    };
    const std::wstring strDenied = SystemErrorText(ERROR_ACCESS_DENIED);
    ASSERT_FALSE(strDenied.empty());
    int i = 0;
    for (const wchar_t* szPath : paths)
    {
        CDialogWatcher watcher([](const CSeenDialog&) { return IDOK; });
        VARIANT_BOOL vb = VARIANT_TRUE;
        EXPECT_EQ(S_OK, p->ExcuteLocalFile(CComBSTR(szPath), &vb)) << "case " << i;
        EXPECT_EQ(VARIANT_FALSE, vb) << "case " << i;
        const std::vector<CSeenDialog> seen = watcher.Seen();
        ASSERT_EQ(1u, seen.size()) << "case " << i;
        EXPECT_EQ(std::wstring(L"알림"), seen[0].strCaption) << "case " << i;
        EXPECT_EQ(PTL::EncodeText(strDenied), PTL::EncodeText(seen[0].MessageText())) << "case " << i;
        ++i;
    }
}
