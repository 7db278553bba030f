// The two language packs as the control carries them: image shape, the string table, the context
// menu and both dialog templates, read by our own loader and cross-checked with the system's.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <set>

#include "lang/LangIds.h"
#include "lang/LangTestUtil.h"
#include "lang/PEModule.h"
#include "lang/ResourceReader.h"
#include "resources/resource.h"

using namespace PL5Test;

namespace
{
struct CPack
{
    UINT nId;
    const wchar_t* szCode;
    WORD nLanguage;
};
const CPack aPacks[] = {{IDR_LANG_EN, L"EN", 0x0409}, {IDR_LANG_KO, L"KO", 0x0412}};

PL5Lang::CLangTable ReadTable(UINT nId)
{
    PL5Lang::CLangTable table;
    EXPECT_TRUE(PL5Lang::ReadPack(GetModuleHandleW(nullptr), nId, table)) << "pack " << nId;
    return table;
}

std::wstring StringOf(const PL5Lang::CLangTable& table, UINT nId)
{
    const auto it = table.strings.find(nId);
    return it == table.strings.end() ? std::wstring() : it->second;
}

// The wsprintf conversions of a text, in order ("%lu", "%s", "%02d", ...).
std::vector<std::wstring> Placeholders(const std::wstring& str)
{
    std::vector<std::wstring> result;
    for (size_t i = 0; i < str.size(); ++i)
    {
        if (str[i] != L'%')
            continue;
        size_t j = i + 1;
        while (j < str.size() && wcschr(L"0123456789-#. l", str[j]))
            ++j;
        if (j < str.size())
            result.push_back(str.substr(i, j - i + 1));
        i = j;
    }
    return result;
}

// A pack written out and opened by the system as a data file, to check our reading against.
class CSystemPack
{
public:
    explicit CSystemPack(UINT nId)
    {
        wchar_t szDir[MAX_PATH];
        GetTempPathW(MAX_PATH, szDir);
        GetTempFileNameW(szDir, L"pl5", 0, szPath);
        const std::vector<BYTE> image = PackImage(nId);
        HANDLE hFile = CreateFileW(szPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD nWritten = 0;
        WriteFile(hFile, image.data(), static_cast<DWORD>(image.size()), &nWritten, nullptr);
        CloseHandle(hFile);
        hModule = LoadLibraryExW(szPath, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }
    ~CSystemPack()
    {
        if (hModule)
            FreeLibrary(hModule);
        DeleteFileW(szPath);
    }
    HMODULE Module() const { return hModule; }

private:
    wchar_t szPath[MAX_PATH] = {};
    HMODULE hModule = nullptr;
};

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD nLanguage, LONG_PTR lParam)
{
    reinterpret_cast<std::vector<WORD>*>(lParam)->push_back(nLanguage);
    return TRUE;
}

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR szName, LONG_PTR lParam)
{
    reinterpret_cast<std::vector<UINT>*>(lParam)->push_back(
        IS_INTRESOURCE(szName) ? static_cast<UINT>(reinterpret_cast<ULONG_PTR>(szName)) : 0);
    return TRUE;
}

INT_PTR CALLBACK IdleDialogProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

struct CChild
{
    int nId;
    const wchar_t* szClass;
    DWORD nStyle;  // bits the control must have, WS_VISIBLE included when it starts visible
    const wchar_t* szEnglish;
    const wchar_t* szKorean;
};

const DWORD nStatic = WS_VISIBLE | WS_GROUP;
const DWORD nEllipsis = nStatic | SS_ENDELLIPSIS | SS_NOPREFIX;
const CChild aUploadControls[] = {
    {-1, L"Static", nEllipsis, L"Current File : ", L"현재파일 : "},
    {IDC_CURRENT_FILE, L"Static", nStatic | SS_WORDELLIPSIS, L"temp.file", L""},
    {-1, L"Static", nEllipsis, L"Transfer Rate : ", L"전송속도 :"},
    {IDC_TRANSFER_RATE, L"Static", nEllipsis, L"0.00KB", L""},
    {-1, L"Static", nEllipsis, L"Progress : ", L"전송용량 : "},
    {IDC_FILE_BYTES, L"Static", nEllipsis, L"0.00KB / 0.00KB (0%)", L""},
    {IDC_FILE_TIME_LEFT, L"Static", nEllipsis | SS_RIGHT, L"Time Left : 00:00:00", L"남은시간 : 00:00:00"},
    {IDC_FILE_PROGRESS, L"msctls_progress32", WS_VISIBLE | PBS_SMOOTH, L"", L""},
    {-1, L"Static", nStatic, L"All files : ", L"전체파일 : "},
    {IDC_FILE_COUNT, L"Static", nStatic, L"0 / 0", L""},
    {-1, L"Static", nEllipsis, L"Progress : ", L"전송용량 : "},
    {IDC_TOTAL_BYTES, L"Static", nEllipsis, L"0.00KB / 0.00KB (0%)", L""},
    {IDC_TOTAL_TIME_LEFT, L"Static", nEllipsis | SS_RIGHT, L"Time Left : 00:00:00", L"남은시간 : 00:00:00"},
    {IDC_TOTAL_PROGRESS, L"msctls_progress32", WS_VISIBLE | PBS_SMOOTH, L"", L""},
    {-1, L"Static", nEllipsis, L"Status : ", L"현재상황 : "},
    {IDC_STATUS_TEXT, L"Static", nEllipsis, L"", L""},
    {IDC_HIDE_LIST, L"Button", WS_TABSTOP | BS_FLAT, L"hide list", L"리스트 감추기"},
    {IDC_UPLOAD_LIST, L"SysListView32",
     WS_VISIBLE | WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHAREIMAGELISTS |
         LVS_ALIGNLEFT | LVS_OWNERDATA,
     L"", L""},
    {IDOK, L"Button", WS_TABSTOP | BS_DEFPUSHBUTTON, L"Ok", L"확인"},
    {IDCANCEL, L"Button", WS_TABSTOP, L"Cancel", L"취소"},
    {IDC_POWERED_BY, L"Static", nStatic, L"Powered by Pelora", L"Powered by Pelora"},
};
const CChild aPanelControls[] = {
    {-1, L"Static", WS_VISIBLE, L"Multiple files can be selected", L"여러개의 파일을 동시에 선택할 수 있습니다."},
    {-1, L"Static", WS_VISIBLE, L"Files can be selected using drag and drop or using CTRL, SHIFT key",
     L"파일을 드래그 해서 선택 하시거나, CTRL 혹은 SHIFT키와 함께 선택하시면 됩니다."},
};

void ExpectChildren(HWND hDialog, const CChild* pExpected, size_t nExpected, bool bKorean,
                    const char* szWhat)
{
    std::vector<HWND> children;
    for (HWND hChild = GetWindow(hDialog, GW_CHILD); hChild; hChild = GetWindow(hChild, GW_HWNDNEXT))
        children.push_back(hChild);
    EXPECT_EQ(nExpected, children.size()) << szWhat;
    for (size_t i = 0; i < children.size() && i < nExpected; ++i)
    {
        const HWND hChild = children[i];
        const CChild& expected = pExpected[i];
        wchar_t szClass[64] = {}, szText[256] = {};
        GetClassNameW(hChild, szClass, 64);
        GetWindowTextW(hChild, szText, 256);
        DWORD nStyle = static_cast<DWORD>(GetWindowLongW(hChild, GWL_STYLE));
        // The list view trades its border style for the client-edge extended style.
        if (GetWindowLongW(hChild, GWL_EXSTYLE) & WS_EX_CLIENTEDGE)
            nStyle |= WS_BORDER;
        EXPECT_EQ(static_cast<WORD>(expected.nId), static_cast<WORD>(GetDlgCtrlID(hChild)))
            << szWhat << " control " << i;
        EXPECT_EQ(0, lstrcmpiW(expected.szClass, szClass)) << szWhat << " control " << i << " "
                                                           << Narrow(szClass);
        EXPECT_EQ(expected.nStyle, nStyle & (expected.nStyle | WS_VISIBLE))
            << szWhat << " control " << i;
        EXPECT_EQ(Narrow(bKorean ? expected.szKorean : expected.szEnglish), Narrow(szText))
            << szWhat << " control " << i;
    }
}

// The fixed part of an extended dialog template.
#pragma pack(push, 1)
struct DLGTEMPLATEEX_HEAD
{
    WORD dlgVer;
    WORD signature;
    DWORD helpID;
    DWORD exStyle;
    DWORD style;
    WORD cDlgItems;
    short x, y, cx, cy;
};
#pragma pack(pop)
} // namespace

