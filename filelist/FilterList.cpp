#include "filelist/FilterList.h"
#include <string>
#include "ptl/ComPtr.h"

namespace
{
// Script engines may pass a variable by reference; what counts is the value it holds.
const VARIANT& ValueOf(const VARIANT& var)
{
    if (var.vt == (VT_BYREF | VT_VARIANT) && var.pvarVal)
        return ValueOf(*var.pvarVal);
    return var;
}

const wchar_t* StringIn(const VARIANT& var)
{
    const VARIANT& value = ValueOf(var);
    if (value.vt == VT_BSTR)
        return value.bstrVal ? value.bstrVal : L"";
    if (value.vt == (VT_BYREF | VT_BSTR) && value.pbstrVal)
        return *value.pbstrVal ? *value.pbstrVal : L"";
    return nullptr;
}

IDispatch* ObjectIn(const VARIANT& var)
{
    const VARIANT& value = ValueOf(var);
    if (value.vt == VT_DISPATCH)
        return value.pdispVal;
    if (value.vt == (VT_BYREF | VT_DISPATCH) && value.ppdispVal)
        return *value.ppdispVal;
    return nullptr;
}

// A named property of a script object, read late-bound.
bool ReadProperty(IDispatch* pObject, const std::wstring& strName, PTL::CComVariant& varValue)
{
    LPOLESTR pszName = const_cast<LPOLESTR>(strName.c_str());
    DISPID dispid = DISPID_UNKNOWN;
    if (FAILED(pObject->GetIDsOfNames(IID_NULL, &pszName, 1, LOCALE_USER_DEFAULT, &dispid)))
        return false;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    varValue.Clear();
    return SUCCEEDED(pObject->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                     &varValue, nullptr, nullptr));
}

bool ReadLength(IDispatch* pArray, ULONG& nLength)
{
    PTL::CComVariant varLength;
    if (!ReadProperty(pArray, L"length", varLength) || FAILED(varLength.ChangeType(VT_UI4)))
        return false;
    nLength = varLength.ulVal;
    return true;
}
} // namespace

void CFilterList::AppendFrom(const VARIANT& varName, const VARIANT& varPattern)
{
    const wchar_t* szName = StringIn(varName);
    const wchar_t* szPattern = StringIn(varPattern);
    if (szName && szPattern)
    {
        Append(szName, szPattern);
        return;
    }
    IDispatch* pNames = ObjectIn(varName);
    IDispatch* pPatterns = ObjectIn(varPattern);
    ULONG nNames = 0, nPatterns = 0;
    if (!pNames || !pPatterns || !ReadLength(pNames, nNames) || !ReadLength(pPatterns, nPatterns) ||
        nNames != nPatterns)
        return;
    for (ULONG i = 0; i < nNames; ++i)
    {
        const std::wstring strIndex = std::to_wstring(i);
        PTL::CComVariant varElementName, varElementPattern;
        if (!ReadProperty(pNames, strIndex, varElementName) || !ReadProperty(pPatterns, strIndex, varElementPattern))
            continue;
        szName = StringIn(varElementName);
        szPattern = StringIn(varElementPattern);
        if (szName && szPattern)
            Append(szName, szPattern);
    }
}
