// docs/reference.md against the control: it names every member of the type library (read from
// the built library itself) on a table row with its dispid, and what its rows say each property
// and method gives back (type, default, result, S_FALSE) is what the registered control gives;
// its property rows are the control's property table, row for row.
#include <windows.h>
#include <oleauto.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>
#include "Pelora5_h.h"
#include "control/PL5Properties.h"
#include "tests/common/PropertyIds.h"
#include "ptl/ComPtr.h"
#include "tests/common/DialogWatcher.h"
#include "tests/common/TextBag.h"

namespace
{
std::string ReadReference()
{
    std::stringstream text;
    text << std::ifstream(PL5_REFERENCE_PATH).rdbuf();
    return text.str();
}

// The rows of the first table after a heading, in order: the cells trimmed, without backticks.
std::vector<std::vector<std::string>> OrderedRows(const std::string& strDoc, const std::string& strHeading)
{
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(strDoc.substr(strDoc.find("\n" + strHeading + "\n")));
    std::string line;
    while (std::getline(lines, line) && (rows.empty() || line.rfind("| `", 0) == 0))
    {
        std::vector<std::string> cells;
        std::istringstream cellText(line.rfind("| `", 0) == 0 ? line.substr(2) : "");
        for (std::string cell; std::getline(cellText, cell, '|');)
        {
            cell.erase(std::remove(cell.begin(), cell.end(), '`'), cell.end());
            const size_t nBegin = cell.find_first_not_of(' ');
            cells.push_back(nBegin == std::string::npos ? ""
                                                        : cell.substr(nBegin, cell.find_last_not_of(' ') - nBegin + 1));
        }
        if (!cells.empty())
            rows.push_back(cells);
    }
    return rows;
}

// The same rows by their first cell.
std::map<std::string, std::vector<std::string>> TableRows(const std::string& strDoc, const std::string& strHeading)
{
    std::map<std::string, std::vector<std::string>> rows;
    for (const std::vector<std::string>& row : OrderedRows(strDoc, strHeading))
        rows[row[0]] = row;
    return rows;
}

// One call through IDispatch, as a script engine makes it; arguments in the order written.
HRESULT Call(IDispatch* p, DISPID dispid, WORD wFlags, std::vector<PTL::CComVariant> args, PTL::CComVariant& result)
{
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID dispidPut = DISPID_PROPERTYPUT;
    const bool bPut = wFlags == DISPATCH_PROPERTYPUT;
    DISPPARAMS params = {reversed.data(), bPut ? &dispidPut : nullptr, UINT(reversed.size()), bPut ? 1u : 0u};
    result.Clear();
    return p->Invoke(dispid, IID_NULL, 0, wFlags, &params, bPut ? nullptr : &result, nullptr, nullptr);
}

// A property table value as the reference's cells write it.
const char* TypeCell(PL5Script::Text) { return "string"; }
const char* TypeCell(PL5Script::Flag) { return "bool"; }
const char* TypeCell(PL5Script::ULong) { return "ulong"; }
const char* TypeCell(PL5Script::Short) { return "short"; }
std::string ValueCell(const std::wstring& str) { return "\"" + std::string(str.begin(), str.end()) + "\""; }
std::string ValueCell(bool b) { return b ? "true" : "false"; }
std::string ValueCell(ULONG n) { return std::to_string(n); }
std::string ValueCell(SHORT n) { return std::to_string(n); }

PTL::CComVariant Text(const wchar_t* sz) { return PTL::CComVariant(sz); }
PTL::CComVariant Int(LONG n) { return PTL::CComVariant::FromInt(n); }
PTL::CComVariant Size(ULONG n)
{
    PTL::CComVariant var = Int(LONG(n));
    var.vt = VT_UI4;
    return var;
}
}  // namespace

