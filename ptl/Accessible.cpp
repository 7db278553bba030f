#include "ptl/Accessible.h"
#include <commctrl.h>
#include <new>
#include "ptl/ComPtr.h"
#include "ptl/Text.h"

namespace PTL
{
namespace
{
const UINT_PTR ANNOTATION_ID = 0x50544C;  // this module's subclass of the window
const wchar_t FACTS_PROPERTY[] = L"PTL.AccessibleFacts";

CAccessibleFacts* FactsOf(HWND hWnd) { return static_cast<CAccessibleFacts*>(GetPropW(hWnd, FACTS_PROPERTY)); }

bool IsSelf(const VARIANT& var) { return var.vt == VT_I4 && var.lVal == CHILDID_SELF; }

std::wstring ValueOf(HWND hWnd, EAccessibleValue value)
{
    if (!IsWindow(hWnd))
        return std::wstring();
    if (value == EAccessibleValue::ProgressPercent)
    {
        PBRANGE range = {};
        SendMessageW(hWnd, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
        const int nPos = static_cast<int>(SendMessageW(hWnd, PBM_GETPOS, 0, 0));
        const int nSpan = range.iHigh - range.iLow;
        const int nPercent = nSpan > 0 ? MulDiv(nPos - range.iLow, 100, nSpan) : 0;
        return std::to_wstring(nPercent) + L"%";
    }
    return WindowText(hWnd);
}

// The system's object with the facts put over it. It reads the window afresh on every call and
// may outlive the window (a client can hold it); then the system's object answers as it does.
class CAnnotated : public IAccessible
{
public:
    CAnnotated(IAccessible* pInner, HWND hWnd, const CAccessibleFacts& facts)
        : m_pInner(pInner), m_hWnd(hWnd), m_facts(facts)
    {
    }

    // IUnknown: the children's enumeration and the window are the system object's.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == __uuidof(IAccessible))
        {
            *ppv = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        return m_pInner->QueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_nRefs)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG n = InterlockedDecrement(&m_nRefs);
        if (n == 0)
            delete this;
        return static_cast<ULONG>(n);
    }
    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* p) override { return m_pInner->GetTypeInfoCount(p); }
    STDMETHODIMP GetTypeInfo(UINT n, LCID lcid, ITypeInfo** pp) override { return m_pInner->GetTypeInfo(n, lcid, pp); }
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT n, LCID lcid, DISPID* ids) override
    {
        return m_pInner->GetIDsOfNames(riid, names, n, lcid, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD w, DISPPARAMS* p, VARIANT* r, EXCEPINFO* e,
                        UINT* a) override
    {
        return m_pInner->Invoke(id, riid, lcid, w, p, r, e, a);
    }
    // IAccessible: what the facts give, the rest from the system's object.
    STDMETHODIMP get_accName(VARIANT varChild, BSTR* pszName) override
    {
        if (!IsSelf(varChild) || m_facts.strName.empty())
            return m_pInner->get_accName(varChild, pszName);
        if (!pszName)
            return E_POINTER;
        *pszName = SysAllocString(m_facts.strName.c_str());
        return *pszName ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP get_accRole(VARIANT varChild, VARIANT* pvarRole) override
    {
        if (!IsSelf(varChild) || m_facts.nRole == 0)
            return m_pInner->get_accRole(varChild, pvarRole);
        if (!pvarRole)
            return E_POINTER;
        pvarRole->vt = VT_I4;
        pvarRole->lVal = m_facts.nRole;
        return S_OK;
    }
    STDMETHODIMP get_accValue(VARIANT varChild, BSTR* pszValue) override
    {
        if (!IsSelf(varChild) || m_facts.value == EAccessibleValue::System || !IsWindow(m_hWnd))
            return m_pInner->get_accValue(varChild, pszValue);
        if (!pszValue)
            return E_POINTER;
        *pszValue = SysAllocString(ValueOf(m_hWnd, m_facts.value).c_str());
        return *pszValue ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP get_accParent(IDispatch** pp) override { return m_pInner->get_accParent(pp); }
    STDMETHODIMP get_accChildCount(LONG* p) override { return m_pInner->get_accChildCount(p); }
    STDMETHODIMP get_accChild(VARIANT v, IDispatch** pp) override { return m_pInner->get_accChild(v, pp); }
    STDMETHODIMP get_accDescription(VARIANT v, BSTR* p) override { return m_pInner->get_accDescription(v, p); }
    STDMETHODIMP get_accState(VARIANT v, VARIANT* p) override { return m_pInner->get_accState(v, p); }
    STDMETHODIMP get_accHelp(VARIANT v, BSTR* p) override { return m_pInner->get_accHelp(v, p); }
    STDMETHODIMP get_accHelpTopic(BSTR* p, VARIANT v, LONG* n) override { return m_pInner->get_accHelpTopic(p, v, n); }
    STDMETHODIMP get_accKeyboardShortcut(VARIANT v, BSTR* p) override
    {
        return m_pInner->get_accKeyboardShortcut(v, p);
    }
    STDMETHODIMP get_accFocus(VARIANT* p) override { return m_pInner->get_accFocus(p); }
    STDMETHODIMP get_accSelection(VARIANT* p) override { return m_pInner->get_accSelection(p); }
    STDMETHODIMP get_accDefaultAction(VARIANT v, BSTR* p) override { return m_pInner->get_accDefaultAction(v, p); }
    STDMETHODIMP accSelect(LONG n, VARIANT v) override { return m_pInner->accSelect(n, v); }
    STDMETHODIMP accLocation(LONG* x, LONG* y, LONG* cx, LONG* cy, VARIANT v) override
    {
        return m_pInner->accLocation(x, y, cx, cy, v);
    }
    STDMETHODIMP accNavigate(LONG n, VARIANT v, VARIANT* p) override { return m_pInner->accNavigate(n, v, p); }
    STDMETHODIMP accHitTest(LONG x, LONG y, VARIANT* p) override { return m_pInner->accHitTest(x, y, p); }
    STDMETHODIMP accDoDefaultAction(VARIANT v) override { return m_pInner->accDoDefaultAction(v); }
    STDMETHODIMP put_accName(VARIANT v, BSTR s) override { return m_pInner->put_accName(v, s); }
    STDMETHODIMP put_accValue(VARIANT v, BSTR s) override { return m_pInner->put_accValue(v, s); }

private:
    virtual ~CAnnotated() = default;

    LONG m_nRefs = 1;
    CComPtr<IAccessible> m_pInner;
    HWND m_hWnd;
    CAccessibleFacts m_facts;
};

LRESULT CALLBACK AnnotationProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    const CAccessibleFacts* pFacts = FactsOf(hWnd);
    if (uMsg == WM_GETOBJECT && static_cast<LONG>(lParam) == OBJID_CLIENT && pFacts)
    {
        CComPtr<IAccessible> pSystem;
        if (SUCCEEDED(CreateStdAccessibleObject(hWnd, OBJID_CLIENT, __uuidof(IAccessible),
                                                reinterpret_cast<void**>(&pSystem))) &&
            pSystem)
        {
            auto* pAnnotated = new (std::nothrow) CAnnotated(pSystem.Get(), hWnd, *pFacts);
            if (pAnnotated)
            {
                const LRESULT lResult = LresultFromObject(__uuidof(IAccessible), wParam, pAnnotated);
                pAnnotated->Release();
                return lResult;
            }
        }
    }
    if (uMsg == WM_NCDESTROY)
    {
        RemoveWindowSubclass(hWnd, AnnotationProc, ANNOTATION_ID);
        delete static_cast<CAccessibleFacts*>(RemovePropW(hWnd, FACTS_PROPERTY));
    }
    return DefSubclassProc(hWnd, uMsg, wParam, lParam);
}
}  // namespace

bool AnnotateWindow(HWND hWnd, const CAccessibleFacts& facts)
{
    if (!hWnd)
        return false;
    if (CAccessibleFacts* pFacts = FactsOf(hWnd))
    {
        *pFacts = facts;
        return true;
    }
    auto* pFacts = new (std::nothrow) CAccessibleFacts(facts);
    if (!pFacts)
        return false;
    if (!SetPropW(hWnd, FACTS_PROPERTY, pFacts) || !SetWindowSubclass(hWnd, AnnotationProc, ANNOTATION_ID, 0))
    {
        RemovePropW(hWnd, FACTS_PROPERTY);
        delete pFacts;
        return false;
    }
    return true;
}

std::wstring NameFromLabel(const std::wstring& strLabel)
{
    std::wstring str;
    for (wchar_t ch : strLabel)
        if (ch != L'&')
            str += ch;
    const size_t nEnd = str.find_last_not_of(L" :\t");
    return nEnd == std::wstring::npos ? std::wstring() : str.substr(0, nEnd + 1);
}
}  // namespace PTL
