// The control object as containers see it: the put rules through IDispatch (the defaults and
// what a script engine passes are checked by script_properties.js under cscript), the property
// map through both persistence interfaces, events through the connection point, and the safety
// interface. The control is made in-process from this program's own copy of the module's code
// and type library.
#include <windows.h>
#include <ocidl.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <cctype>
#include <string>
#include "control/PL5CtrlObject.h"
#include "tests/control/EventSink.h"
#include "tests/common/InProcessControl.h"
#include "tests/common/PropertyIds.h"
#include "tests/common/TestData.h"
#include "tests/common/TextBag.h"
#include "ptl/ClassFactory.h"

using PTL::CComPtr;
using PTL::CComVariant;
using namespace PropertyId;

namespace
{
CComPtr<IPL5Ctrl> NewControl() { return NewInProcessControl(); }

CPL5Ctrl* Impl(IPL5Ctrl* p) { return static_cast<CPL5Ctrl*>(p); }

CComVariant Get(IDispatch* p, DISPID dispid)
{
    CComVariant var;
    EXPECT_EQ(S_OK, GetProperty(p, dispid, var)) << "dispid " << dispid;
    return var;
}

CComVariant Text(const wchar_t* sz) { return CComVariant(sz); }

CComVariant Number(VARTYPE vt, LONG n)
{
    CComVariant var;
    var.vt = vt;
    var.lVal = 0;
    if (vt == VT_BOOL)
        var.boolVal = static_cast<VARIANT_BOOL>(n);
    else if (vt == VT_I2)
        var.iVal = static_cast<SHORT>(n);
    else
        var.lVal = n;
    return var;
}

// The value as text, for comparing results of any type in one table.
std::wstring Show(const VARIANT& var)
{
    CComVariant copy(var);
    if (copy.vt == VT_BOOL)
        return copy.boolVal == VARIANT_TRUE ? L"true" : copy.boolVal == VARIANT_FALSE ? L"false" : L"bool?";
    if (FAILED(copy.ChangeType(VT_BSTR)))
        return L"<unconvertible>";
    return copy.bstrVal ? std::wstring(copy.bstrVal) : std::wstring();
}

}  // namespace

TEST(ControlProperties, PutRules)
{
    // Each case runs on a fresh control: a sequence of puts, then one get.
    struct CPut
    {
        DISPID dispid;
        CComVariant value;
    };
    const struct
    {
        const char* szName;
        std::vector<CPut> puts;
        DISPID dispidRead;
        const wchar_t* szExpected;
    } cases[] = {
        {"bool 1 is not true", {{UseUnicode, Number(VT_BOOL, 1)}}, UseUnicode, L"false"},
        {"bool -1 is true", {{MakeInlineResponse, Number(VT_BOOL, -1)}}, MakeInlineResponse, L"true"},
        {"bool 0 clears a default true", {{ShowStatus, Number(VT_BOOL, 0)}}, ShowStatus, L"false"},
        {"bool 2 clears a default true", {{Scrolling, Number(VT_BOOL, 2)}}, Scrolling, L"false"},
        {"unit size at the limit",
         {{MaxUnitFileSize, Number(VT_UI4, static_cast<LONG>(0x80000000))}},
         MaxUnitFileSize,
         L"2147483648"},
        {"unit size below the limit", {{MaxUnitFileSize, Number(VT_UI4, 0x7FFFFFFF)}}, MaxUnitFileSize, L"2147483647"},
        {"total size clamps",
         {{MaxTotalFileSize, Number(VT_UI4, static_cast<LONG>(0x80000001))}},
         MaxTotalFileSize,
         L"2147483648"},
        {"file count unclamped", {{MaxFileCount, Number(VT_UI4, 0)}}, MaxFileCount, L"0"},
        {"language of one character", {{Language, Text(L"k")}}, Language, L"k"},
        {"array type sets the array flag", {{InputType, Text(L"ARRAY")}}, InputTypeArray, L"true"},
        {"fixed type sets fixed", {{InputType, Text(L"Fixed")}}, InputNameFixed, L"true"},
        {"fixed type keeps the array flag",
         {{InputTypeArray, Number(VT_BOOL, -1)}, {InputType, Text(L"fixed")}},
         InputTypeArray,
         L"true"},
        {"ordernum clears both",
         {{InputTypeArray, Number(VT_BOOL, -1)}, {InputNameFixed, Number(VT_BOOL, -1)}, {InputType, Text(L"ordernum")}},
         InputNameFixed,
         L"false"},
        {"ordernum clears array",
         {{InputTypeArray, Number(VT_BOOL, -1)}, {InputType, Text(L"ordernum")}},
         InputTypeArray,
         L"false"},
        {"flags free while the type is empty",
         {{InputType, Text(L"")}, {InputNameFixed, Number(VT_BOOL, -1)}},
         InputNameFixed,
         L"true"},
        {"unknown type clears the input name",
         {{InputName, Text(L"upfile")}, {InputType, Text(L"other")}},
         InputName,
         L""},
        {"unknown type leaves the flags",
         {{InputTypeArray, Number(VT_BOOL, -1)}, {InputType, Text(L"other")}},
         InputTypeArray,
         L"true"},
        {"unknown type keeps blocking",
         {{InputType, Text(L"other")}, {InputNameFixed, Number(VT_BOOL, -1)}},
         InputNameFixed,
         L"false"},
        {"empty program title", {{ProgramTitle, Text(L"")}}, ProgramTitle, L""},
        {"item width negative", {{ItemWidth, Number(VT_I2, -5)}}, ItemWidth, L"-5"},
        {"dialog list height", {{DialogListHeight, Number(VT_I2, 120)}}, DialogListHeight, L"120"},
        // Before the window exists ChildMode is free to set; the child-mode page checks it is fixed after.
        {"child mode before the window", {{ChildMode, Number(VT_BOOL, -1)}}, ChildMode, L"true"},
    };
    int i = 0;
    for (const auto& c : cases)
    {
        CComPtr<IPL5Ctrl> p = NewControl();
        for (const CPut& put : c.puts)
            EXPECT_EQ(S_OK, PutProperty(p, put.dispid, put.value)) << c.szName;
        EXPECT_EQ(c.szExpected, Show(Get(p, c.dispidRead))) << "case " << i << ": " << c.szName;
        ++i;
    }
}

