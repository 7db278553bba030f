// Connection points for outgoing dispinterfaces.
//
// A connection point keeps its sinks in slots: Unadvise empties a slot, a later Advise fills the
// first empty one, and the cookie names the slot (slot index + 1, since 0 is never a cookie).
// Events are delivered in slot order.
#pragma once
#include <vector>
#include "ptl/ComPtr.h"
#include "ptl/Enum.h"

namespace PTL
{
class CConnectionPoint : public IConnectionPoint
{
public:
    // The connection point lives inside its container and shares its reference count.
    CConnectionPoint(IConnectionPointContainer* pContainer, const IID& iidEvents)
        : m_pContainer(pContainer), m_iidEvents(iidEvents)
    {
    }
    CConnectionPoint(const CConnectionPoint&) = delete;
    CConnectionPoint& operator=(const CConnectionPoint&) = delete;
    virtual ~CConnectionPoint() = default;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return m_pContainer->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return m_pContainer->Release(); }

    STDMETHODIMP GetConnectionInterface(IID* pIID) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
    STDMETHODIMP Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
    STDMETHODIMP Unadvise(DWORD dwCookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** ppEnum) override;

    const IID& EventsIID() const { return m_iidEvents; }
    // Sinks connected now.
    size_t ConnectionCount() const;

    // Calls one event on the sinks in slot order (or only on the first connected sink), with
    // arguments already in dispatch order (last declared argument first). With pvbVeto, each
    // sink's result is asked for and a VT_BOOL result is copied into *pvbVeto (so the last
    // VT_BOOL wins); other results leave it alone. Returns the HRESULT of the last call, S_OK
    // when no sink is connected.
    HRESULT Invoke(DISPID dispid, VARIANT* pArgs, UINT nArgs, bool bFirstSinkOnly, VARIANT_BOOL* pvbVeto);

private:
    IConnectionPointContainer* m_pContainer;  // not owned: the container owns this object
    IID m_iidEvents;
    std::vector<CComPtr<IDispatch>> m_sinks;
};

// IConnectionPointContainer with exactly one connection point, for the events interface.
template <class T, const IID* piidEvents>
class IConnectionPointContainerImpl : public IConnectionPointContainer
{
public:
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override
    {
        if (!ppEnum)
            return E_POINTER;
        std::vector<IConnectionPoint*> points{&m_point};
        return CEnum<IEnumConnectionPoints, &IID_IEnumConnectionPoints, IConnectionPoint*,
                     CCopyInterface<IConnectionPoint>>::Create(points, ppEnum);
    }
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override
    {
        if (!ppCP)
            return E_POINTER;
        *ppCP = nullptr;
        if (riid != *piidEvents)
            return CONNECT_E_NOCONNECTION;
        *ppCP = &m_point;
        m_point.AddRef();
        return S_OK;
    }

    // The one connection point, for firing events.
    CConnectionPoint& EventPoint() { return m_point; }

private:
    CConnectionPoint m_point{this, *piidEvents};
};
}  // namespace PTL
