// The two language packs as the control carries them: image shape, the string table, the context
// menu and both dialog templates, read by our own loader and cross-checked with the system's.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <set>

#include "lang/LangIds.h"
#include "tests/lang/LangTestUtil.h"
#include "ptl/Handle.h"
#include "ptl/PEModule.h"
#include "lang/ResourceReader.h"
#include "resources/resource.h"

using namespace PL5Test;

namespace
{
const struct
{
    UINT nId;
    WORD nLanguage;
} aPacks[] = {{IDR_LANG_EN, 0x0409}, {IDR_LANG_KO, 0x0412}};

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
    for (size_t i = str.find(L'%'); i != std::wstring::npos; i = str.find(L'%', i + 1))
    {
        const size_t nEnd = str.find_first_not_of(L"0123456789-#. l", i + 1);
        if (nEnd != std::wstring::npos)
            result.push_back(str.substr(i, nEnd - i + 1));
        i = nEnd == std::wstring::npos ? str.size() - 1 : nEnd;
    }
    return result;
}

// A pack written out and opened by the system as a data file.
struct CSystemPack
{
    explicit CSystemPack(UINT nId)
    {
        wchar_t szDir[MAX_PATH];
        GetTempPathW(MAX_PATH, szDir);
        GetTempFileNameW(szDir, L"pl5", 0, szPath);
        const std::vector<BYTE> image = PackImage(nId);
        {
            const PTL::CKernelHandle file(CreateFileW(szPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
            DWORD nWritten = 0;
            WriteFile(file.Get(), image.data(), static_cast<DWORD>(image.size()), &nWritten, nullptr);
        }
        module.Reset(LoadLibraryExW(szPath, nullptr, LOAD_LIBRARY_AS_DATAFILE));
    }
    ~CSystemPack()
    {
        module.Close();  // before the file can go
        DeleteFileW(szPath);
    }
    wchar_t szPath[MAX_PATH] = {};
    PTL::CLibraryHandle module;
};

// Collects (name, language) of every resource of one type.
BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR szName, WORD nLanguage, LONG_PTR lParam)
{
    reinterpret_cast<std::vector<std::pair<UINT, WORD>>*>(lParam)->emplace_back(
        static_cast<UINT>(reinterpret_cast<ULONG_PTR>(szName)), nLanguage);
    return TRUE;
}

BOOL CALLBACK CollectNames(HMODULE hModule, LPCWSTR szType, LPWSTR szName, LONG_PTR lParam)
{
    EnumResourceLanguagesW(hModule, szType, szName, CollectLanguage, lParam);
    return TRUE;
}

INT_PTR CALLBACK IdleDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
}  // namespace

// Each pack is a 32-bit library without code, every resource in its one language, and our
// reader agrees with the system's on every string, the menu and both templates.
TEST(Packs, SystemReadsWhatOurReaderReads)
{
    for (const auto& pack : aPacks)
    {
        const std::vector<BYTE> image = PackImage(pack.nId);
        PTL::CPEModule module;
        ASSERT_TRUE(module.Map(image.data(), image.size())) << pack.nId;
        EXPECT_EQ(IMAGE_FILE_MACHINE_I386, module.Headers()->FileHeader.Machine);
        EXPECT_TRUE(module.Headers()->FileHeader.Characteristics & IMAGE_FILE_DLL);
        EXPECT_EQ(0u, module.Headers()->OptionalHeader.AddressOfEntryPoint);
        EXPECT_EQ(0u, module.Headers()->OptionalHeader.SizeOfCode);
        EXPECT_EQ(0u, module.Directory(IMAGE_DIRECTORY_ENTRY_IMPORT).Size);

        const PL5Lang::CLangTable table = ReadTable(pack.nId);
        CSystemPack system(pack.nId);
        ASSERT_NE(nullptr, system.module.Get()) << pack.nId;
        for (LPCWSTR szType : {RT_STRING, RT_MENU, RT_DIALOG})
        {
            std::vector<std::pair<UINT, WORD>> found;
            EnumResourceNamesW(system.module.Get(), szType, CollectNames, reinterpret_cast<LONG_PTR>(&found));
            EXPECT_FALSE(found.empty()) << pack.nId;
            std::set<UINT> names;
            for (const auto& entry : found)
            {
                EXPECT_EQ(pack.nLanguage, entry.second) << pack.nId << " " << entry.first;
                EXPECT_TRUE(names.insert(entry.first).second) << "two languages: " << entry.first;
            }
        }
        for (const auto& entry : table.strings)
        {
            wchar_t szText[1024] = {};
            LoadStringW(system.module.Get(), entry.first, szText, 1024);
            EXPECT_EQ(entry.second, szText) << pack.nId << " string " << entry.first;
        }
        const struct
        {
            LPCWSTR szType;
            UINT nId;
            const std::map<UINT, PL5Lang::CLangBlock>& blocks;
        } blocks[] = {{RT_MENU, IDM_CONTEXT, table.menus},
                      {RT_DIALOG, IDD_FILE_PANEL, table.dialogs},
                      {RT_DIALOG, IDD_UPLOAD, table.dialogs}};
        for (const auto& block : blocks)
        {
            HRSRC hInfo = FindResourceW(system.module.Get(), MAKEINTRESOURCEW(block.nId), block.szType);
            ASSERT_NE(nullptr, hInfo) << pack.nId << " " << block.nId;
            const BYTE* p = static_cast<const BYTE*>(LockResource(LoadResource(system.module.Get(), hInfo)));
            ASSERT_EQ(1u, block.blocks.count(block.nId)) << pack.nId << " " << block.nId;
            EXPECT_EQ(std::vector<BYTE>(p, p + SizeofResource(system.module.Get(), hInfo)),
                      block.blocks.at(block.nId).data)
                << pack.nId << " " << block.nId;
        }
    }
}