TEST(Packs, AreResourceOnly32BitLibraries)
{
    for (const CPack& pack : aPacks)
    {
        const std::vector<BYTE> image = PackImage(pack.nId);
        ASSERT_FALSE(image.empty()) << pack.nId;
        PTL::CPEModule module;
        ASSERT_TRUE(module.Map(image.data(), image.size())) << pack.nId;
        const IMAGE_NT_HEADERS32* pHeaders = module.Headers();
        EXPECT_EQ(IMAGE_FILE_MACHINE_I386, pHeaders->FileHeader.Machine) << pack.nId;
        EXPECT_TRUE(pHeaders->FileHeader.Characteristics & IMAGE_FILE_DLL) << pack.nId;
        EXPECT_EQ(0u, pHeaders->OptionalHeader.AddressOfEntryPoint) << pack.nId;
        EXPECT_EQ(0u, pHeaders->OptionalHeader.SizeOfCode) << pack.nId;
        EXPECT_EQ(0u, module.Directory(IMAGE_DIRECTORY_ENTRY_IMPORT).Size) << pack.nId;
        EXPECT_NE(0u, module.Directory(IMAGE_DIRECTORY_ENTRY_RESOURCE).Size) << pack.nId;
    }
}

// Every resource in exactly one language, and our reader agrees with the system's on every
// string, the menu and both templates.
TEST(Packs, SystemReadsWhatOurReaderReads)
{
    for (const CPack& pack : aPacks)
    {
        const PL5Lang::CLangTable table = ReadTable(pack.nId);
        CSystemPack system(pack.nId);
        ASSERT_NE(nullptr, system.Module()) << pack.nId;
        const LPCWSTR aTypes[] = {RT_STRING, RT_MENU, RT_DIALOG};
        for (LPCWSTR szType : aTypes)
        {
            std::vector<UINT> names;
            EnumResourceNamesW(system.Module(), szType, CollectName, reinterpret_cast<LONG_PTR>(&names));
            EXPECT_FALSE(names.empty()) << pack.nId;
            for (UINT nName : names)
            {
                std::vector<WORD> languages;
                EnumResourceLanguagesW(system.Module(), szType, MAKEINTRESOURCEW(nName),
                                       CollectLanguage, reinterpret_cast<LONG_PTR>(&languages));
                EXPECT_EQ(std::vector<WORD>{pack.nLanguage}, languages) << pack.nId << " " << nName;
            }
        }
        for (const auto& entry : table.strings)
        {
            wchar_t szText[1024] = {};
            LoadStringW(system.Module(), entry.first, szText, 1024);
            EXPECT_EQ(Narrow(entry.second), Narrow(szText)) << pack.nId << " string " << entry.first;
        }
        const struct
        {
            LPCWSTR szType;
            UINT nId;
            const std::map<UINT, PL5Lang::CLangBlock>* pBlocks;
        } blocks[] = {{RT_MENU, IDM_CONTEXT, &table.menus},
                      {RT_DIALOG, IDD_FILE_PANEL, &table.dialogs},
                      {RT_DIALOG, IDD_UPLOAD, &table.dialogs}};
        for (const auto& block : blocks)
        {
            HRSRC hInfo = FindResourceW(system.Module(), MAKEINTRESOURCEW(block.nId), block.szType);
            ASSERT_NE(nullptr, hInfo) << pack.nId << " " << block.nId;
            const BYTE* p = static_cast<const BYTE*>(LockResource(LoadResource(system.Module(), hInfo)));
            const std::vector<BYTE> expected(p, p + SizeofResource(system.Module(), hInfo));
            ASSERT_EQ(1u, block.pBlocks->count(block.nId)) << pack.nId << " " << block.nId;
            EXPECT_EQ(expected, block.pBlocks->at(block.nId).data) << pack.nId << " " << block.nId;
        }
    }
}