TEST(ControlProperties, ProgramTitleIsProcessWideAndResetByEveryNewControl)
{
    CComPtr<IPL5Ctrl> pFirst = NewControl();
    EXPECT_EQ(S_OK, PutProperty(pFirst, ProgramTitle, Text(L"Shop")));
    CComPtr<IPL5Ctrl> pSecond = NewControl();
    EXPECT_EQ(L"Pelora", Show(Get(pFirst, ProgramTitle)));
    EXPECT_EQ(S_OK, PutProperty(pSecond, ProgramTitle, Text(L"Mail")));
    EXPECT_EQ(L"Mail", Show(Get(pFirst, ProgramTitle)));
}

// ---- persistence ---------------------------------------------------------------------------

TEST(ControlPersistence, PropertyBagReadsInMapOrderAndSavesEveryEntry)
{
    // What each tag value becomes is read by the PARAM page in the page host; here the order of
    // the reads and what a save writes.
    CComPtr<IPL5Ctrl> p = NewControl();
    CComPtr<IPersistPropertyBag> pBag;
    ASSERT_EQ(S_OK, p.QueryInterface(&pBag));
    CTextBag bag;
    bag.values = {{L"MaxUnitFileSize", L"4294967295"}, {L"_cx", L"1234"}};
    ASSERT_EQ(S_OK, pBag->Load(&bag, nullptr));

    // The extent first, then the property table's rows in order.
    std::vector<std::wstring> expectedOrder = {L"_cx", L"_cy"};
    expectedOrder.insert(expectedOrder.end(), Names.begin(), Names.end());
    ASSERT_EQ(expectedOrder.size(), bag.reads.size());
    for (size_t i = 0; i < expectedOrder.size(); ++i)
        EXPECT_EQ(expectedOrder[i], bag.reads[i]) << "read " << i;

    // Saving writes every entry with its current value; IDVAL is not among them.
    CTextBag out;
    ASSERT_EQ(S_OK, pBag->Save(&out, TRUE, TRUE));
    ASSERT_EQ(expectedOrder.size(), out.written.size());
    EXPECT_EQ(VT_UI4, out.written[0].second.vt);
    EXPECT_EQ(1234u, out.written[0].second.ulVal);
    EXPECT_EQ(L"2147483648", Show(out.written[7].second));
}

