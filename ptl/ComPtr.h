// Owning wrappers for COM pointers, BSTRs and VARIANTs.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <string>
#include <type_traits>
#include <utility>

namespace PTL
{
// Holds one reference to a COM interface and releases it when it goes.
template <class T>
class CComPtr
{
public:
    CComPtr() = default;
    CComPtr(T* p) : m_p(p)
    {
        if (m_p)
            m_p->AddRef();
    }
    CComPtr(const CComPtr& other) : CComPtr(other.m_p) {}
    template <class U, class = std::enable_if_t<std::is_convertible<U*, T*>::value>>
    CComPtr(const CComPtr<U>& other) : CComPtr(other.Get())
    {
    }
    CComPtr(CComPtr&& other) noexcept : m_p(other.m_p) { other.m_p = nullptr; }
    ~CComPtr() { Release(); }

    CComPtr& operator=(const CComPtr& other)
    {
        CComPtr(other).Swap(*this);
        return *this;
    }
    CComPtr& operator=(CComPtr&& other) noexcept
    {
        CComPtr(std::move(other)).Swap(*this);
        return *this;
    }
    template <class U, class = std::enable_if_t<std::is_convertible<U*, T*>::value>>
    CComPtr& operator=(const CComPtr<U>& other)
    {
        CComPtr(other).Swap(*this);
        return *this;
    }
    CComPtr& operator=(T* p)
    {
        CComPtr(p).Swap(*this);
        return *this;
    }

    void Release()
    {
        if (m_p)
        {
            T* p = m_p;
            m_p = nullptr;
            p->Release();
        }
    }
    // Takes over a reference the caller already owns.
    void Attach(T* p)
    {
        Release();
        m_p = p;
    }
    T* Detach()
    {
        T* p = m_p;
        m_p = nullptr;
        return p;
    }
    void Swap(CComPtr& other) noexcept { std::swap(m_p, other.m_p); }
    // A new reference for an [out] parameter.
    HRESULT CopyTo(T** pp) const
    {
        if (!pp)
            return E_POINTER;
        *pp = m_p;
        if (m_p)
            m_p->AddRef();
        return S_OK;
    }

    // For out-parameters: releases what is held and hands out the slot.
    T** operator&()
    {
        Release();
        return &m_p;
    }
    T* operator->() const { return m_p; }
    operator T*() const { return m_p; }
    T* Get() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

    template <class Q>
    HRESULT QueryInterface(Q** pp) const
    {
        return m_p ? m_p->QueryInterface(__uuidof(Q), reinterpret_cast<void**>(pp)) : E_POINTER;
    }

private:
    T* m_p = nullptr;
};

// Owns a BSTR.
class CComBSTR
{
public:
    CComBSTR() = default;
    explicit CComBSTR(const wchar_t* sz) : m_str(sz ? SysAllocString(sz) : nullptr) {}
    explicit CComBSTR(const std::wstring& str) : m_str(SysAllocStringLen(str.data(), UINT(str.size()))) {}
    CComBSTR(const wchar_t* sz, UINT nLength) : m_str(SysAllocStringLen(sz, nLength)) {}
    CComBSTR(const CComBSTR& other) : m_str(other.m_str ? SysAllocStringLen(other.m_str, other.Length()) : nullptr) {}
    CComBSTR(CComBSTR&& other) noexcept : m_str(other.m_str) { other.m_str = nullptr; }
    ~CComBSTR() { SysFreeString(m_str); }
    CComBSTR& operator=(CComBSTR other) noexcept
    {
        std::swap(m_str, other.m_str);
        return *this;
    }

    BSTR* operator&()
    {
        SysFreeString(m_str);
        m_str = nullptr;
        return &m_str;
    }
    operator BSTR() const { return m_str; }
    BSTR Get() const { return m_str; }
    UINT Length() const { return SysStringLen(m_str); }
    std::wstring Str() const { return m_str ? std::wstring(m_str, Length()) : std::wstring(); }
    BSTR Detach()
    {
        BSTR s = m_str;
        m_str = nullptr;
        return s;
    }
    // A copy for an [out] parameter; never null, so callers may rely on a string.
    HRESULT CopyTo(BSTR* pOut) const
    {
        if (!pOut)
            return E_POINTER;
        *pOut = SysAllocStringLen(m_str, Length());
        return *pOut ? S_OK : E_OUTOFMEMORY;
    }

private:
    BSTR m_str = nullptr;
};

// Owns a VARIANT.
class CComVariant : public VARIANT
{
public:
    CComVariant() { VariantInit(this); }
    CComVariant(const CComVariant& other)
    {
        VariantInit(this);
        VariantCopy(this, const_cast<CComVariant*>(&other));
    }
    explicit CComVariant(const VARIANT& other)
    {
        VariantInit(this);
        VariantCopy(this, const_cast<VARIANT*>(&other));
    }
    explicit CComVariant(const wchar_t* sz)
    {
        VariantInit(this);
        vt = VT_BSTR;
        bstrVal = SysAllocString(sz ? sz : L"");
    }
    explicit CComVariant(const std::wstring& str)
    {
        VariantInit(this);
        vt = VT_BSTR;
        bstrVal = SysAllocStringLen(str.data(), UINT(str.size()));
    }
    ~CComVariant() { VariantClear(this); }

    static CComVariant FromInt(LONG n)
    {
        CComVariant var;
        var.vt = VT_I4;
        var.lVal = n;
        return var;
    }
    static CComVariant FromBool(bool b)
    {
        CComVariant var;
        var.vt = VT_BOOL;
        var.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
        return var;
    }
    static CComVariant FromDispatch(IDispatch* pDisp)
    {
        CComVariant var;
        var.vt = VT_DISPATCH;
        var.pdispVal = pDisp;
        if (pDisp)
            pDisp->AddRef();
        return var;
    }

    CComVariant& operator=(const CComVariant& other)
    {
        if (this != &other)
            VariantCopy(this, const_cast<CComVariant*>(&other));
        return *this;
    }
    HRESULT Copy(const VARIANT& src) { return VariantCopy(this, const_cast<VARIANT*>(&src)); }
    void Clear() { VariantClear(this); }
    // Moves the value into a caller's VARIANT, which must hold nothing that needs freeing.
    void Detach(VARIANT* pDest)
    {
        *pDest = *this;
        VariantInit(this);
    }
    HRESULT ChangeType(VARTYPE vtNew) { return VariantChangeType(this, this, 0, vtNew); }
};
}  // namespace PTL
