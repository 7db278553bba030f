#include "lang/LangTable.h"

#include <commctrl.h>
#include <algorithm>
#include <map>
#include <memory>

#include "lang/LangIds.h"
#include "lang/ResourceReader.h"
#include "ptl/Lock.h"
#include "resources/resource.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace PL5Lang
{
namespace
{
using PTL::CLock;

const wchar_t szPackTag[] = L"PELORA5";

// Process-wide state, made on first use so that no other module-level object can reach it
// before it exists. Everything in it is read and written under the lock.
struct CLangState
{
    SRWLOCK lock = SRWLOCK_INIT;
    // Each pack's table, read at its first load and kept until the module is unloaded, so that
    // a block or a table another thread still reads is never freed by a pack change.
    std::map<UINT, std::unique_ptr<const CLangTable>> packs;
    const CLangTable* pActive = nullptr;
    std::wstring strCaption;
    std::wstring strProgramTitle = L"Pelora";
    long nUploads = 0;
    // Windows refused a pack change while uploads ran, told when the last one ends.
    std::vector<CRetryNotice> notices;
};

CLangState& State()
{
    static CLangState s_state;
    return s_state;
}

HMODULE ThisModule() { return reinterpret_cast<HMODULE>(&__ImageBase); }

wchar_t AsciiUpper(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

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

// Moves the scratch table's strings and its non-empty blocks into a new table.
std::unique_ptr<const CLangTable> Activate(CLangTable& scratch)
{
    std::unique_ptr<CLangTable> pTable(new CLangTable);
    pTable->strings = std::move(scratch.strings);
    for (auto& menu : scratch.menus)
        if (!menu.second.data.empty())
            pTable->menus[menu.first] = std::move(menu.second);
    for (auto& dialog : scratch.dialogs)
        if (!dialog.second.data.empty())
            pTable->dialogs[dialog.first] = std::move(dialog.second);
    return pTable;
}

// The table of a pack, read from the module at its first use. Null when the pack cannot be read.
const CLangTable* PackTable(UINT nPack)
{
    {
        CLock lock(State().lock, CLock::Shared);
        const auto it = State().packs.find(nPack);
        if (it != State().packs.end())
            return it->second.get();
    }
    // Read without the lock: readers on other threads go on meanwhile.
    CLangTable scratch;
    if (!ReadPack(ThisModule(), nPack, scratch))
        return nullptr;
    std::unique_ptr<const CLangTable> pRead = Activate(scratch);
    CLock lock(State().lock);
    // Another thread may have read the same pack meanwhile; the first table stays.
    return State().packs.emplace(nPack, std::move(pRead)).first->second.get();
}

// With the lock held exclusively: true when uploads run, after noting who to tell at their end.
bool RefusedForUploads(const CRetryNotice& notice)
{
    if (State().nUploads == 0)
        return false;
    if (notice.hWnd)
    {
        std::vector<CRetryNotice>& notices = State().notices;
        const auto it = std::find_if(notices.begin(), notices.end(),
                                     [&notice](const CRetryNotice& n) { return n.hWnd == notice.hWnd; });
        if (it == notices.end())
            notices.push_back(notice);
        else
            it->nMsg = notice.nMsg;
    }
    return true;
}

bool LoadLanguageCore(const wchar_t* szCode, const CRetryNotice& notice)
{
    std::wstring strCode = szCode ? szCode : L"";
    if (strCode.size() > 2)
        strCode.resize(2);
    const UINT nPack = EqualNoCase(strCode, L"ko") ? IDR_LANG_KO : IDR_LANG_EN;
    {
        CLock lock(State().lock);
        if (RefusedForUploads(notice))
            return false;
    }

    // A kept table never changes, so it is checked without the lock.
    const CLangTable* pTable = PackTable(nPack);
    if (!pTable)
        return false;
    const std::wstring* pTag = FindString(*pTable, IDS_PACK_TAG);
    const std::wstring* pLanguage = FindString(*pTable, IDS_PACK_LANGUAGE);
    if (!pTag || *pTag != szPackTag || !pLanguage || !EqualNoCase(*pLanguage, strCode))
        return false;
    const std::wstring* pCaption = FindString(*pTable, IDS_MESSAGE_CAPTION);
    std::wstring strCaption = pCaption ? *pCaption : std::wstring();

    // The table, its caption and the upload check change together: one pack change at a time,
    // and none once an upload on any thread has begun.
    CLock lock(State().lock);
    if (RefusedForUploads(notice))
        return false;
    if (!State().strProgramTitle.empty())
        strCaption += L" - " + State().strProgramTitle;
    State().pActive = pTable;
    State().strCaption.swap(strCaption);
    return true;
}
}  // namespace

bool LoadLanguage(const wchar_t* szCode) { return LoadLanguage(szCode, std::function<void()>()); }

bool LoadLanguage(const wchar_t* szCode, const std::function<void()>& fnActivated, const CRetryNotice& notice)
{
    bool bLoaded = false;
    try
    {
        bLoaded = LoadLanguageCore(szCode, notice);
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
    CLock lock(State().lock, CLock::Shared);
    const std::wstring* pText = State().pActive ? FindString(*State().pActive, nId) : nullptr;
    return pText ? *pText : std::wstring();
}

namespace
{
const CLangBlock* FindBlock(std::map<UINT, CLangBlock> CLangTable::*pMap, UINT nId)
{
    CLock lock(State().lock, CLock::Shared);
    if (!State().pActive)
        return nullptr;
    const std::map<UINT, CLangBlock>& blocks = State().pActive->*pMap;
    const auto it = blocks.find(nId);
    return it == blocks.end() ? nullptr : &it->second;
}
}  // namespace

const CLangBlock* FindMenu(UINT nId) { return FindBlock(&CLangTable::menus, nId); }

const CLangBlock* FindDialog(UINT nId) { return FindBlock(&CLangTable::dialogs, nId); }

std::wstring MessageCaption()
{
    CLock lock(State().lock, CLock::Shared);
    return State().strCaption;
}

void SetProgramTitle(const wchar_t* szTitle) { SetProgramTitle(std::wstring(szTitle ? szTitle : L"")); }

void SetProgramTitle(std::wstring strTitle)
{
    CLock lock(State().lock);
    State().strProgramTitle.swap(strTitle);
}

std::wstring ProgramTitle()
{
    CLock lock(State().lock, CLock::Shared);
    return State().strProgramTitle;
}

void BeginUpload()
{
    CLock lock(State().lock);
    ++State().nUploads;
}

void EndUpload()
{
    // An unmatched call must not leave the counter negative and the table unguarded later.
    std::vector<CRetryNotice> notices;
    {
        CLock lock(State().lock);
        if (State().nUploads > 0)
            --State().nUploads;
        if (State().nUploads == 0)
            notices.swap(State().notices);
    }
    // Posted, not sent: each window asks again on its own thread, and may find a new upload
    // begun meanwhile, which notes it again.
    for (const CRetryNotice& notice : notices)
        PostMessageW(notice.hWnd, notice.nMsg, 0, 0);
}

bool UploadsRun()
{
    CLock lock(State().lock, CLock::Shared);
    return State().nUploads > 0;
}

void ForgetRetryNotice(HWND hWnd)
{
    CLock lock(State().lock);
    std::vector<CRetryNotice>& notices = State().notices;
    notices.erase(
        std::remove_if(notices.begin(), notices.end(), [hWnd](const CRetryNotice& n) { return n.hWnd == hWnd; }),
        notices.end());
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
}  // namespace PL5Lang