TEST(ControlPersistence, StreamRoundTripCarriesEveryProperty)
{
    CComPtr<IPL5Ctrl> pSource = NewControl();
    const struct
    {
        DISPID dispid;
        CComVariant value;
    } puts[] = {
        {Action, Text(L"upload.php?a=1")},     {InputName, Text(L"attach")},
        {MaxFileCount, Number(VT_UI4, 7)},     {MaxUnitFileSize, Number(VT_UI4, 1000)},
        {UseUnicode, Number(VT_BOOL, -1)},     {ShowStatus, Number(VT_BOOL, 0)},
        {ItemWidth, Number(VT_I2, -3)},        {BkImgURL, Text(L"http://x/bg.png")},
        {InputTypeArray, Number(VT_BOOL, -1)}, {ShowThumbnails, Number(VT_BOOL, -1)},
        {RetryCount, Number(VT_UI4, 4)},       {RetryDelay, Number(VT_UI4, 250)},
    };
    for (const auto& put : puts)
        ASSERT_EQ(S_OK, PutProperty(pSource, put.dispid, put.value));

    CComPtr<IStream> pStream;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &pStream));
    CComPtr<IPersistStreamInit> pSave;
    ASSERT_EQ(S_OK, pSource.QueryInterface(&pSave));
    ASSERT_EQ(S_OK, pSave->Save(pStream, TRUE));
    EXPECT_EQ(S_FALSE, pSave->IsDirty());
    ULARGE_INTEGER cbMax = {};
    ASSERT_EQ(S_OK, pSave->GetSizeMax(&cbMax));
    LARGE_INTEGER zero = {};
    ULARGE_INTEGER cbWritten = {};
    pStream->Seek(zero, STREAM_SEEK_CUR, &cbWritten);
    EXPECT_EQ(cbMax.QuadPart, cbWritten.QuadPart);

    CComPtr<IPL5Ctrl> pTarget = NewControl();
    CComPtr<IPersistStreamInit> pLoad;
    ASSERT_EQ(S_OK, pTarget.QueryInterface(&pLoad));
    pStream->Seek(zero, STREAM_SEEK_SET, nullptr);
    ASSERT_EQ(S_OK, pLoad->Load(pStream));
    for (const auto& put : puts)
        EXPECT_EQ(Show(Get(pSource, put.dispid)), Show(Get(pTarget, put.dispid))) << "dispid " << put.dispid;

    // A cut stream is refused rather than half-applied silently, and so is a layout newer than
    // this control's (0x0101).
    for (const std::vector<BYTE>& bytes : {std::vector<BYTE>{0x00, 0x01, 0x00, 0x00, 0x10},
                                           std::vector<BYTE>{0x02, 0x01, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}})
    {
        CComPtr<IStream> pBad;
        ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &pBad));
        pBad->Write(bytes.data(), ULONG(bytes.size()), nullptr);
        pBad->Seek(zero, STREAM_SEEK_SET, nullptr);
        EXPECT_TRUE(FAILED(pLoad->Load(pBad))) << bytes.size();
    }
}