TEST(Packs, StringTablesHoldTheSameIdsAndPlaceholders)
{
    std::set<UINT> expectedIds = {0, 1};
    for (UINT n = 100; n <= 111; ++n)
        expectedIds.insert(n);
    for (UINT n = 301; n <= 304; ++n)
        expectedIds.insert(n);
    for (UINT n = 501; n <= 514; ++n)
        expectedIds.insert(n);

    const PL5Lang::CLangTable english = ReadTable(IDR_LANG_EN);
    const PL5Lang::CLangTable korean = ReadTable(IDR_LANG_KO);
    for (const PL5Lang::CLangTable* pTable : {&english, &korean})
    {
        std::set<UINT> ids;
        for (const auto& entry : pTable->strings)
            ids.insert(entry.first);
        EXPECT_EQ(expectedIds, ids);
    }
    // Callers format either pack's text with the same arguments: the conversions must agree.
    for (UINT nId : expectedIds)
    {
        const std::vector<std::wstring> en = Placeholders(StringOf(english, nId));
        const std::vector<std::wstring> ko = Placeholders(StringOf(korean, nId));
        EXPECT_EQ(en, ko) << "string " << nId;
    }
}

TEST(Packs, StringsHaveTheirExactTexts)
{
    const struct
    {
        UINT nPack;
        UINT nId;
        const wchar_t* szText;
    } cases[] = {
        {IDR_LANG_EN, 0, L"PELORA5"},
        {IDR_LANG_EN, 1, L"EN"},
        {IDR_LANG_EN, 100, L"Alert"},
        {IDR_LANG_EN, 104, L"%lu Selected Files%s"},
        {IDR_LANG_EN, 111, L"Time Left : %02d:%02d:%02d"},
        {IDR_LANG_EN, 303, L"0 byte file can not be selected:\n\n%s"},
        {IDR_LANG_EN, 507, L" "},
        {IDR_LANG_EN, 510, L" "},
        {IDR_LANG_EN, 514, L"All files"},
        {IDR_LANG_KO, 0, L"PELORA5"},
        {IDR_LANG_KO, 1, L"KO"},
        // Spelled as code units: UTF-8 read as another code page gives other units.
        {IDR_LANG_KO, 100, L"\xC54C\xB9BC"},
        {IDR_LANG_KO, 101, L"파일 이름"},
        {IDR_LANG_KO, 105, L" (최대 %lu개)"},
        {IDR_LANG_KO, 301,
         L"선택 가능한 파일 개수를 초과 합니다 :\n\n  최대 선택 가능한 개수: %d개\n  이미 선택된 파일 개수: %d개\n"
         L"  현재 선택 가능한 개수: %d개\n  현재 선택한 파일 개수: %d개"},
        {IDR_LANG_KO, 507, L"전송된 파일을 처리중 입니다. 잠시만 기다려 주십시오."},
        {IDR_LANG_KO, 512, L"전송중 오류가 발생하였습니다."},
    };
    const PL5Lang::CLangTable english = ReadTable(IDR_LANG_EN);
    const PL5Lang::CLangTable korean = ReadTable(IDR_LANG_KO);
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i)
    {
        const PL5Lang::CLangTable& table = cases[i].nPack == IDR_LANG_EN ? english : korean;
        EXPECT_EQ(Narrow(cases[i].szText), Narrow(StringOf(table, cases[i].nId))) << "case " << i;
    }

    // The English limit messages: a heading, an empty line, then the four values each on its own
    // indented line; the size one ends with a line feed like its Korean counterpart.
    const struct
    {
        UINT nId;
        const wchar_t* szHeading;
        const wchar_t* szConversion;
    } limits[] = {{301, L"Too many files selected :\n\n", L"%d"},
                  {302, L"Max upload limit exceeded.\n\n", L"%s"}};
    for (const auto& limit : limits)
    {
        const std::wstring strText = StringOf(english, limit.nId);
        EXPECT_EQ(0u, strText.find(limit.szHeading)) << limit.nId;
        size_t nLines = 0;
        for (size_t n = strText.find(L"\n  "); n != std::wstring::npos; n = strText.find(L"\n  ", n + 1))
        {
            const size_t nEnd = strText.find(L'\n', n + 1);
            const std::wstring strLine = strText.substr(n + 1, nEnd == std::wstring::npos ? nEnd : nEnd - n - 1);
            EXPECT_NE(std::wstring::npos, strLine.find(limit.szConversion)) << Narrow(strLine);
            ++nLines;
        }
        EXPECT_EQ(4u, nLines) << limit.nId;
        EXPECT_EQ(StringOf(korean, limit.nId).back() == L'\n', strText.back() == L'\n') << limit.nId;
    }
    EXPECT_FALSE(StringOf(english, 512).empty());
    EXPECT_NE(StringOf(english, 511), StringOf(english, 512));
}

