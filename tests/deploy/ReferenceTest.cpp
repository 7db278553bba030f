// docs/reference.md names every member of the type library, read from the built library itself:
// each interface and coclass, and each property, method and event on a table row that also
// carries its dispid.
#include <windows.h>
#include <oleauto.h>
#include <gtest/gtest.h>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace
{
std::string Narrow(const BSTR bstr)
{
    std::string str;
    for (const wchar_t* p = bstr; p && *p; ++p)
        str += static_cast<char>(*p);  // type library names are ASCII
    return str;
}

struct Member
{
    std::string strName;
    MEMBERID nDispid;
};

// The members a type declares itself (a dual interface's own functions, not IDispatch's).
std::vector<Member> OwnMembers(ITypeInfo* pInfo)
{
    TYPEATTR* pAttr = nullptr;
    if (FAILED(pInfo->GetTypeAttr(&pAttr)))
        return {};
    std::vector<Member> members;
    std::set<std::string> seen;  // a property's get and put share a name
    for (UINT i = 0; i < pAttr->cFuncs; ++i)
    {
        FUNCDESC* pFunc = nullptr;
        if (FAILED(pInfo->GetFuncDesc(i, &pFunc)))
            continue;
        BSTR bstrName = nullptr;
        if (SUCCEEDED(pInfo->GetDocumentation(pFunc->memid, &bstrName, nullptr, nullptr, nullptr)))
        {
            const std::string strName = Narrow(bstrName);
            if (seen.insert(strName).second)
                members.push_back({strName, pFunc->memid});
            SysFreeString(bstrName);
        }
        pInfo->ReleaseFuncDesc(pFunc);
    }
    pInfo->ReleaseTypeAttr(pAttr);
    return members;
}
}  // namespace

TEST(Reference, NamesEveryMemberOfTheTypeLibraryWithItsDispid)
{
    std::ifstream file(PL5_REFERENCE_PATH);
    ASSERT_TRUE(file) << PL5_REFERENCE_PATH;
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);

    ITypeLib* pLib = nullptr;
    ASSERT_EQ(S_OK, LoadTypeLibEx(PL5_TYPELIB_PATH, REGKIND_NONE, &pLib)) << PL5_TYPELIB_PATH;
    int nMembers = 0;
    for (UINT nType = 0; nType < pLib->GetTypeInfoCount(); ++nType)
    {
        BSTR bstrType = nullptr;
        ASSERT_EQ(S_OK, pLib->GetDocumentation(nType, &bstrType, nullptr, nullptr, nullptr));
        const std::string strType = Narrow(bstrType);
        SysFreeString(bstrType);
        bool bNamed = false;
        for (const std::string& line : lines)
            bNamed = bNamed || line.find("`" + strType + "`") != std::string::npos;
        EXPECT_TRUE(bNamed) << strType << " is not in the reference";

        ITypeInfo* pInfo = nullptr;
        ASSERT_EQ(S_OK, pLib->GetTypeInfo(nType, &pInfo));
        TYPEKIND kind;
        pLib->GetTypeInfoType(nType, &kind);
        // A dual interface is listed as a dispatch type; its own members are on the vtable type.
        ITypeInfo* pOwn = pInfo;
        HREFTYPE hRef = 0;
        if (kind == TKIND_DISPATCH && SUCCEEDED(pInfo->GetRefTypeOfImplType(-1, &hRef)))
            pInfo->GetRefTypeInfo(hRef, &pOwn);
        for (const Member& member : OwnMembers(pOwn))
        {
            ++nMembers;
            const std::string strCell = "| `" + member.strName + "` |";
            const std::string strDispid = "| " + std::to_string(member.nDispid) + " |";
            bool bRow = false;
            for (const std::string& line : lines)
                bRow = bRow || (line.find(strCell) != std::string::npos &&
                                line.find(strDispid) != std::string::npos);
            EXPECT_TRUE(bRow) << strType << "." << member.strName << " (dispid " << member.nDispid
                              << ") has no table row in the reference";
        }
        if (pOwn != pInfo)
            pOwn->Release();
        pInfo->Release();
    }
    pLib->Release();
    // 25 properties, 24 methods and 12 events: the library really was read.
    EXPECT_EQ(61, nMembers);
}
