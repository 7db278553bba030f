#include "ptl/ScriptArray.h"

#include <oleauto.h>

#include "ptl/Text.h"

namespace PTL
{
namespace
{
// Array readings started from inside a getter of an array being read, on one thread.
const int MAX_READ_NESTING = 4;

thread_local int t_nReadNesting = 0;

class CNestingScope
{
public:
    CNestingScope() { ++t_nReadNesting; }
    ~CNestingScope() { --t_nReadNesting; }
    CNestingScope(const CNestingScope&) = delete;
    CNestingScope& operator=(const CNestingScope&) = delete;
};

// A named property of a script object, read late-bound as a property get.
bool ReadProperty(IDispatch* pObject, const std::wstring& strName, CComVariant& varValue)
{
    LPOLESTR pszName = const_cast<LPOLESTR>(strName.c_str());
    DISPID dispid = DISPID_UNKNOWN;
    varValue.Clear();
    if (FAILED(pObject->GetIDsOfNames(IID_NULL, &pszName, 1, LOCALE_SYSTEM_DEFAULT, &dispid)))
        return false;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    if (SUCCEEDED(pObject->Invoke(dispid, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_PROPERTYGET, &none, &varValue,
                                  nullptr, nullptr)))
        return true;
    varValue.Clear();
    return false;
}
}  // namespace

IDispatch* ScriptObject(const VARIANT& var)
{
    const VARIANT* p = ScriptValueOf(var);
    if (p && p->vt == VT_DISPATCH)
        return p->pdispVal;
    if (p && p->vt == (VT_BYREF | VT_DISPATCH) && p->ppdispVal)
        return *p->ppdispVal;
    return nullptr;
}

CScriptArray::~CScriptArray()
{
    if (m_pArray)
        SafeArrayUnlock(m_pArray);
}

bool CScriptArray::Open(const VARIANT& var)
{
    const VARIANT* p = ScriptValueOf(var);
    if (!p)
        return false;
    if (p->vt & VT_ARRAY)
    {
        SAFEARRAY* pArray = (p->vt & VT_BYREF) ? (p->pparray ? *p->pparray : nullptr) : p->parray;
        if (!pArray || SafeArrayGetDim(pArray) != 1)
            return false;
        LONG nLower = 0, nUpper = -1;
        if (FAILED(SafeArrayGetLBound(pArray, 1, &nLower)) || FAILED(SafeArrayGetUBound(pArray, 1, &nUpper)))
            return false;
        if (FAILED(SafeArrayLock(pArray)))
            return false;
        m_pArray = pArray;
        m_vtElement = static_cast<VARTYPE>(p->vt & VT_TYPEMASK);
        m_nLower = nLower;
        m_nLength = nUpper < nLower ? 0 : static_cast<ULONG>(static_cast<LONGLONG>(nUpper) - nLower + 1);
        return true;
    }
    IDispatch* pObject = ScriptObject(var);
    if (!pObject)
        return false;
    // Held: a getter may drop the page's last reference to the array while it is read.
    m_pObject = pObject;
    CComVariant varLength;
    if (!ReadProperty(pObject, L"length", varLength) || FAILED(varLength.ChangeType(VT_UI4)))
        return false;
    m_nLength = varLength.ulVal;
    return true;
}

void CScriptArray::Element(ULONG nIndex, CComVariant& varElement) const
{
    varElement.Clear();
    if (nIndex >= m_nLength)
        return;
    if (m_pObject)
    {
        ReadProperty(m_pObject, std::to_wstring(nIndex), varElement);
        return;
    }
    if (!m_pArray)
        return;
    LONG nAt = static_cast<LONG>(static_cast<LONGLONG>(m_nLower) + nIndex);
    if (m_vtElement == VT_VARIANT)
    {
        if (FAILED(SafeArrayGetElement(m_pArray, &nAt, static_cast<VARIANT*>(&varElement))))
            varElement.Clear();
    }
    else if (m_vtElement == VT_BSTR)
    {
        BSTR bstr = nullptr;
        if (SUCCEEDED(SafeArrayGetElement(m_pArray, &nAt, &bstr)))
        {
            varElement.vt = VT_BSTR;
            varElement.bstrVal = bstr;
        }
    }
    // Arrays of numbers and other plain types hold no strings: their elements stay empty.
}

std::vector<std::pair<std::wstring, std::wstring>> ReadStringPairs(const VARIANT& varFirst, const VARIANT& varSecond)
{
    std::vector<std::pair<std::wstring, std::wstring>> pairs;
    std::wstring strFirst, strSecond;
    const bool bFirstText = VariantToText(varFirst, strFirst, ETextFrom::StringOnly);
    const bool bSecondText = VariantToText(varSecond, strSecond, ETextFrom::StringOnly);
    if (bFirstText || bSecondText)
    {
        if (bFirstText && bSecondText)
            pairs.emplace_back(std::move(strFirst), std::move(strSecond));
        return pairs;
    }

    if (t_nReadNesting >= MAX_READ_NESTING)
        return pairs;
    CNestingScope nesting;
    CScriptArray first, second;
    if (!first.Open(varFirst) || !second.Open(varSecond) || first.Length() != second.Length())
        return pairs;
    const ULONG nCount = first.Length() < MAX_SCRIPT_ARRAY ? first.Length() : MAX_SCRIPT_ARRAY;
    for (ULONG i = 0; i < nCount; ++i)
    {
        CComVariant varName, varValue;
        first.Element(i, varName);
        second.Element(i, varValue);
        if (VariantToText(varName, strFirst, ETextFrom::StringOnly) &&
            VariantToText(varValue, strSecond, ETextFrom::StringOnly))
            pairs.emplace_back(strFirst, strSecond);
    }
    return pairs;
}
}  // namespace PTL