TEST(Reference, NamesEveryMemberOfTheTypeLibraryWithItsDispid)
{
    std::istringstream file(ReadReference());
    std::string strDoc, line;
    while (std::getline(file, line))
        strDoc += "\n" + line + "\n";  // each line framed, so a search can span one line only
    ASSERT_FALSE(strDoc.empty()) << PL5_REFERENCE_PATH;
    const auto Narrow = [](BSTR bstr) { return std::string(bstr, bstr + SysStringLen(bstr)); };  // ASCII names
    const auto HasRow = [&](const std::string& strName, MEMBERID nDispid) {
        const std::string strCell = "| `" + strName + "` |", strId = "| " + std::to_string(nDispid) + " |";
        for (size_t n = strDoc.find(strCell); n != std::string::npos; n = strDoc.find(strCell, n + 1))
        {
            const size_t nBegin = strDoc.rfind('\n', n), nEnd = strDoc.find('\n', n);
            if (strDoc.substr(nBegin, nEnd - nBegin).find(strId) != std::string::npos)
                return true;
        }
        return false;
    };

    ITypeLib* pLib = nullptr;
    ASSERT_EQ(S_OK, LoadTypeLibEx(PL5_TYPELIB_PATH, REGKIND_NONE, &pLib)) << PL5_TYPELIB_PATH;
    std::set<std::string> members;  // a property's get and put share a name
    for (UINT nType = 0; nType < pLib->GetTypeInfoCount(); ++nType)
    {
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
        for (UINT i = 0; i < pAttr->cFuncs; ++i)
        {
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
    // 28 properties, 24 methods and 13 events: the library really was read.
    EXPECT_EQ(65u, members.size());
}

// The property rows are the control's property table: the same properties in the same order
// (the order PARAMs are applied in, as the reference says), dispids, types and defaults.
TEST(Reference, PropertyRowsFollowTheControlsTable)
{
#define PL5_ROW(name, dispid, kind, def, ...)                                                                          \
    {#name, std::to_string(dispid), TypeCell(PL5Script::kind()), ValueCell(PL5Script::kind::Value(def))},
    const std::vector<std::string> table[] = {PL5_PROPERTIES(PL5_ROW, PL5_ROW)};
#undef PL5_ROW
    const auto rows = OrderedRows(ReadReference(), "## Properties");
    ASSERT_EQ(std::size(table) + 1, rows.size());  // and IDVAL, which is not persisted
    for (size_t i = 0; i < std::size(table); ++i)
    {
        std::vector<std::string> row = rows[i];
        row[3] = row[3].substr(0, row[3].find(' '));  // the default's first word
        row.resize(4);
        EXPECT_EQ(table[i], row) << "row " << i;
    }
}

// What the property and method rows say the control gives back (a property's type and default; a
// method's result and whether it returns S_FALSE), from calls as a page makes them on a new control;
// dialogs are answered as a user would (Cancel, else OK).
TEST(Reference, RowsGiveTheResultsTheySay)
{
    const std::map<std::string, std::set<VARTYPE>> types = {{"", {VT_EMPTY}},
                                                            {"string", {VT_BSTR}},
                                                            {"bool", {VT_BOOL}},
                                                            {"ulong", {VT_UI4}},
                                                            {"ulong, read-only", {VT_UI4}},
                                                            {"short", {VT_I2}},
                                                            {"long", {VT_I4}},
                                                            {"path or nothing", {VT_BSTR, VT_EMPTY}},
                                                            {"answer", {VT_BSTR}}};
    CDialogWatcher watcher([](const CSeenDialog& dialog) {
        for (const CSeenControl& c : dialog.controls)
            if (c.nId == IDCANCEL && _wcsicmp(c.strClass.c_str(), L"Button") == 0)
                return IDCANCEL;
        return IDOK;
    });
    // Made by a client compiled against the second interface; script reaches the same object.
    PTL::CComPtr<IPL5Ctrl2> p2;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_PL5Ctrl, nullptr, CLSCTX_INPROC_SERVER, IID_IPL5Ctrl2,
                                     reinterpret_cast<void**>(&p2)));
    PTL::CComPtr<IDispatch> p;
    ASSERT_EQ(S_OK, p2->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&p)));
    // Script finds each member by its name, whichever interface brought it: its type is the second.
    const auto DispidByName = [&p](const std::string& strName) {
        std::wstring strWide(strName.begin(), strName.end());
        LPOLESTR psz = &strWide[0];
        DISPID nId = DISPID_UNKNOWN;
        return SUCCEEDED(p->GetIDsOfNames(IID_NULL, &psz, 1, 0, &nId)) ? nId : DISPID_UNKNOWN;
    };
    PTL::CComPtr<ITypeInfo> pInfo;
    TYPEATTR* pAttr = nullptr;
    ASSERT_EQ(S_OK, p->GetTypeInfo(0, 0, &pInfo));
    ASSERT_EQ(S_OK, pInfo->GetTypeAttr(&pAttr));
    EXPECT_TRUE(pAttr->guid == IID_IPL5Ctrl2);
    pInfo->ReleaseTypeAttr(pAttr);
    const std::string strDoc = ReadReference();
    const auto properties = TableRows(strDoc, "## Properties");
    ASSERT_EQ(28u, properties.size());
    for (const auto& [strName, row] : properties)
    {
        EXPECT_EQ(std::stoi(row[1]), DispidByName(strName)) << strName;
        PTL::CComVariant value;
        ASSERT_EQ(S_OK, Call(p, std::stoi(row[1]), DISPATCH_PROPERTYGET, {}, value)) << strName;
        EXPECT_TRUE(types.count(row[2]) && types.at(row[2]).count(value.vt)) << strName << " is not " << row[2];
        // The default is the cell's first word: a number, true or false, or a quoted text.
        std::string strDefault = row[3].substr(0, row[3].find(' ')), strValue;
        if (strDefault == "random")
            continue;
        if (strDefault.front() == '"')
            strDefault = strDefault.substr(1, strDefault.size() - 2);
        const bool bFlag = value.vt == VT_BOOL;
        ASSERT_EQ(S_OK, VariantChangeType(&value, &value, VARIANT_ALPHABOOL, VT_BSTR)) << strName;
        for (const wchar_t* sz = value.bstrVal; *sz; ++sz)
            strValue += char(bFlag ? towlower(*sz) : *sz);  // "True" and "False" as the table writes them
        EXPECT_EQ(strDefault, strValue) << strName;
    }

    struct CCase
    {
        const char* szMember;
        WORD wFlags;
        std::vector<PTL::CComVariant> args;
    };
    const WORD GET = DISPATCH_PROPERTYGET, PUT = DISPATCH_PROPERTYPUT, CALL = DISPATCH_METHOD;
    const CCase cases[] = {
        {"AddTempFile", CALL, {Text(L"scan.pdf"), Size(52133), Text(L"doc-17")}},
        {"AddFile", CALL, {Text(L"C:\\windows\\win.ini")}},
        {"GetCount", GET, {}},
        {"GetFileName", GET, {Int(0)}},
        {"GetFileSize", GET, {Int(0)}},
        {"GetFileID", GET, {Int(0)}},
        {"IsTempFile", GET, {Int(0)}},
        {"SelectState", GET, {Int(0)}},
        {"SelectState", PUT, {Int(0), PTL::CComVariant::FromBool(true)}},
        {"SetStatusWidth", PUT, {Int(0), Int(200)}},
        {"AppendDragDrop", CALL, {Text(L"photoZone"), Text(L"photos")}},
        {"ClearDragDrop", CALL, {}},
        {"AppendFilter", CALL, {Text(L"Text"), Text(L"*.txt")}},
        {"ClearFilter", CALL, {}},
        {"AppendPostData", CALL, {Text(L"title"), Text(L"Summer")}},
        {"ClearPostData", CALL, {}},
        {"OpenFile", CALL, {}},
        {"SelectSingleFile", CALL, {}},
        {"MoveItem", CALL, {Int(1), Int(-1)}},
        {"ExcuteLocalFile", CALL, {Text(L"C:\\windows\\win.ini")}},
        {"StartUpload", CALL, {}},
        {"UploadCancel", CALL, {}},
        {"RemoveFromIndex", CALL, {Int(1)}},
        {"RemoveSelectedFiles", CALL, {}},
        {"RemoveAllFiles", CALL, {}},
    };
    const auto methods = TableRows(strDoc, "## Methods");
    ASSERT_EQ(24u, methods.size());
    PTL::CComVariant unused;
    ASSERT_EQ(S_OK, Call(p, PropertyId::SilentMode, PUT, {PTL::CComVariant::FromBool(true)}, unused));
    std::set<std::string> called;
    for (const CCase& c : cases)
    {
        ASSERT_TRUE(methods.count(c.szMember)) << c.szMember;
        const std::vector<std::string>& row = methods.at(c.szMember);
        PTL::CComVariant result;
        EXPECT_EQ(S_OK, Call(p, std::stoi(row[1]), c.wFlags, c.args, result)) << c.szMember;
        // "() → long"; "get (nIdx) → bool, put (nIdx, bool)"; a put and a row without an arrow give nothing.
        const std::string strSignature = row[2].substr(0, row[2].find(", put"));
        const size_t nArrow = c.wFlags == PUT ? std::string::npos : strSignature.find("→ ");
        const std::string strResult = nArrow == std::string::npos ? "" : strSignature.substr(nArrow + 4);
        EXPECT_TRUE(types.count(strResult) && types.at(strResult).count(result.vt))
            << c.szMember << " gave type " << result.vt << "; the row says " << strResult;
        called.insert(c.szMember);
    }
    // S_FALSE reaches only a caller of the interface itself: IDispatch::Invoke answers S_OK for
    // every success code.
    PTL::CComPtr<IPL5Ctrl> pCtrl;
    ASSERT_EQ(S_OK, p2->QueryInterface(IID_IPL5Ctrl, reinterpret_cast<void**>(&pCtrl)));
    EXPECT_EQ(S_FALSE, pCtrl->AddTempFile(PTL::CComBSTR(L"huge.bin"), 3000000000u, PTL::CComBSTR(L"doc-18")));
    const std::set<std::string> refused = {"AddTempFile"};
    for (const auto& [strName, row] : methods)
    {
        EXPECT_TRUE(called.count(strName)) << strName << " is not called here";
        EXPECT_EQ(std::stoi(row[1]), DispidByName(strName)) << strName;
        EXPECT_EQ(refused.count(strName) != 0, row[3].find("S_FALSE") != std::string::npos)
            << strName << ": the row and the control disagree on S_FALSE";
    }
    // The second interface extends the first's vtable: what a client of either puts, the other
    // and script read back.
    EXPECT_EQ(S_OK, pCtrl->put_MaxFileCount(7));
    EXPECT_EQ(S_OK, p2->put_RetryCount(3));
    ULONG nCount = 0;
    EXPECT_EQ(S_OK, p2->get_MaxFileCount(&nCount));
    EXPECT_EQ(7u, nCount);
    PTL::CComVariant maxCount, retryCount;
    EXPECT_EQ(S_OK, Call(p, DispidByName("MaxFileCount"), GET, {}, maxCount));
    EXPECT_EQ(S_OK, Call(p, DispidByName("RetryCount"), GET, {}, retryCount));
    EXPECT_TRUE(maxCount.vt == VT_UI4 && V_UI4(&maxCount) == 7 && retryCount.vt == VT_UI4 && V_UI4(&retryCount) == 3);
}