TEST(ControlPersistence, StreamOfTheFirstLayoutLoadsWithDefaultsForLaterProperties)
{
    // What a control of the first layout (0x0100) saved: the extent, then the 24 properties of
    // IPL5Ctrl in map order, each as its VARTYPE and value (Language "en", ProgramTitle "Shop",
    // SilentMode true, MaxFileCount 9, MaxUnitFileSize 1000, MaxTotalFileSize 5000, Action "/up",
    // InputName "attach", ..., ListStyle "list", ItemWidth 120, DialogListHeight -1, ...).
    std::string strHex = TestData("control_stream_first_layout.hex");
    strHex.erase(std::remove_if(strHex.begin(), strHex.end(), [](unsigned char c) { return std::isspace(c) != 0; }),
                 strHex.end());
    std::vector<BYTE> bytes;
    for (size_t i = 0; i + 1 < strHex.size(); i += 2)
        bytes.push_back(BYTE(std::stoul(strHex.substr(i, 2), nullptr, 16)));

    CComPtr<IStream> pStream;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &pStream));
    pStream->Write(bytes.data(), ULONG(bytes.size()), nullptr);
    const LARGE_INTEGER zero = {};
    pStream->Seek(zero, STREAM_SEEK_SET, nullptr);
    CComPtr<IPL5Ctrl> p = NewControl();
    CComPtr<IPersistStreamInit> pLoad;
    ASSERT_EQ(S_OK, p.QueryInterface(&pLoad));
    ASSERT_EQ(S_OK, pLoad->Load(pStream));
    const struct
    {
        DISPID dispid;
        const wchar_t* szExpected;
    } expected[] = {{Language, L"en"},           {SilentMode, L"true"},     {MaxFileCount, L"9"},
                    {MaxTotalFileSize, L"5000"}, {InputName, L"attach"},    {ListStyle, L"list"},
                    {ItemWidth, L"120"},         {UseContextMenu, L"true"}, {ShowThumbnails, L"false"},
                    {RetryCount, L"0"},          {RetryDelay, L"1000"}};
    for (const auto& e : expected)
        EXPECT_EQ(e.szExpected, Show(Get(p, e.dispid))) << "dispid " << e.dispid;
    // Saved again, it is written in the current layout.
    CComPtr<IStream> pSaved;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &pSaved));
    ASSERT_EQ(S_OK, pLoad->Save(pSaved, TRUE));
    pSaved->Seek(zero, STREAM_SEEK_SET, nullptr);
    DWORD dwVersion = 0;
    pSaved->Read(&dwVersion, sizeof(dwVersion), nullptr);
    EXPECT_EQ(0x0101u, dwVersion);
}

TEST(ControlPersistence, InitNewMarksDirtyAndChangesNothing)
{
    CComPtr<IPL5Ctrl> p = NewControl();
    CComPtr<IPersistStreamInit> pInit;
    ASSERT_EQ(S_OK, p.QueryInterface(&pInit));
    EXPECT_EQ(S_FALSE, pInit->IsDirty());
    EXPECT_EQ(S_OK, pInit->InitNew());
    EXPECT_EQ(S_OK, pInit->IsDirty());
    EXPECT_EQ(L"file", Show(Get(p, InputName)));
    CLSID clsid = {};
    EXPECT_EQ(S_OK, pInit->GetClassID(&clsid));
    EXPECT_TRUE(clsid == CLSID_PL5Ctrl);
}

// ---- events ------------------------------------------------------------------------------

TEST(ControlEvents, ArgumentsGoOutReversedWithTheirTypes)
{
    CRecordingSink sink;  // outlives the control that holds it
    CComPtr<IPL5Ctrl> p = NewControl();
    AdviseSink(p, &sink);
    Impl(p)->Fire_OnAddFile(L"C:\\a.txt", 0xFFFFFFF0u);
    Impl(p)->Fire_OnBeforeDrop(L"C:\\b.txt", L"zone", nullptr);
    Impl(p)->Fire_OnBeforeRemoveItem(3, nullptr);
    Impl(p)->Fire_OnRemoveItems();
    ASSERT_EQ(4u, sink.calls.size());

    EXPECT_EQ(2, sink.calls[0].dispid);
    ASSERT_EQ(2u, sink.calls[0].args.size());
    EXPECT_EQ(VT_UI4, sink.calls[0].args[0].vt);  // size: the last declared argument comes first
    EXPECT_EQ(0xFFFFFFF0u, sink.calls[0].args[0].ulVal);
    EXPECT_EQ(VT_BSTR, sink.calls[0].args[1].vt);
    EXPECT_STREQ(L"C:\\a.txt", sink.calls[0].args[1].bstrVal);
    EXPECT_FALSE(sink.calls[0].bResultAsked);

    EXPECT_EQ(8, sink.calls[1].dispid);
    EXPECT_STREQ(L"zone", sink.calls[1].args[0].bstrVal);
    EXPECT_STREQ(L"C:\\b.txt", sink.calls[1].args[1].bstrVal);

    EXPECT_EQ(VT_UI4, sink.calls[2].args[0].vt);
    EXPECT_EQ(3u, sink.calls[2].args[0].ulVal);
    EXPECT_EQ(0u, sink.calls[3].args.size());
}

