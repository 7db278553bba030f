// A standard COM enumerator (IEnumConnections, IEnumConnectionPoints, ...) over a snapshot of
// items. The snapshot holds its own references; Next hands out new ones.
#pragma once
#include <ocidl.h>
#include <olectl.h>
#include <vector>
#include "ptl/ComObject.h"

namespace PTL
{
// Copy policies: how an element is referenced and released.
struct CCopyConnectData
{
    static void AddRef(CONNECTDATA& d)
    {
        if (d.pUnk)
            d.pUnk->AddRef();
    }
    static void Release(CONNECTDATA& d)
    {
        if (d.pUnk)
            d.pUnk->Release();
    }
};

template <class I>
struct CCopyInterface
{
    static void AddRef(I*& p)
    {
        if (p)
            p->AddRef();
    }
    static void Release(I*& p)
    {
        if (p)
            p->Release();
    }
};

template <class IEnum, const IID* piid, class T, class Copy>
class CEnum : public IEnum, public CComObjectRoot
{
public:
    static const QITAB* InterfaceTable()
    {
        static const QITAB qit[] = {{piid, 0}, {nullptr, 0}};
        return qit;
    }

    explicit CEnum(std::vector<T> items, size_t nPos = 0) : m_items(std::move(items)), m_nPos(nPos)
    {
        for (T& item : m_items)
            Copy::AddRef(item);
    }
    ~CEnum() override
    {
        for (T& item : m_items)
            Copy::Release(item);
    }

    // Makes an enumerator over items (which it references itself).
    static HRESULT Create(const std::vector<T>& items, IEnum** ppEnum, size_t nPos = 0)
    {
        return CreateComObject<CEnum>(*piid, reinterpret_cast<void**>(ppEnum), items, nPos);
    }

    STDMETHODIMP Next(ULONG celt, T* rgelt, ULONG* pceltFetched) override
    {
        if (!rgelt || (celt > 1 && !pceltFetched))
            return E_POINTER;
        ULONG n = 0;
        while (n < celt && m_nPos < m_items.size())
        {
            rgelt[n] = m_items[m_nPos++];
            Copy::AddRef(rgelt[n]);
            ++n;
        }
        if (pceltFetched)
            *pceltFetched = n;
        return n == celt ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG celt) override
    {
        const size_t nLeft = m_items.size() - m_nPos;
        if (celt > nLeft)
        {
            m_nPos = m_items.size();
            return S_FALSE;
        }
        m_nPos += celt;
        return S_OK;
    }
    STDMETHODIMP Reset() override
    {
        m_nPos = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnum** ppEnum) override
    {
        if (!ppEnum)
            return E_POINTER;
        return Create(m_items, ppEnum, m_nPos);
    }

private:
    std::vector<T> m_items;
    size_t m_nPos;
};
}  // namespace PTL