TEST(Packs, StringTablesAgreeAndHoldTheirTexts)
{
    std::set<UINT> expectedIds = {0, 1};
    for (const auto& range : {std::make_pair(100u, 112u), {301u, 305u}, {501u, 515u}})
        for (UINT n = range.first; n <= range.second; ++n)
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
        EXPECT_EQ(Placeholders(StringOf(english, nId)), Placeholders(StringOf(korean, nId))) << nId;

    const struct
    {
        const PL5Lang::CLangTable& table;
        UINT nId;
        const wchar_t* szText;
    } cases[] = {
        {english, 0, L"PELORA5"},
        {english, 1, L"EN"},
        {english, 104, L"%lu Selected Files%s"},
        {english, 303, L"0 byte file can not be selected:\n\n%s"},
        {english, 507, L" "},
        {korean, 0, L"PELORA5"},
        {korean, 1, L"KO"},
        // Spelled as code units: UTF-8 taken for another code page gives other units.
        {korean, 100, L"\xC54C\xB9BC"},
        {korean, 105, L" (최대 %lu개)"},
        {korean, 302,
         L"선택 가능한 전체 파일 용량을 초과하였습니다.\n\n  최대 선택 가능한 용량: %s\n"
         L"  이미 선택된 파일 용량: %s\n  현재 선택 가능한 용량: %s\n  현재 선택한 파일 용량: %s\n"},
        {korean, 507, L"전송된 파일을 처리중 입니다. 잠시만 기다려 주십시오."},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i)
        EXPECT_EQ(cases[i].szText, StringOf(cases[i].table, cases[i].nId)) << "case " << i;

    // The English limit messages: a heading, an empty line, then the four values each on its
    // own indented line, laid out like the Korean ones.
    const struct
    {
        UINT nId;
        const wchar_t* szHeading;
        const wchar_t* szConversion;
    } limits[] = {{301, L"Too many files selected :\n\n", L"%d"}, {302, L"Max upload limit exceeded.\n\n", L"%s"}};
    for (const auto& limit : limits)
    {
        const std::wstring strText = StringOf(english, limit.nId);
        EXPECT_EQ(0u, strText.find(limit.szHeading)) << limit.nId;
        size_t nLines = 0;
        for (size_t n = strText.find(L"\n  "); n != std::wstring::npos; n = strText.find(L"\n  ", n + 1), ++nLines)
            EXPECT_NE(std::wstring::npos, strText.substr(n, strText.find(L'\n', n + 1) - n).find(limit.szConversion));
        EXPECT_EQ(4u, nLines) << limit.nId;
        EXPECT_EQ(StringOf(korean, limit.nId).back() == L'\n', strText.back() == L'\n') << limit.nId;
    }
    EXPECT_FALSE(StringOf(english, IDS_UPLOAD_FAILED).empty());
    EXPECT_NE(StringOf(english, IDS_UPLOAD_CANCELLED), StringOf(english, IDS_UPLOAD_FAILED));
}

