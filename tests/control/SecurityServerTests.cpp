// The control against real servers where a busy browser or a hostile party pushes it: controls
// on two threads switching packs while one uploads, fresh boundaries, the certificate policy,
// answers that are huge, endless or full of NULs, and file names at the edge of what Windows
// allows. The program runs inside tests/servers/with_servers.sh.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>

#include "tests/common/InProcessControl.h"
#include "tests/common/PolicyKey.h"
#include "tests/control/EventSink.h"
#include "lang/LangIds.h"
#include "lang/LangTable.h"
#include "ptl/Handle.h"
#include "tests/upload/TestServers.h"
#include "tests/upload/UploadTestFiles.h"

using PTL::CComPtr;

namespace
{
bool EventFired(const CRecordingSink& sink, DISPID dispid)
{
    for (const CRecordingSink::CCall& call : sink.calls)
        if (call.dispid == dispid)
            return true;
    return false;
}

const DISPID EVENT_COMPLETE = 10, EVENT_CANCEL = 11, EVENT_ERROR = 12;
}  // namespace

class ControlSecurity : public CServerTest
{
protected:
    // A fresh control with the English pack, its events recorded by pSink when one is given.
    static CComPtr<IPL5Ctrl> EnglishControl(CRecordingSink* pSink = nullptr)
    {
        CComPtr<IPL5Ctrl> p = NewInProcessControl();
        if (pSink)
            AdviseSink(p, pSink);
        SetText(p, &IPL5Ctrl::put_Language, L"en");
        return p;
    }
    CTempDir m_dir;
};

// A browser with tabs on two threads: one control switches packs a thousand times while the
// other uploads and its thread reads texts. Pack changes wait for the upload; no reader ever
// sees a text that is neither pack's.
TEST_F(ControlSecurity, PackSwitchesOnOneThreadWhileAnotherUploads)
{
    const std::set<std::wstring> names = {L"Name", L"\xD30C\xC77C \xC774\xB984"};
    const std::set<std::wstring> captions = {L"Alert - Pelora", L"\xC54C\xB9BC - Pelora"};
    const std::wstring strFile = m_dir.WriteFile(L"a.txt", PatternBytes(300000, 3));
    RecordServer::Script("[{\"delay\": 1.5}]");
    std::atomic<bool> bUploading{false}, bDone{false};
    std::atomic<int> nBadTexts{0}, nSwitches{0}, nChangedDuringUpload{0};
    std::wstring strAnswer;

    std::thread uploader([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        {
            CComPtr<IPL5Ctrl> p = EnglishControl();
            PTL::CComBSTR bstrFile(strFile.c_str()), bstrEmpty(L"");
            p->AddFile(bstrFile, bstrEmpty);
            // The worker counts as an upload from before its dialog exists until after it is gone.
            PL5Lang::BeginUpload();
            bUploading = true;
            const std::wstring strBefore = PL5Lang::GetString(IDS_COLUMN_NAME);
            std::thread reader([&] {
                while (bUploading)
                {
                    if (PL5Lang::GetString(IDS_COLUMN_NAME) != strBefore)
                        ++nChangedDuringUpload;
                    if (!captions.count(PL5Lang::MessageCaption()))
                        ++nBadTexts;
                }
            });
            bool bResult = false;
            strAnswer = UploadTo(p, RecordUrl(L"/threads"), &bResult);
            bUploading = false;
            reader.join();
            PL5Lang::EndUpload();
        }
        CoUninitialize();
        bDone = true;
    });
    std::thread switcher([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        {
            CComPtr<IPL5Ctrl> p = NewInProcessControl();
            for (int i = 0; i < 1000; ++i)
            {
                SetText(p, &IPL5Ctrl::put_Language, i % 2 ? L"en" : L"ko");
                if (!names.count(PL5Lang::GetString(IDS_COLUMN_NAME)))
                    ++nBadTexts;
                ++nSwitches;
            }
        }
        CoUninitialize();
    });
    switcher.join();
    uploader.join();
    EXPECT_TRUE(bDone);
    EXPECT_EQ(1000, nSwitches.load());
    EXPECT_EQ(0, nBadTexts.load());
    EXPECT_EQ(0, nChangedDuringUpload.load());
    EXPECT_EQ(0u, strAnswer.find(L"received ")) << strAnswer.c_str();
    ASSERT_EQ(1, RecordServer::Count());
    // The switcher's last pack is in force once the upload is over.
    ASSERT_TRUE(PL5Lang::LoadLanguage(L"en"));
}