// What the reference says a flag's PARAM text stores is what a tag's PARAM stores in every flag.
TEST(Reference, FlagParamsStoreWhatTheTableSays)
{
    const std::vector<std::vector<std::string>> rows = OrderedRows(ReadReference(), "| PARAM value | Stores |");
    ASSERT_EQ(5u, rows.size());
#define PL5_FLAG_NAME(name, dispid, kind, ...)                                                                         \
    std::is_same<PL5Script::kind, PL5Script::Flag>::value ? L"" #name : nullptr,
    const wchar_t* const names[] = {PL5_PROPERTIES(PL5_FLAG_NAME, PL5_FLAG_NAME)};
#undef PL5_FLAG_NAME
    for (size_t i = 0; i < rows.size(); ++i)
    {
        const std::wstring strText(rows[i][0].begin(), rows[i][0].end());
        for (const wchar_t* szName : names)
        {
            if (!szName)
                continue;
            PTL::CComPtr<IDispatch> p;
            ASSERT_EQ(S_OK, CoCreateInstance(CLSID_PL5Ctrl, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                             reinterpret_cast<void**>(&p)));
            PTL::CComPtr<IPersistPropertyBag> pPersist;
            ASSERT_EQ(S_OK, p->QueryInterface(IID_IPersistPropertyBag, reinterpret_cast<void**>(&pPersist)));
            CTextBag bag;
            bag.values = {{szName, strText}};
            ASSERT_EQ(S_OK, pPersist->Load(&bag, nullptr));
            std::wstring strName = szName;
            LPOLESTR psz = &strName[0];
            DISPID dispid = DISPID_UNKNOWN;
            ASSERT_EQ(S_OK, p->GetIDsOfNames(IID_NULL, &psz, 1, 0, &dispid));
            PTL::CComVariant value;
            ASSERT_EQ(S_OK, Call(p, dispid, DISPATCH_PROPERTYGET, {}, value));
            EXPECT_EQ(rows[i][1], value.vt == VT_BOOL && value.boolVal ? "true" : "false")
                << "case " << i << ": " << rows[i][0] << " in " << std::string(strName.begin(), strName.end());
        }
    }
}