TEST(Packs, ContextMenuHoldsTheFiveCommands)
{
    const struct
    {
        UINT nId;  // 0: separator
        const wchar_t* szEnglish;
        const wchar_t* szKorean;
    } items[] = {
        {ID_ADD_FILE, L"Add File(&F)", L"파일 추가(&A)"},
        {0, L"", L""},
        {ID_REMOVE_SELECTED, L"Remove Selected Files(&D)", L"선택한 파일 제거(&D)"},
        {ID_REMOVE_ALL, L"Remove All Files(&A)", L"모든 파일 제거(&A)"},
        {0, L"", L""},
        {ID_EXECUTE_FILE, L"Excute File(&E)", L"파일 열기(&O)"},
    };
    for (const auto& pack : aPacks)
    {
        const PL5Lang::CLangTable table = ReadTable(pack.nId);
        ASSERT_EQ(1u, table.menus.count(IDM_CONTEXT)) << pack.nId;
        const PTL::CMenuHandle menu(LoadMenuIndirectW(table.menus.at(IDM_CONTEXT).data.data()));
        const HMENU hMenu = menu.Get();
        ASSERT_NE(nullptr, hMenu) << pack.nId;
        EXPECT_EQ(1, GetMenuItemCount(hMenu)) << pack.nId;
        HMENU hPopup = GetSubMenu(hMenu, 0);
        ASSERT_EQ(6, GetMenuItemCount(hPopup)) << pack.nId;
        for (int i = 0; i < 6; ++i)
        {
            wchar_t szText[128] = {};
            MENUITEMINFOW info{sizeof(info), MIIM_FTYPE | MIIM_ID | MIIM_STRING};
            info.dwTypeData = szText;
            info.cch = 128;
            ASSERT_TRUE(GetMenuItemInfoW(hPopup, i, TRUE, &info)) << pack.nId << " item " << i;
            EXPECT_EQ(items[i].nId == 0, (info.fType & MFT_SEPARATOR) != 0) << pack.nId << " item " << i;
            EXPECT_EQ(items[i].nId, items[i].nId ? info.wID : 0) << pack.nId << " item " << i;
            EXPECT_EQ(pack.nId == IDR_LANG_EN ? items[i].szEnglish : items[i].szKorean, std::wstring(szText))
                << pack.nId << " item " << i;
        }
    }
}