TEST_F(ControlSecurity, TwoUploadsInOneSecondHaveTheirOwnBoundaries)
{
    CComPtr<IPL5Ctrl> p = EnglishControl();
    bool bResult = false;
    const DWORD nStart = GetTickCount();
    UploadTo(p, RecordUrl(L"/first"), &bResult);
    UploadTo(p, RecordUrl(L"/second"), &bResult);
    ASSERT_EQ(2, RecordServer::Count());
    const std::string strFirst = RecordServer::Request(0).Boundary();
    const std::string strSecond = RecordServer::Request(1).Boundary();
    EXPECT_EQ(39u, strFirst.size());
    EXPECT_NE(strFirst, strSecond) << "uploads " << GetTickCount() - nStart << " ms apart";
}

TEST_F(ControlSecurity, CertificatePolicyAgainstASelfSignedServer)
{
    for (DWORD nVerify : {0u, 1u})
    {
        RecordServer::Reset();
        CPolicyKey machine;
        machine.SetVerifyCertificates(nVerify);
        CRecordingSink sink;
        CComPtr<IPL5Ctrl> p = EnglishControl(&sink);
        bool bResult = false;
        const std::wstring strAnswer = UploadTo(p, RecordTlsUrl(L"/secure"), &bResult);
        if (nVerify)
        {
            EXPECT_FALSE(bResult);
            EXPECT_TRUE(EventFired(sink, EVENT_ERROR));
            EXPECT_EQ(0, RecordServer::Count());  // nothing was sent to a server it cannot trust
        }
        else
        {
            EXPECT_EQ(0u, strAnswer.find(L"received ")) << strAnswer.c_str();
            EXPECT_TRUE(EventFired(sink, EVENT_COMPLETE));
            EXPECT_EQ(1, RecordServer::Count());
        }
    }
}

// Answers a hostile server may give: each ends in a clear outcome, promptly.
TEST_F(ControlSecurity, HugeEndlessAndNulAnswers)
{
    const struct
    {
        const char* szScript;
        bool bComplete;
        std::wstring strResult;
    } cases[] = {
        {"[{\"stream\": 100000000}]", false, L""},
        {"[{\"stream\": -1}]", false, L""},
        {"[{\"body_hex\": \"6f6b00ffff0041\"}]", true, L"ok"},
        {"[{\"stream\": 1000000}]", true, L""},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        RecordServer::Reset();
        RecordServer::Script(cases[i].szScript);
        CRecordingSink sink;
        CComPtr<IPL5Ctrl> p = EnglishControl(&sink);
        bool bResult = false;
        const std::wstring strAnswer = UploadTo(p, RecordUrl(L"/answer"), &bResult);
        EXPECT_EQ(cases[i].bComplete, bResult) << "case " << i;
        EXPECT_EQ(cases[i].bComplete, EventFired(sink, EVENT_COMPLETE)) << "case " << i;
        EXPECT_EQ(!cases[i].bComplete, EventFired(sink, EVENT_ERROR)) << "case " << i;
        EXPECT_FALSE(EventFired(sink, EVENT_CANCEL)) << "case " << i;
        if (i == 3)
        {
            EXPECT_EQ(1000000u, strAnswer.size());
        }
        else if (cases[i].bComplete)
        {
            EXPECT_EQ(cases[i].strResult, strAnswer) << "case " << i;
        }
    }
}

