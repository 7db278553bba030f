// Small owning wrappers and helpers for the page host: BSTR, VARIANT, COM object creation and
// text conversion. Everything the host holds is released by one of these or by ComPtr.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <atomic>
#include <new>
#include <string>
#include <utility>

namespace Host {

using Microsoft::WRL::ComPtr;

// An owned BSTR.
class CBstr {
public:
    CBstr() = default;
    explicit CBstr(const std::wstring& str) : m_bstr(SysAllocStringLen(str.data(), UINT(str.size())))
    {
        if (!m_bstr)
            throw std::bad_alloc();
    }
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;
    CBstr(CBstr&& other) noexcept : m_bstr(std::exchange(other.m_bstr, nullptr)) {}
    CBstr& operator=(CBstr&& other) noexcept
    {
        if (this != &other) {
            SysFreeString(m_bstr);
            m_bstr = std::exchange(other.m_bstr, nullptr);
        }
        return *this;
    }
    ~CBstr() { SysFreeString(m_bstr); }

    BSTR Get() const { return m_bstr; }
    BSTR* Out()
    {
        SysFreeString(m_bstr);
        m_bstr = nullptr;
        return &m_bstr;
    }
    BSTR Detach() { return std::exchange(m_bstr, nullptr); }
    std::wstring Str() const { return m_bstr ? std::wstring(m_bstr, SysStringLen(m_bstr)) : std::wstring(); }

private:
    BSTR m_bstr = nullptr;
};

// An owned VARIANT, cleared on destruction.
class CVariant {
public:
    CVariant() { VariantInit(&m_var); }
    explicit CVariant(const std::wstring& str) : CVariant()
    {
        CBstr bstr(str);
        V_VT(&m_var) = VT_BSTR;
        V_BSTR(&m_var) = bstr.Detach();
    }
    CVariant(const CVariant& other) : CVariant() { Copy(other.m_var); }
    CVariant& operator=(const CVariant& other)
    {
        if (this != &other)
            Copy(other.m_var);
        return *this;
    }
    ~CVariant() { VariantClear(&m_var); }

    static CVariant FromInt(LONG n)
    {
        CVariant var;
        V_VT(&var.m_var) = VT_I4;
        V_I4(&var.m_var) = n;
        return var;
    }
    static CVariant FromBool(bool b)
    {
        CVariant var;
        V_VT(&var.m_var) = VT_BOOL;
        V_BOOL(&var.m_var) = b ? VARIANT_TRUE : VARIANT_FALSE;
        return var;
    }
    static CVariant FromDispatch(IDispatch* pDisp)
    {
        CVariant var;
        V_VT(&var.m_var) = VT_DISPATCH;
        V_DISPATCH(&var.m_var) = pDisp;
        if (pDisp)
            pDisp->AddRef();
        return var;
    }

    void Copy(const VARIANT& src)
    {
        VariantClear(&m_var);
        const HRESULT hr = VariantCopy(&m_var, const_cast<VARIANT*>(&src));
        if (FAILED(hr))
            throw std::bad_alloc();
    }
    void Clear() { VariantClear(&m_var); }
    VARTYPE Type() const { return V_VT(&m_var); }
    VARIANT* Ptr() { return &m_var; }
    const VARIANT* Ptr() const { return &m_var; }
    // Moves the value into a caller's VARIANT (which must be empty or cleared).
    void DetachTo(VARIANT* pDest)
    {
        *pDest = m_var;
        VariantInit(&m_var);
    }

private:
    VARIANT m_var;
};

// Takes over the one reference a new object starts with. This toolchain's ComPtr::Attach adds a
// reference of its own, so Attach would keep the object alive for ever.
template <class T>
ComPtr<T> Adopt(T* p)
{
    ComPtr<T> ptr(p);
    if (p)
        p->Release();
    return ptr;
}

// Creates a COM object whose Release deletes it; the caller's ComPtr holds the only reference.
template <class T, class... TArgs>
ComPtr<T> MakeComObject(TArgs&&... args)
{
    return Adopt(new T(std::forward<TArgs>(args)...));
}

// Reference counting and QueryInterface for a class implementing the listed interfaces.
// The first interface answers IUnknown. A derived class may answer further identifiers (an
// event interface known only at run time) through QueryOtherInterface.
template <class... TInterfaces>
class CComObject : public TInterfaces... {
public:
    CComObject() = default;
    CComObject(const CComObject&) = delete;
    CComObject& operator=(const CComObject&) = delete;
    virtual ~CComObject() = default;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown))
            *ppv = static_cast<IUnknown*>(static_cast<First<TInterfaces...>*>(this));
        else
            (void)((TryInterface<TInterfaces>(riid, ppv)) || ...);
        if (!*ppv)
            *ppv = QueryOtherInterface(riid);
        if (!*ppv)
            return E_NOINTERFACE;
        static_cast<IUnknown*>(*ppv)->AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_nRef; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG nRef = --m_nRef;
        if (nRef == 0)
            delete this;
        return nRef;
    }

protected:
    virtual void* QueryOtherInterface(REFIID) { return nullptr; }

private:
    template <class T, class...>
    struct FirstOf {
        using Type = T;
    };
    template <class... T>
    using First = typename FirstOf<T...>::Type;

    template <class I>
    bool TryInterface(REFIID riid, void** ppv)
    {
        if (!IsEqualIID(riid, __uuidof(I)))
            return false;
        *ppv = static_cast<I*>(this);
        return true;
    }

    std::atomic<ULONG> m_nRef{1};
};

// Text conversion between UTF-16 and UTF-8.
std::string ToUtf8(const std::wstring& str);
std::wstring FromUtf8(const std::string& str);

// The system's message for an HRESULT ("0x80070002 The system cannot find the file
// specified."), for error reports.
std::wstring DescribeHResult(HRESULT hr);

// Reads a VARIANT argument as text or as a number; false when it cannot be converted.
bool VariantToText(const VARIANT& var, std::wstring& strOut);
bool VariantToInt(const VARIANT& var, LONG& nOut);

}  // namespace Host
