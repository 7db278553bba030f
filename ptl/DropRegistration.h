// One OLE drop-target registration on one window, revoked when the owner says so or goes. It
// revokes only what it registered itself, so a flag changed in between cannot leave a
// registration behind or take away someone else's.
#pragma once
#include <windows.h>
#include <ole2.h>

namespace PTL
{
class CDropRegistration
{
public:
    CDropRegistration() = default;
    ~CDropRegistration() { Revoke(); }
    CDropRegistration(const CDropRegistration&) = delete;
    CDropRegistration& operator=(const CDropRegistration&) = delete;

    // Registers pTarget on hWnd. With bReplace, a target that some other code registered there
    // is revoked first (it is not restored later).
    bool Register(HWND hWnd, IDropTarget* pTarget, bool bReplace)
    {
        Revoke();
        if (!hWnd || !pTarget)
            return false;
        if (bReplace)
            RevokeDragDrop(hWnd);
        if (FAILED(RegisterDragDrop(hWnd, pTarget)))
            return false;
        m_hWnd = hWnd;
        return true;
    }

    void Revoke()
    {
        if (!m_hWnd)
            return;
        if (IsWindow(m_hWnd))
            RevokeDragDrop(m_hWnd);
        m_hWnd = nullptr;
    }

    HWND Window() const { return m_hWnd; }

private:
    HWND m_hWnd = nullptr;
};
}  // namespace PTL