TEST(ControlEvents, VetoIsReadOnlyFromBooleanResultsAndTheLastOneWins)
{
    const struct
    {
        const char* szName;
        VARTYPE vtFirst;
        LONG nFirst;
        VARTYPE vtSecond;
        LONG nSecond;
        VARIANT_BOOL vbExpected;
    } cases[] = {
        {"both silent", VT_EMPTY, 0, VT_EMPTY, 0, VARIANT_TRUE},
        {"false then nothing", VT_BOOL, 0, VT_EMPTY, 0, VARIANT_FALSE},
        {"false then true", VT_BOOL, 0, VT_BOOL, -1, VARIANT_TRUE},
        {"true then false", VT_BOOL, -1, VT_BOOL, 0, VARIANT_FALSE},
        {"number 0 is no veto", VT_I4, 0, VT_EMPTY, 0, VARIANT_TRUE},
        {"false then number 0", VT_BOOL, 0, VT_I4, 0, VARIANT_FALSE},
    };
    int i = 0;
    for (const auto& c : cases)
    {
        CRecordingSink first, second;  // outlive the control that holds them
        CComPtr<IPL5Ctrl> p = NewControl();
        first.onCall = Returns(c.vtFirst, c.nFirst);
        second.onCall = Returns(c.vtSecond, c.nSecond);
        AdviseSink(p, &first);
        AdviseSink(p, &second);
        VARIANT_BOOL vb = VARIANT_TRUE;
        Impl(p)->Fire_OnBeforeAddFile(L"x", &vb);
        EXPECT_EQ(c.vbExpected, vb) << "case " << i << ": " << c.szName;
        EXPECT_EQ(1u, first.calls.size()) << c.szName;
        EXPECT_EQ(1u, second.calls.size()) << c.szName;
        EXPECT_TRUE(first.calls[0].bResultAsked);
        ++i;
    }
}

TEST(ControlEvents, UploadCompleteReachesOnlyTheFirstOccupiedSlot)
{
    CRecordingSink a, b, c, d;  // outlive the control that holds them
    CComPtr<IPL5Ctrl> p = NewControl();
    const DWORD dwA = AdviseSink(p, &a);
    const DWORD dwB = AdviseSink(p, &b);
    AdviseSink(p, &c);
    EXPECT_NE(dwA, dwB);

    Impl(p)->Fire_OnUploadComplete(L"answer");
    Impl(p)->Fire_OnUploadCancel();
    EXPECT_EQ(2u, a.calls.size());
    EXPECT_EQ(1u, b.calls.size());
    EXPECT_EQ(1u, c.calls.size());
    EXPECT_EQ(11, b.calls[0].dispid);

    UnadviseSink(p, dwA);
    Impl(p)->Fire_OnUploadComplete(L"second");
    ASSERT_EQ(2u, b.calls.size());
    EXPECT_EQ(10, b.calls[1].dispid);
    EXPECT_STREQ(L"second", b.calls[1].args[0].bstrVal);
    EXPECT_EQ(1u, c.calls.size());

    // The freed first slot is reused, and the cookie names it again.
    EXPECT_EQ(dwA, AdviseSink(p, &d));
    Impl(p)->Fire_OnUploadComplete(L"third");
    EXPECT_EQ(1u, d.calls.size());
    EXPECT_EQ(2u, b.calls.size());
}

