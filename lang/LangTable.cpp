#include "lang/LangTable.h"

#include <atomic>
#include <commctrl.h>

#include "lang/LangIds.h"
#include "lang/ResourceReader.h"
#include "resources/resource.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace PL5Lang
{
namespace
{
const wchar_t szPackTag[] = L"PELORA5";

// Process-wide state, made on first use so that no other module-level object can reach it
// before it exists.
struct CLangState
{
    CLangTable table;
    std::wstring strCaption;
    std::wstring strProgramTitle = L"Pelora";
    std::atomic<long> nUploads{0};
};

CLangState& State()
{
    static CLangState s_state;
    return s_state;
}

HMODULE ThisModule()
{
    return reinterpret_cast<HMODULE>(&__ImageBase);
}

wchar_t AsciiUpper(wchar_t c)
{
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

// Language codes are ASCII; folding only ASCII keeps look-alike letters from matching.
bool EqualNoCase(const std::wstring& a, const std::wstring& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiUpper(a[i]) != AsciiUpper(b[i]))
            return false;
    return true;
}

const std::wstring* FindString(const CLangTable& table, UINT nId)
{
    const auto it = table.strings.find(nId);
    return it == table.strings.end() ? nullptr : &it->second;
}

// Moves the scratch table's strings and its non-empty blocks into a new active table.
CLangTable Activate(CLangTable& scratch)
{
    CLangTable active;
    active.strings = std::move(scratch.strings);
    for (auto& menu : scratch.menus)
        if (!menu.second.data.empty())
            active.menus[menu.first] = std::move(menu.second);
    for (auto& dialog : scratch.dialogs)
        if (!dialog.second.data.empty())
            active.dialogs[dialog.first] = std::move(dialog.second);
    return active;
}

bool LoadLanguageCore(const wchar_t* szCode)
{
    if (State().nUploads.load() > 0)
        return false;
    std::wstring strCode = szCode ? szCode : L"";
    if (strCode.size() > 2)
        strCode.resize(2);
    const UINT nPack = EqualNoCase(strCode, L"ko") ? IDR_LANG_KO : IDR_LANG_EN;

    CLangTable scratch;
    if (!ReadPack(ThisModule(), nPack, scratch))
        return false;
    const std::wstring* pTag = FindString(scratch, IDS_PACK_TAG);
    const std::wstring* pLanguage = FindString(scratch, IDS_PACK_LANGUAGE);
    if (!pTag || *pTag != szPackTag || !pLanguage || !EqualNoCase(*pLanguage, strCode))
        return false;

    // Build everything first so that an allocation failure leaves the old table in force.
    CLangTable active = Activate(scratch);
    std::wstring strCaption;
    if (const std::wstring* pCaption = FindString(active, IDS_MESSAGE_CAPTION))
        strCaption = *pCaption;
    if (!State().strProgramTitle.empty())
        strCaption += L" - " + State().strProgramTitle;

    std::swap(State().table, active);
    State().strCaption.swap(strCaption);
    return true;
}
} // namespace

bool LoadLanguage(const wchar_t* szCode)
{
    return LoadLanguage(szCode, std::function<void()>());
}

bool LoadLanguage(const wchar_t* szCode, const std::function<void()>& fnActivated)
{
    bool bLoaded = false;
    try
    {
        bLoaded = LoadLanguageCore(szCode);
    }
    catch (...)
    {
        // Out of memory while reading or copying: the active table was not touched.
        return false;
    }
    if (bLoaded && fnActivated)
    {
        try
        {
            fnActivated();
        }
        catch (...)
        {
            // The pack is active either way; a failed refresh shows at the next one.
        }
    }
    return bLoaded;
}

std::wstring GetString(UINT nId)
{
    const std::wstring* pText = FindString(State().table, nId);
    return pText ? *pText : std::wstring();
}

const CLangBlock* FindMenu(UINT nId)
{
    const auto& menus = State().table.menus;
    const auto it = menus.find(nId);
    return it == menus.end() ? nullptr : &it->second;
}

const CLangBlock* FindDialog(UINT nId)
{
    const auto& dialogs = State().table.dialogs;
    const auto it = dialogs.find(nId);
    return it == dialogs.end() ? nullptr : &it->second;
}

std::wstring MessageCaption()
{
    return State().strCaption;
}

void SetProgramTitle(const wchar_t* szTitle)
{
    State().strProgramTitle = szTitle ? szTitle : L"";
}

std::wstring ProgramTitle()
{
    return State().strProgramTitle;
}

void BeginUpload()
{
    ++State().nUploads;
}

void EndUpload()
{
    // An unmatched call must not leave the counter negative and the table unguarded later.
    std::atomic<long>& nUploads = State().nUploads;
    long n = nUploads.load();
    while (n > 0 && !nUploads.compare_exchange_weak(n, n - 1))
    {
    }
}

void ApplyColumnTitles(HWND hListView)
{
    if (!hListView || !IsWindow(hListView))
        return;
    const UINT anIds[] = {IDS_COLUMN_NAME, IDS_COLUMN_SIZE};
    for (int i = 0; i < 2; ++i)
    {
        std::wstring strTitle = GetString(anIds[i]);
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT;
        column.pszText = &strTitle[0];
        SendMessageW(hListView, LVM_SETCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
}
} // namespace PL5Lang
