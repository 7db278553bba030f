// docs/reference.md names every member of the type library, read from the built library itself:
// each type by name, and each property, method and event on a table row with its dispid.
#include <windows.h>
#include <oleauto.h>
#include <gtest/gtest.h>
#include <fstream>
#include <set>
#include <string>

TEST(Reference, NamesEveryMemberOfTheTypeLibraryWithItsDispid)
{
    std::ifstream file(PL5_REFERENCE_PATH);
    ASSERT_TRUE(file) << PL5_REFERENCE_PATH;
    std::string strDoc, line;
    while (std::getline(file, line))
        strDoc += "\n" + line + "\n";  // each line framed, so a search can span one line only
    const auto Narrow = [](BSTR bstr) { return std::string(bstr, bstr + SysStringLen(bstr)); };  // ASCII names
    const auto HasRow = [&](const std::string& strName, MEMBERID nDispid) {
        const std::string strCell = "| `" + strName + "` |", strId = "| " + std::to_string(nDispid) + " |";
        for (size_t n = strDoc.find(strCell); n != std::string::npos; n = strDoc.find(strCell, n + 1)) {
            const size_t nBegin = strDoc.rfind('\n', n), nEnd = strDoc.find('\n', n);
            if (strDoc.substr(nBegin, nEnd - nBegin).find(strId) != std::string::npos)
                return true;
        }
        return false;
    };

    ITypeLib* pLib = nullptr;
    ASSERT_EQ(S_OK, LoadTypeLibEx(PL5_TYPELIB_PATH, REGKIND_NONE, &pLib)) << PL5_TYPELIB_PATH;
    std::set<std::string> members;  // a property's get and put share a name
    for (UINT nType = 0; nType < pLib->GetTypeInfoCount(); ++nType) {
        BSTR bstrType = nullptr;
        ITypeInfo* pInfo = nullptr;
        ASSERT_EQ(S_OK, pLib->GetDocumentation(nType, &bstrType, nullptr, nullptr, nullptr));
        ASSERT_EQ(S_OK, pLib->GetTypeInfo(nType, &pInfo));
        const std::string strType = Narrow(bstrType);
        SysFreeString(bstrType);
        EXPECT_NE(std::string::npos, strDoc.find("`" + strType + "`")) << strType << " is not in the reference";
        // A dual interface is listed as a dispatch type; its own members are on its vtable type.
        HREFTYPE hRef = 0;
        ITypeInfo* pOwn = nullptr;
        if (FAILED(pInfo->GetRefTypeOfImplType(-1, &hRef)) || FAILED(pInfo->GetRefTypeInfo(hRef, &pOwn)))
            (pOwn = pInfo)->AddRef();
        TYPEATTR* pAttr = nullptr;
        ASSERT_EQ(S_OK, pOwn->GetTypeAttr(&pAttr));
        for (UINT i = 0; i < pAttr->cFuncs; ++i) {
            FUNCDESC* pFunc = nullptr;
            BSTR bstrName = nullptr;
            ASSERT_EQ(S_OK, pOwn->GetFuncDesc(i, &pFunc));
            ASSERT_EQ(S_OK, pOwn->GetDocumentation(pFunc->memid, &bstrName, nullptr, nullptr, nullptr));
            members.insert(strType + "." + Narrow(bstrName));
            EXPECT_TRUE(HasRow(Narrow(bstrName), pFunc->memid))
                << strType << "." << Narrow(bstrName) << " (dispid " << pFunc->memid << ") has no row in the reference";
            SysFreeString(bstrName);
            pOwn->ReleaseFuncDesc(pFunc);
        }
        pOwn->ReleaseTypeAttr(pAttr);
        pOwn->Release();
        pInfo->Release();
    }
    pLib->Release();
    // 25 properties, 24 methods and 12 events: the library really was read.
    EXPECT_EQ(61u, members.size());
}
