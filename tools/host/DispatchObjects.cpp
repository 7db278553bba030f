#include "tools/host/DispatchObjects.h"
#include "ptl/ExcepInfo.h"
#include "ptl/Text.h"

#include <cwctype>

namespace Host
{

STDMETHODIMP CDispatchObject::GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT nNames, LCID, DISPID* rgDispId)
{
    if (!rgszNames || !rgDispId)
        return E_POINTER;
    try
    {
        HRESULT hr = S_OK;
        for (UINT i = 0; i < nNames; ++i)
        {
            rgDispId[i] = i == 0 ? FindMember(rgszNames[i]) : DISPID_UNKNOWN;  // no named arguments
            if (rgDispId[i] == DISPID_UNKNOWN)
                hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP CDispatchObject::Invoke(DISPID nId, REFIID, LCID, WORD wFlags, DISPPARAMS* pParams, VARIANT* pResult,
                                     EXCEPINFO* pExcepInfo, UINT*)
{
    try
    {
        std::vector<const VARIANT*> args;
        if (pParams)
        {
            // Arguments arrive last first; positional order is easier to read in the members.
            for (UINT i = pParams->cArgs; i > pParams->cNamedArgs; --i)
            {
                const VARIANT* pArg = &pParams->rgvarg[i - 1];
                if (V_VT(pArg) == (VT_BYREF | VT_VARIANT))
                    pArg = V_VARIANTREF(pArg);
                args.push_back(pArg);
            }
        }
        if (IsMethod(nId) && !(wFlags & DISPATCH_METHOD))
        {
            // A method read as a property (typeof, a reference kept for later) is an object
            // that calls the method when it is called, as a browser's methods are.
            if (pResult)
            {
                VariantInit(pResult);
                auto pMethod = PTL::MakeComObject<CMethodObject>(this, nId);
                V_VT(pResult) = VT_DISPATCH;
                V_DISPATCH(pResult) = pMethod.Detach();
            }
            return S_OK;
        }
        PTL::CComVariant result;
        const HRESULT hr = InvokeMember(nId, wFlags, args, result, pExcepInfo);
        if (SUCCEEDED(hr) && pResult)
        {
            VariantInit(pResult);
            result.Detach(pResult);
        }
        return hr;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    catch (...)
    {
        return E_UNEXPECTED;
    }
}

HRESULT CDispatchObject::Fail(EXCEPINFO* pExcepInfo, const std::wstring& strMessage)
{
    if (!pExcepInfo)
        return E_INVALIDARG;
    PTL::FillExcepInfo(pExcepInfo, E_INVALIDARG, L"host", strMessage);
    return DISP_E_EXCEPTION;
}

bool CDispatchObject::SameName(const std::wstring& a, const wchar_t* b)
{
    return CompareStringOrdinal(a.c_str(), int(a.size()), b, -1, TRUE) == CSTR_EQUAL;
}

// ---- CMethodObject -----------------------------------------------------------------------------

DISPID CMethodObject::FindMember(const std::wstring&) { return DISPID_UNKNOWN; }

HRESULT CMethodObject::InvokeMember(DISPID nId, WORD wFlags, const std::vector<const VARIANT*>& args,
                                    PTL::CComVariant& result, EXCEPINFO* pExcepInfo)
{
    if (nId != DISPID_VALUE || !(wFlags & DISPATCH_METHOD))
        return DISP_E_MEMBERNOTFOUND;
    // The owner's Invoke takes the arguments last first, as they came.
    std::vector<VARIANT> reversed;
    for (auto it = args.rbegin(); it != args.rend(); ++it)
        reversed.push_back(**it);
    DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr, UINT(reversed.size()), 0};
    return m_pOwner->Invoke(m_nId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, pExcepInfo,
                            nullptr);
}

// ---- CValueList --------------------------------------------------------------------------------

namespace
{
constexpr DISPID DISPID_LIST_LENGTH = 1;
constexpr DISPID DISPID_LIST_ITEM = 2;
constexpr DISPID DISPID_LIST_FIRST_INDEX = 1000;
}  // namespace

PTL::CComPtr<IDispatch> CValueList::FromTexts(const std::vector<std::wstring>& texts)
{
    std::vector<PTL::CComVariant> values;
    for (const auto& str : texts)
        values.emplace_back(str);
    return PTL::MakeComObject<CValueList>(std::move(values));
}

DISPID CValueList::FindMember(const std::wstring& strName)
{
    if (SameName(strName, L"length"))
        return DISPID_LIST_LENGTH;
    if (SameName(strName, L"Item"))
        return DISPID_LIST_ITEM;
    if (strName.empty() || strName.size() > 9)
        return DISPID_UNKNOWN;
    for (wchar_t ch : strName)
        if (!std::iswdigit(ch))
            return DISPID_UNKNOWN;
    const size_t nIndex = std::stoul(strName);
    return nIndex < m_values.size() ? DISPID(DISPID_LIST_FIRST_INDEX + nIndex) : DISPID_UNKNOWN;
}

HRESULT CValueList::InvokeMember(DISPID nId, WORD, const std::vector<const VARIANT*>& args, PTL::CComVariant& result,
                                 EXCEPINFO* pExcepInfo)
{
    if (nId == DISPID_LIST_LENGTH)
    {
        result = PTL::CComVariant::FromInt(LONG(m_values.size()));
        return S_OK;
    }
    LONG nIndex = nId - DISPID_LIST_FIRST_INDEX;
    if (nId == DISPID_LIST_ITEM && (args.empty() || !PTL::VariantToInt(*args[0], nIndex)))
        return Fail(pExcepInfo, L"Item needs an index");
    if (nId != DISPID_LIST_ITEM && nId < DISPID_LIST_FIRST_INDEX)
        return DISP_E_MEMBERNOTFOUND;
    if (nIndex < 0 || size_t(nIndex) >= m_values.size())
        return Fail(pExcepInfo, L"index " + std::to_wstring(nIndex) + L" is outside the list");
    result = m_values[size_t(nIndex)];
    return S_OK;
}

// ---- CValueRecord ------------------------------------------------------------------------------

void CValueRecord::Set(const std::wstring& strName, PTL::CComVariant value)
{
    for (auto& field : m_fields)
    {
        if (field.first == strName)
        {
            field.second = std::move(value);
            return;
        }
    }
    m_fields.emplace_back(strName, std::move(value));
}

DISPID CValueRecord::FindMember(const std::wstring& strName)
{
    for (size_t i = 0; i < m_fields.size(); ++i)
        if (SameName(strName, m_fields[i].first.c_str()))
            return DISPID(i + 1);
    return DISPID_UNKNOWN;
}

HRESULT CValueRecord::InvokeMember(DISPID nId, WORD, const std::vector<const VARIANT*>&, PTL::CComVariant& result,
                                   EXCEPINFO*)
{
    if (nId < 1 || size_t(nId) > m_fields.size())
        return DISP_E_MEMBERNOTFOUND;
    result = m_fields[size_t(nId) - 1].second;
    return S_OK;
}

}  // namespace Host