TEST(ControlEvents, ConnectionBookkeeping)
{
    CRecordingSink a, b;  // outlive the control that holds them
    CComPtr<IPL5Ctrl> p = NewControl();
    CComPtr<IConnectionPointContainer> pContainer;
    ASSERT_EQ(S_OK, p.QueryInterface(&pContainer));
    CComPtr<IConnectionPoint> pPoint;
    EXPECT_EQ(CONNECT_E_NOCONNECTION, pContainer->FindConnectionPoint(IID_IDispatch, &pPoint));
    ASSERT_EQ(S_OK, pContainer->FindConnectionPoint(DIID__IPL5CtrlEvents, &pPoint));

    DWORD dwA = 0, dwB = 0;
    ASSERT_EQ(S_OK, pPoint->Advise(&a, &dwA));
    ASSERT_EQ(S_OK, pPoint->Advise(&b, &dwB));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, pPoint->Unadvise(dwB + 5));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, pPoint->Unadvise(0));

    CComPtr<IEnumConnections> pEnum;
    ASSERT_EQ(S_OK, pPoint->EnumConnections(&pEnum));
    CONNECTDATA data[3] = {};
    ULONG nFetched = 0;
    EXPECT_EQ(S_FALSE, pEnum->Next(3, data, &nFetched));
    ASSERT_EQ(2u, nFetched);
    EXPECT_EQ(dwA, data[0].dwCookie);
    EXPECT_EQ(dwB, data[1].dwCookie);
    for (ULONG i = 0; i < nFetched; ++i)
        data[i].pUnk->Release();

    pEnum.Release();  // its snapshot holds references of its own
    ASSERT_EQ(S_OK, pPoint->Unadvise(dwA));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, pPoint->Unadvise(dwA));
    EXPECT_EQ(1u, a.RefCount());  // the connection's reference is gone

    CComPtr<IEnumConnectionPoints> pPoints;
    ASSERT_EQ(S_OK, pContainer->EnumConnectionPoints(&pPoints));
    CComPtr<IConnectionPoint> pFound;
    EXPECT_EQ(S_OK, pPoints->Next(1, &pFound, nullptr));
    EXPECT_TRUE(pFound.Get() == pPoint.Get());
    IID iid = {};
    pFound->GetConnectionInterface(&iid);
    EXPECT_TRUE(iid == DIID__IPL5CtrlEvents);

    // A sink that does not speak the events interface cannot connect.
    CComPtr<IStream> pNotASink;
    CreateStreamOnHGlobal(nullptr, TRUE, &pNotASink);
    DWORD dwBad = 0;
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, pPoint->Advise(pNotASink, &dwBad));
}

// ---- identity, safety and class information --------------------------------------------------

TEST(ControlIdentity, ObjectSafetyMasks)
{
    CComPtr<IPL5Ctrl> p = NewControl();
    CComPtr<IObjectSafety> pSafety;
    ASSERT_EQ(S_OK, p->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(&pSafety)));
    DWORD dwSupported = 9, dwEnabled = 9;
    EXPECT_EQ(S_OK, pSafety->GetInterfaceSafetyOptions(IID_IDispatch, &dwSupported, &dwEnabled));
    EXPECT_EQ(3u, dwSupported);
    EXPECT_EQ(0u, dwEnabled);
    EXPECT_EQ(E_FAIL, pSafety->SetInterfaceSafetyOptions(IID_IDispatch, 4, 4));
    EXPECT_EQ(S_OK, pSafety->SetInterfaceSafetyOptions(IID_IDispatch, 3, 3));
    pSafety->GetInterfaceSafetyOptions(IID_IDispatch, &dwSupported, &dwEnabled);
    EXPECT_EQ(3u, dwEnabled);
    EXPECT_EQ(S_OK, pSafety->SetInterfaceSafetyOptions(IID_IDispatch, 1, 0));
    pSafety->GetInterfaceSafetyOptions(IID_IDispatch, &dwSupported, &dwEnabled);
    EXPECT_EQ(2u, dwEnabled);
    EXPECT_EQ(E_NOINTERFACE, pSafety->GetInterfaceSafetyOptions(IID_IClassFactory, &dwSupported, &dwEnabled));
    EXPECT_EQ(0u, dwSupported);
    EXPECT_EQ(0u, dwEnabled);
    EXPECT_EQ(E_NOINTERFACE, pSafety->SetInterfaceSafetyOptions(IID_IClassFactory, 3, 3));
}