TEST(Packs, ContextMenuHoldsTheFiveCommands)
{
    const struct
    {
        UINT nId;
        const wchar_t* szEnglish;
        const wchar_t* szKorean;
    } items[] = {
        {ID_ADD_FILE, L"Add File(&F)", L"파일 추가(&A)"},
        {0, nullptr, nullptr},
        {ID_REMOVE_SELECTED, L"Remove Selected Files(&D)", L"선택한 파일 제거(&D)"},
        {ID_REMOVE_ALL, L"Remove All Files(&A)", L"모든 파일 제거(&A)"},
        {0, nullptr, nullptr},
        {ID_EXECUTE_FILE, L"Excute File(&E)", L"파일 열기(&O)"},
    };
    for (const CPack& pack : aPacks)
    {
        const PL5Lang::CLangTable table = ReadTable(pack.nId);
        ASSERT_EQ(1u, table.menus.count(IDM_CONTEXT)) << pack.nId;
        HMENU hMenu = LoadMenuIndirectW(table.menus.at(IDM_CONTEXT).data.data());
        ASSERT_NE(nullptr, hMenu) << pack.nId;
        EXPECT_EQ(1, GetMenuItemCount(hMenu)) << pack.nId;
        HMENU hPopup = GetSubMenu(hMenu, 0);
        ASSERT_NE(nullptr, hPopup) << pack.nId;
        ASSERT_EQ(6, GetMenuItemCount(hPopup)) << pack.nId;
        for (int i = 0; i < 6; ++i)
        {
            wchar_t szText[128] = {};
            MENUITEMINFOW info{};
            info.cbSize = sizeof(info);
            info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
            info.dwTypeData = szText;
            info.cch = 128;
            ASSERT_TRUE(GetMenuItemInfoW(hPopup, i, TRUE, &info)) << pack.nId << " item " << i;
            if (!items[i].szEnglish)
            {
                EXPECT_TRUE(info.fType & MFT_SEPARATOR) << pack.nId << " item " << i;
                continue;
            }
            EXPECT_EQ(items[i].nId, info.wID) << pack.nId << " item " << i;
            const wchar_t* szExpected = pack.nId == IDR_LANG_EN ? items[i].szEnglish : items[i].szKorean;
            EXPECT_EQ(Narrow(szExpected), Narrow(szText)) << pack.nId << " item " << i;
        }
        if (pack.nId == IDR_LANG_EN)
        {
            wchar_t szTitle[32] = {};
            GetMenuStringW(hMenu, 0, szTitle, 32, MF_BYPOSITION);
            EXPECT_EQ(std::string("popup"), Narrow(szTitle));
        }
        DestroyMenu(hMenu);
    }
}