// Answers made of tag openings with MakeInlineResponse: the scan for tags takes time in
// proportion to the answer (it took the square: 30 s for 512 K characters, days for 64 MiB), so
// even the largest answer the control accepts is rewritten long before the rewrite's budget.
TEST_F(ControlSecurity, TagFloodsAreRewrittenInLinearTime)
{
    std::string strLateClose;  // every opening sees the same "src=" and "</script>" far ahead
    for (int i = 0; i < 58254; ++i)
        strLateClose += "<script >";
    strLateClose += "src=</script>";
    const struct
    {
        std::string strScript;
        size_t nChars;
        ULONGLONG nBoundMs;
    } cases[] = {
        {"[{\"stream\": 524288, \"pattern\": \"<script \"}]", 524288, 3000},
        {"[{\"stream\": 524288, \"pattern\": \"<link \"}]", 524288, 3000},
        {"[{\"body\": \"" + strLateClose + "\"}]", strLateClose.size(), 3000},
        {"[{\"stream\": 67108864, \"pattern\": \"<script \"}]", 67108864, 30000},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        RecordServer::Reset();
        RecordServer::Script(cases[i].strScript);
        CComPtr<IPL5Ctrl> p = EnglishControl();
        ASSERT_EQ(S_OK, p->put_MakeInlineResponse(VARIANT_TRUE));
        bool bResult = false;
        const ULONGLONG nStart = GetTickCount64();
        const std::wstring strAnswer = UploadTo(p, RecordUrl(L"/flood"), &bResult);
        const ULONGLONG nTaken = GetTickCount64() - nStart;
        EXPECT_TRUE(bResult) << "case " << i;
        // The answer, with the base element in front.
        EXPECT_LT(cases[i].nChars, strAnswer.size()) << "case " << i;
        EXPECT_LT(nTaken, cases[i].nBoundMs) << "case " << i;
        printf("case %u: %u characters in %u ms\n", unsigned(i), unsigned(cases[i].nChars), unsigned(nTaken));
    }
}

// Names with every character a Windows file name may hold, characters beyond the BMP, and paths
// at the length limit: listed and sent byte for byte, or left out whole.
TEST_F(ControlSecurity, FileNamesAtTheEdges)
{
    std::wstring strAllowed = L"!#$%&'()+,-.;=@[]^_`{}~ \xE9\x4E2D\xD83D\xDE00";
    strAllowed += L"x";  // a name may not end in a blank or a dot
    const std::wstring strDir = m_dir.Path();
    const size_t nFixed = strDir.size() + 1;
    const struct
    {
        std::wstring strName;
        bool bListed;
    } cases[] = {
        {strAllowed, true},
        {L"\xD801\xDC37\xD801\xDC37.txt", true},
        {std::wstring(260 - nFixed, L'a'), true},   // a path of 260 characters, the most an entry holds
        {std::wstring(261 - nFixed, L'b'), false},  // 261: one more
    };
    CComPtr<IPL5Ctrl> p = EnglishControl();
    SetText(p, &IPL5Ctrl::put_Action, RecordUrl(L"/names"));
    VARIANT_BOOL vbUnicode = VARIANT_TRUE;
    ASSERT_EQ(S_OK, p->put_UseUnicode(vbUnicode));
    LONG nExpected = 0;
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        const std::wstring strPath = strDir + L"\\" + cases[i].strName;
        {
            const PTL::CKernelHandle file(
                CreateFileW((L"\\\\?\\" + strPath).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
            ASSERT_TRUE(file.IsValid()) << "case " << i;
            DWORD nWritten = 0;
            WriteFile(file.Get(), "data", 4, &nWritten, nullptr);
        }
        PTL::CComBSTR bstrPath(strPath.c_str()), bstrEmpty(L"");
        EXPECT_EQ(S_OK, p->AddFile(bstrPath, bstrEmpty));
        nExpected += cases[i].bListed ? 1 : 0;
        LONG nCount = 0;
        p->get_GetCount(&nCount);
        EXPECT_EQ(nExpected, nCount) << "case " << i;
        if (cases[i].bListed)
        {
            BSTR bstrName = nullptr;
            p->get_GetFileName(nCount - 1, &bstrName);
            EXPECT_TRUE(strPath == (bstrName ? bstrName : L"")) << "case " << i;
            SysFreeString(bstrName);
        }
    }
    bool bResult = false;
    UploadTo(p, RecordUrl(L"/names"), &bResult);
    EXPECT_TRUE(bResult);
    ASSERT_EQ(1, RecordServer::Count());
    const std::string strBody = RecordServer::Request(0).strBody;
    // Each listed name went out in UTF-8, the emoji as one four-byte sequence.
    EXPECT_NE(std::string::npos, strBody.find("\xF0\x9F\x98\x80x\""));
    EXPECT_NE(std::string::npos, strBody.find("\xF0\x90\x90\xB7\xF0\x90\x90\xB7.txt\""));
    EXPECT_NE(std::string::npos, strBody.find(std::string(260 - nFixed, 'a') + "\""));
    EXPECT_EQ(std::string::npos, strBody.find(std::string(261 - nFixed, 'b')));
}
