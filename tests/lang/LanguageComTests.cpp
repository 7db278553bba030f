// Language switching as a page sees it, through the registered control: the texts and the
// caption of a refusal message box follow Language puts, a code without a pack changes nothing,
// and the caption takes a new program title only at the next pack load.
#include <windows.h>
#include <gtest/gtest.h>
#include <string>
#include "Pelora5_h.h"
#include "tests/common/DialogWatcher.h"
#include "ptl/ComPtr.h"
#include "ptl/Text.h"

using PTL::CComBSTR;
using PTL::CComPtr;
using PTL::EncodeText;

namespace
{
// A one-byte file refused by MaxUnitFileSize 0: the refusal box is what the user reads.
class CRefusal
{
public:
    CRefusal()
    {
        wchar_t szDir[MAX_PATH] = L"";
        GetTempPathW(MAX_PATH, szDir);
        m_strPath = std::wstring(szDir) + L"pl5_language_" + std::to_wstring(GetCurrentProcessId()) + L".bin";
        HANDLE h = CreateFileW(m_strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD n = 0;
        WriteFile(h, "x", 1, &n, nullptr);
        CloseHandle(h);
    }
    ~CRefusal() { DeleteFileW(m_strPath.c_str()); }
    CRefusal(const CRefusal&) = delete;
    CRefusal& operator=(const CRefusal&) = delete;

    // Offers the file and returns the box the user saw.
    CSeenDialog Show(IPL5Ctrl* p) const
    {
        CDialogWatcher watcher([](const CSeenDialog&) { return IDOK; });
        EXPECT_EQ(S_OK, p->AddFile(CComBSTR(m_strPath.c_str()), nullptr));
        const std::vector<CSeenDialog> seen = watcher.Seen();
        EXPECT_EQ(1u, seen.size());
        return seen.empty() ? CSeenDialog() : seen[0];
    }

private:
    std::wstring m_strPath;
};

std::wstring Language(IPL5Ctrl* p)
{
    CComBSTR bstr;
    p->get_Language(&bstr);
    return bstr.Get() ? std::wstring(bstr.Get()) : std::wstring();
}

}  // namespace

// One test, in order: the process starts without any pack, and that state cannot come back.
TEST(LanguageThroughCom, TextsFollowThePacksAndTheTitleWaitsForTheNextLoad)
{
    CComPtr<IPL5Ctrl> p;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_PL5Ctrl, nullptr, CLSCTX_INPROC_SERVER, IID_IPL5Ctrl,
                                     reinterpret_cast<void**>(&p)));
    ASSERT_EQ(S_OK, p->put_MaxUnitFileSize(0));
    const CRefusal refusal;
    const std::wstring strKoreanStart = L"제한된 파일 용량이 초과됩니다.";
    const std::wstring strEnglishStart = L"Too large file selected.";

    // Without a put or a window, the first text the control needs loads its default pack.
    CSeenDialog box = refusal.Show(p);
    EXPECT_EQ("알림 - Pelora", EncodeText(box.strCaption));
    EXPECT_EQ(0u, box.MessageText().find(strKoreanStart)) << EncodeText(box.MessageText());

    ASSERT_EQ(S_OK, p->put_Language(CComBSTR(L"KO")));
    box = refusal.Show(p);
    EXPECT_EQ("알림 - Pelora", EncodeText(box.strCaption));
    EXPECT_EQ(0u, box.MessageText().find(strKoreanStart)) << EncodeText(box.MessageText());

    // A code without a pack is stored; the Korean texts stay.
    ASSERT_EQ(S_OK, p->put_Language(CComBSTR(L"jp")));
    EXPECT_EQ("jp", EncodeText(Language(p)));
    box = refusal.Show(p);
    EXPECT_EQ(0u, box.MessageText().find(strKoreanStart)) << EncodeText(box.MessageText());

    // The caption keeps the old title until a pack is loaded again.
    ASSERT_EQ(S_OK, p->put_ProgramTitle(CComBSTR(L"Shop")));
    box = refusal.Show(p);
    EXPECT_EQ("알림 - Pelora", EncodeText(box.strCaption));

    ASSERT_EQ(S_OK, p->put_Language(CComBSTR(L"english")));
    EXPECT_EQ("en", EncodeText(Language(p)));
    box = refusal.Show(p);
    EXPECT_EQ("Alert - Shop", EncodeText(box.strCaption));
    EXPECT_EQ(0u, box.MessageText().find(strEnglishStart)) << EncodeText(box.MessageText());

    // An empty title leaves the bare caption.
    ASSERT_EQ(S_OK, p->put_ProgramTitle(CComBSTR(L"")));
    ASSERT_EQ(S_OK, p->put_Language(CComBSTR(L"ko")));
    box = refusal.Show(p);
    EXPECT_EQ("알림", EncodeText(box.strCaption));
}