TEST(ControlIdentity, EveryInterfaceOfTheTableIsOneObject)
{
    CComPtr<IPL5Ctrl> p = NewControl();
    CComPtr<IUnknown> pIdentity;
    ASSERT_EQ(S_OK, p.QueryInterface(&pIdentity));
    const struct
    {
        const IID& iid;
        const char* szName;
    } table[] = {
        {IID_IPL5Ctrl2, "IPL5Ctrl2"},
        {IID_IPL5Ctrl, "IPL5Ctrl"},
        {IID_IDispatch, "IDispatch"},
        {IID_IViewObjectEx, "IViewObjectEx"},
        {IID_IViewObject2, "IViewObject2"},
        {IID_IViewObject, "IViewObject"},
        {IID_IOleInPlaceObjectWindowless, "IOleInPlaceObjectWindowless"},
        {IID_IOleInPlaceObject, "IOleInPlaceObject"},
        {IID_IOleWindow, "IOleWindow"},
        {IID_IOleInPlaceActiveObject, "IOleInPlaceActiveObject"},
        {IID_IOleControl, "IOleControl"},
        {IID_IOleObject, "IOleObject"},
        {IID_IPersistStreamInit, "IPersistStreamInit"},
        {IID_IPersist, "IPersist"},
        {IID_IPersistPropertyBag, "IPersistPropertyBag"},
        {IID_IConnectionPointContainer, "IConnectionPointContainer"},
        {IID_IProvideClassInfo, "IProvideClassInfo"},
        {IID_IProvideClassInfo2, "IProvideClassInfo2"},
        {IID_IObjectSafety, "IObjectSafety"},
        {IID_IDropTarget, "IDropTarget"},
    };
    for (const auto& entry : table)
    {
        CComPtr<IUnknown> pInterface, pBack;
        ASSERT_EQ(S_OK, p->QueryInterface(entry.iid, reinterpret_cast<void**>(&pInterface))) << entry.szName;
        ASSERT_EQ(S_OK, pInterface.QueryInterface(&pBack)) << entry.szName;
        EXPECT_EQ(pIdentity.Get(), pBack.Get()) << entry.szName << " answers for another object";
    }
    // What the table does not list is refused.
    for (const IID* pIid : {&IID_IPersistStorage, &IID_IQuickActivate, &IID_IOleCache})
    {
        CComPtr<IUnknown> pNone;
        EXPECT_EQ(E_NOINTERFACE, p->QueryInterface(*pIid, reinterpret_cast<void**>(&pNone)));
    }
}

TEST(ControlIdentity, ClassInfoNamesTheCoclassAndItsEvents)
{
    CComPtr<IPL5Ctrl> p = NewControl();
    CComPtr<IProvideClassInfo2> pInfo;
    ASSERT_EQ(S_OK, p.QueryInterface(&pInfo));
    GUID guid = {};
    EXPECT_EQ(S_OK, pInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &guid));
    EXPECT_TRUE(guid == DIID__IPL5CtrlEvents);
    CComPtr<ITypeInfo> pTypeInfo;
    ASSERT_EQ(S_OK, pInfo->GetClassInfo(&pTypeInfo));
    TYPEATTR* pAttr = nullptr;
    ASSERT_EQ(S_OK, pTypeInfo->GetTypeAttr(&pAttr));
    EXPECT_TRUE(pAttr->guid == CLSID_PL5Ctrl);
    EXPECT_EQ(TKIND_COCLASS, pAttr->typekind);
    pTypeInfo->ReleaseTypeAttr(pAttr);

    // Every interface of the object leads back to the same identity.
    CComPtr<IUnknown> pFromDispatch, pFromSafety;
    p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pFromDispatch));
    CComPtr<IPersist> pPersist;
    ASSERT_EQ(S_OK, p.QueryInterface(&pPersist));
    pPersist->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pFromSafety));
    EXPECT_TRUE(pFromDispatch.Get() == pFromSafety.Get());
}

TEST(ControlIdentity, ObjectsKeepTheModuleLoaded)
{
    const LONG nBefore = PTL::CModule::LockCount();
    {
        CComPtr<IClassFactory> pFactory;
        ASSERT_EQ(S_OK, PTL::GetClassFactory<CPL5CtrlObject>(IID_IClassFactory, reinterpret_cast<void**>(&pFactory)));
        EXPECT_EQ(nBefore, PTL::CModule::LockCount());
        CComPtr<IUnknown> pObject;
        ASSERT_EQ(S_OK, pFactory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&pObject)));
        EXPECT_EQ(nBefore + 1, PTL::CModule::LockCount());
        EXPECT_EQ(S_OK, pFactory->LockServer(TRUE));
        EXPECT_EQ(nBefore + 2, PTL::CModule::LockCount());
        EXPECT_EQ(S_OK, pFactory->LockServer(FALSE));
        CComPtr<IUnknown> pAggregated;
        EXPECT_EQ(CLASS_E_NOAGGREGATION,
                  pFactory->CreateInstance(pObject, IID_IUnknown, reinterpret_cast<void**>(&pAggregated)));
    }
    EXPECT_EQ(nBefore, PTL::CModule::LockCount());
}
