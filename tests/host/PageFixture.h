// A page run in-process against fake controls, with the page's output kept: the first object of
// the control's class is pFake, later ones get fakes of their own (in more).
#pragma once

#include <gtest/gtest.h>

#include "ptl/Text.h"
#include "tests/host/FakeControl.h"
#include "tools/host/PageRunner.h"

#include "Pelora5_h.h"

#include <memory>
#include <string>
#include <vector>

namespace HostTest
{

using namespace Host;

const wchar_t FAKE_OBJECT[] = L"<object id=\"ctl\" classid=\"clsid:7E2A99B8-B972-44DB-9201-9A443A38EFD5\"></object>\n";

struct CPageFixture
{
    PTL::CObjectPtr<CFakeControl> pFake = PTL::MakeComObject<CFakeControl>();
    std::vector<PTL::CObjectPtr<CFakeControl>> more;
    std::vector<std::wstring> out, err;
    std::unique_ptr<CPageRunner> pRunner;
    CPage page;
    std::wstring strUrl = L"http://127.0.0.1/pages/test.html";
    std::wstring strFolder = L"C:\\pages";
    bool bBrowserService = true;

    // The page gone, each fake is held by the fixture alone: a reference the host kept is a leak.
    ~CPageFixture()
    {
        pRunner.reset();
        if (pFake)
            EXPECT_EQ(1u, References(pFake.Get())) << "the first fake";
        for (size_t i = 0; i < more.size(); ++i)
            EXPECT_EQ(1u, References(more[i].Get())) << "fake " << i + 1;
    }
    CPageFixture() = default;
    CPageFixture(const CPageFixture&) = delete;
    CPageFixture& operator=(const CPageFixture&) = delete;

    int Run(const std::wstring& strPage)
    {
        page = ParsePage(strPage);
        CRunOptions options;
        options.strPageName = L"test.html";
        options.strPageFolder = strFolder;
        options.strUrl = strUrl;
        options.bBrowserService = bBrowserService;
        options.factory = [this](const CLSID& clsid, IUnknown** pp) {
            if (!IsEqualCLSID(clsid, CLSID_PL5Ctrl))
                return CreateRegisteredObject(clsid, pp);
            CFakeControl* pNext = pFake.Get();
            if (m_bFirstMade)
            {
                more.push_back(PTL::MakeComObject<CFakeControl>());
                pNext = more.back().Get();
            }
            m_bFirstMade = true;
            *pp = static_cast<IDispatch*>(pNext);
            (*pp)->AddRef();
            return S_OK;
        };
        options.print = [this](const std::wstring& str) { out.push_back(str); };
        options.printError = [this](const std::wstring& str) { err.push_back(str); };
        pRunner = std::make_unique<CPageRunner>(std::move(options));
        return pRunner->Run(page);
    }
    std::wstring Errors() const
    {
        std::wstring str;
        for (const auto& line : err)
            str += line + L"\n";
        return str;
    }

private:
    bool m_bFirstMade = false;
};

inline std::string Narrow(const std::wstring& str) { return PTL::EncodeText(str); }

}  // namespace HostTest