TEST(Packs, DialogsCreateWithEveryControl)
{
    INITCOMMONCONTROLSEX init = {sizeof(init), ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    ASSERT_TRUE(InitCommonControlsEx(&init));
    const struct
    {
        UINT nDialog;
        const CChild* pControls;
        size_t nControls;
        short cx, cy;
        DWORD nStyle, nExStyle;
        const wchar_t* szEnglish;
        const wchar_t* szKorean;
    } dialogs[] = {
        {IDD_FILE_PANEL, aPanelControls, 2, 300, 33,
         WS_CHILD | WS_CLIPSIBLINGS | WS_SYSMENU | DS_CONTROL | DS_SHELLFONT, 0, L"", L""},
        {IDD_UPLOAD, aUploadControls, sizeof(aUploadControls) / sizeof(aUploadControls[0]), 255, 225,
         WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | DS_CENTER |
             DS_MODALFRAME | DS_SHELLFONT,
         WS_EX_TOOLWINDOW, L" File Upload", L" 파일 업로드"},
    };
    for (const CPack& pack : aPacks)
    {
        const bool bKorean = pack.nId == IDR_LANG_KO;
        const PL5Lang::CLangTable table = ReadTable(pack.nId);
        for (const auto& dialog : dialogs)
        {
            ASSERT_EQ(1u, table.dialogs.count(dialog.nDialog)) << pack.nId;
            const std::vector<BYTE>& data = table.dialogs.at(dialog.nDialog).data;
            ASSERT_GE(data.size(), sizeof(DLGTEMPLATEEX_HEAD));
            DLGTEMPLATEEX_HEAD head;
            std::memcpy(&head, data.data(), sizeof(head));
            EXPECT_EQ(0xFFFF, head.signature) << dialog.nDialog;
            EXPECT_EQ(dialog.nStyle, head.style) << dialog.nDialog;
            EXPECT_EQ(dialog.nExStyle, head.exStyle) << dialog.nDialog;
            EXPECT_EQ(dialog.cx, head.cx) << dialog.nDialog;
            EXPECT_EQ(dialog.cy, head.cy) << dialog.nDialog;
            EXPECT_EQ(dialog.nControls, head.cDlgItems) << dialog.nDialog;

            // The panel is a child template: it needs a parent to be created in.
            HWND hParent = CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 600, 400, nullptr,
                                           nullptr, nullptr, nullptr);
            HWND hDialog = CreateDialogIndirectParamW(
                nullptr, reinterpret_cast<LPCDLGTEMPLATEW>(data.data()),
                dialog.nDialog == IDD_FILE_PANEL ? hParent : nullptr, IdleDialogProc, 0);
            ASSERT_NE(nullptr, hDialog) << pack.nId << " dialog " << dialog.nDialog;
            wchar_t szCaption[64] = {};
            GetWindowTextW(hDialog, szCaption, 64);
            EXPECT_EQ(Narrow(bKorean ? dialog.szKorean : dialog.szEnglish), Narrow(szCaption));
            ExpectChildren(hDialog, dialog.pControls, dialog.nControls, bKorean,
                           dialog.nDialog == IDD_UPLOAD ? "upload" : "panel");
            DestroyWindow(hDialog);
            DestroyWindow(hParent);
        }
    }
}