// Both templates make windows, and every control is there, in template order, with its id,
// class, visibility and text.
TEST(Packs, DialogsCreateWithEveryControl)
{
    INITCOMMONCONTROLSEX init = {sizeof(init), ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    ASSERT_TRUE(InitCommonControlsEx(&init));
    struct CChild
    {
        int nId;
        const wchar_t* szClass;
        DWORD nStyle;  // bits the control must have; WS_VISIBLE must match exactly
        const wchar_t* szEnglish;
        const wchar_t* szKorean;
    };
    const DWORD nGroup = WS_VISIBLE | WS_GROUP, nEllipsis = nGroup | SS_ENDELLIPSIS | SS_NOPREFIX;
    const std::vector<CChild> upload = {
        {-1, L"Static", nEllipsis, L"Current File : ", L"현재파일 : "},
        {IDC_CURRENT_FILE, L"Static", nGroup | SS_WORDELLIPSIS, L"temp.file", L""},
        {-1, L"Static", nEllipsis, L"Transfer Rate : ", L"전송속도 :"},
        {IDC_TRANSFER_RATE, L"Static", nEllipsis, L"0.00KB", L""},
        {-1, L"Static", nEllipsis, L"Progress : ", L"전송용량 : "},
        {IDC_FILE_BYTES, L"Static", nEllipsis, L"0.00KB / 0.00KB (0%)", L""},
        {IDC_FILE_TIME_LEFT, L"Static", nEllipsis | SS_RIGHT, L"Time Left : 00:00:00", L"남은시간 : 00:00:00"},
        {IDC_FILE_PROGRESS, L"msctls_progress32", WS_VISIBLE | PBS_SMOOTH, L"", L""},
        {-1, L"Static", nGroup, L"All files : ", L"전체파일 : "},
        {IDC_FILE_COUNT, L"Static", nGroup, L"0 / 0", L""},
        {-1, L"Static", nEllipsis, L"Progress : ", L"전송용량 : "},
        {IDC_TOTAL_BYTES, L"Static", nEllipsis, L"0.00KB / 0.00KB (0%)", L""},
        {IDC_TOTAL_TIME_LEFT, L"Static", nEllipsis | SS_RIGHT, L"Time Left : 00:00:00", L"남은시간 : 00:00:00"},
        {IDC_TOTAL_PROGRESS, L"msctls_progress32", WS_VISIBLE | PBS_SMOOTH, L"", L""},
        {-1, L"Static", nEllipsis, L"Status : ", L"현재상황 : "},
        {IDC_STATUS_TEXT, L"Static", nEllipsis, L"", L""},
        {IDC_HIDE_LIST, L"Button", WS_TABSTOP | BS_FLAT, L"hide list", L"리스트 감추기"},
        {IDC_UPLOAD_LIST, L"SysListView32",
         WS_VISIBLE | WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHAREIMAGELISTS | LVS_ALIGNLEFT |
             LVS_OWNERDATA,
         L"", L""},
        {IDOK, L"Button", WS_TABSTOP | BS_DEFPUSHBUTTON, L"Ok", L"확인"},
        {IDCANCEL, L"Button", WS_TABSTOP, L"Cancel", L"취소"},
        {IDC_POWERED_BY, L"Static", nGroup, L"Powered by Pelora", L"Powered by Pelora"},
    };
    const std::vector<CChild> panel = {
        {-1, L"Static", WS_VISIBLE, L"Multiple files can be selected", L"여러개의 파일을 동시에 선택할 수 있습니다."},
        {-1, L"Static", WS_VISIBLE, L"Files can be selected using drag and drop or using CTRL, SHIFT key",
         L"파일을 드래그 해서 선택 하시거나, CTRL 혹은 SHIFT키와 함께 선택하시면 됩니다."},
    };
    const struct
    {
        UINT nDialog;
        const std::vector<CChild>& controls;
        DWORD nStyle, nExStyle;
        const wchar_t* szEnglish;
        const wchar_t* szKorean;
    } dialogs[] = {
        {IDD_FILE_PANEL, panel, WS_CHILD | WS_CLIPSIBLINGS | WS_SYSMENU | DS_CONTROL | DS_SHELLFONT, 0, L"", L""},
        {IDD_UPLOAD, upload,
         WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | DS_CENTER | DS_MODALFRAME |
             DS_SHELLFONT,
         WS_EX_TOOLWINDOW, L" File Upload", L" 파일 업로드"},
    };
    for (const auto& pack : aPacks)
    {
        const bool bKorean = pack.nId == IDR_LANG_KO;
        const PL5Lang::CLangTable table = ReadTable(pack.nId);
        for (const auto& dialog : dialogs)
        {
            ASSERT_EQ(1u, table.dialogs.count(dialog.nDialog)) << pack.nId;
            const std::vector<BYTE>& data = table.dialogs.at(dialog.nDialog).data;
            // Extended template: version 1, signature 0xFFFF, help id, extended style, style.
            ASSERT_GE(data.size(), 16u);
            EXPECT_EQ(0xFFFF0001u, Get<DWORD>(data, 0)) << dialog.nDialog;
            EXPECT_EQ(dialog.nExStyle, Get<DWORD>(data, 8)) << dialog.nDialog;
            EXPECT_EQ(dialog.nStyle, Get<DWORD>(data, 12)) << dialog.nDialog;

            // The panel is a child template: it is created inside a parent.
            HWND hParent =
                CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 600, 400, nullptr, nullptr, nullptr, nullptr);
            HWND hDialog =
                CreateDialogIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATEW>(data.data()),
                                           dialog.nDialog == IDD_FILE_PANEL ? hParent : nullptr, IdleDialogProc, 0);
            ASSERT_NE(nullptr, hDialog) << pack.nId << " dialog " << dialog.nDialog;
            wchar_t szText[256] = {};
            GetWindowTextW(hDialog, szText, 256);
            EXPECT_EQ(bKorean ? dialog.szKorean : dialog.szEnglish, std::wstring(szText));
            size_t i = 0;
            for (HWND hChild = GetWindow(hDialog, GW_CHILD); hChild; hChild = GetWindow(hChild, GW_HWNDNEXT), ++i)
            {
                if (i >= dialog.controls.size())
                    continue;
                const CChild& expected = dialog.controls[i];
                wchar_t szClass[64] = {};
                GetClassNameW(hChild, szClass, 64);
                GetWindowTextW(hChild, szText, 256);
                DWORD nStyle = static_cast<DWORD>(GetWindowLongW(hChild, GWL_STYLE));
                // The list view trades its border for the client-edge extended style.
                if (GetWindowLongW(hChild, GWL_EXSTYLE) & WS_EX_CLIENTEDGE)
                    nStyle |= WS_BORDER;
                EXPECT_EQ(static_cast<WORD>(expected.nId), static_cast<WORD>(GetDlgCtrlID(hChild))) << i;
                EXPECT_EQ(0, lstrcmpiW(expected.szClass, szClass)) << i;
                EXPECT_EQ(expected.nStyle, nStyle & (expected.nStyle | WS_VISIBLE)) << i;
                EXPECT_EQ(bKorean ? expected.szKorean : expected.szEnglish, std::wstring(szText)) << i;
            }
            EXPECT_EQ(dialog.controls.size(), i) << pack.nId << " dialog " << dialog.nDialog;
            DestroyWindow(hDialog);
            DestroyWindow(hParent);
        }
    }
}
