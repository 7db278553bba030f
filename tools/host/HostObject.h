// The "host" object of page script: what test pages and demos need from the host itself.
//   host.Print(a, ...)            print the arguments, separated by spaces, as one line
//   host.Fail(message)            print "FAIL: message" on stderr and end the page with code 1
//   host.Exit([code])             end the page with the code (default 0)
//   host.Wait(ms)                 wait while pumping messages (events keep arriving)
//   host.Path(relative)           the Windows path of a file under the page's folder
//   host.Arch                     "x64" or "x86"
//   host.SetDialogPolicy(step, ...)   how every dialog is answered (default "escape")
//   host.QueueDialogAnswer(step, ...) a one-time answer for the next dialog
//   host.Dialogs                  the dialogs seen so far: list of records with Caption, Text,
//                                 Buttons, Controls (Id, Class, Text, Texts, Visible), Answer, Open
//   host.WaitForDialogs(n, ms)    wait (pumping) until n dialogs were seen; true if they were
//   host.WaitForPaint(ms)         wait (pumping) until a window of the page's thread has handled a
//                                 WM_PAINT after the call; true if one has
//   host.Run(command, ms)         run a program and serve the page until it ends; its exit code,
//                                 -1 (and the program ended) when it outlasts the time
//   host.ElementRect(id)          "left,top,right,bottom" of a page element in screen pixels
//   host.SaveScreenshot(path)     a PNG of the page window (path relative to the page's folder)
//   host.ColorBox(left, top, right, bottom, "#rrggbb")
//                                 where the page window shows that colour (each channel within 48)
//                                 in a rectangle of screen pixels: "left,top,right,bottom,count" of
//                                 the pixels found, "" for none
//   host.NavigatedTo              the last address the page was sent to ("" if none)
//   host.BrowserEventSinks        sinks connected to the browser's events now (controls connect one
//                                 each; any left connected when the page ends fail it, exit 8)
//   host.MoveTo(x, y), host.Click(x, y [, button [, modifiers]]), host.DoubleClick(x, y),
//   host.Keys("ctrl+a Delete"), host.Type(text)
//                                 real input through the X server, in screen pixels (button 1
//                                 left, 3 right; modifiers "shift", "ctrl", "shift+ctrl")
//   host.SetProperty(object, name, index..., value)
//                                 put an indexed property, which JScript cannot write itself
//                                 (obj.SelectState(0) = true is VBScript only)
//   host.AsBrowserMade(object [, site])
//                                 what a browser does to an object its page's script made: marks
//                                 it safe for untrusted callers and data (IObjectSafety) and, when
//                                 a site is given (the page's document), hands it that site
//                                 (IObjectWithSite)
#pragma once

#include "tools/host/DialogWatcher.h"
#include "tools/host/DispatchObjects.h"

#include <functional>
#include <vector>

namespace Host
{

// What the host object needs from the run of the page.
class IPageControl
{
public:
    virtual void Print(const std::wstring& strLine) = 0;
    virtual void PrintError(const std::wstring& strLine) = 0;
    virtual void End(int nExitCode) = 0;
    virtual bool Ending() const = 0;
    virtual std::wstring PageFolder() const = 0;
    virtual CDialogWatcher& Watcher() = 0;
    virtual bool ElementRect(const std::wstring& strId, RECT& rcScreen) = 0;
    virtual HRESULT SaveScreenshot(const std::wstring& strPath) = 0;
    // The pixels the page shows in a rectangle of screen pixels, 0x00RRGGBB, top row first.
    virtual HRESULT Capture(const RECT& rcScreen, std::vector<DWORD>& pixels) = 0;
    virtual std::wstring NavigatedTo() const = 0;
    virtual size_t BrowserEventSinks() const = 0;
    // Offers a message to the page's objects before it is dispatched; true when one took it.
    virtual bool PreTranslate(MSG& msg) = 0;

protected:
    ~IPageControl() = default;
};

class CHostObject : public CDispatchObject
{
public:
    explicit CHostObject(IPageControl& page) : m_page(page) {}
    void Detach() { m_bDetached = true; }

protected:
    DISPID FindMember(const std::wstring& strName) override;
    HRESULT InvokeMember(DISPID nId, WORD wFlags, const std::vector<const VARIANT*>& args, PTL::CComVariant& result,
                         EXCEPINFO* pExcepInfo) override;
    bool IsMethod(DISPID nId) const override;

private:
    HRESULT Stop(EXCEPINFO* pExcepInfo);
    // Pumps messages until done() or the time is up; bDone is what done() says then. Stops the
    // script when the page has ended meanwhile.
    HRESULT WaitUntil(DWORD nMilliseconds, const std::function<bool()>& done, bool& bDone, EXCEPINFO* pExcepInfo);
    HRESULT ReadSteps(const std::vector<const VARIANT*>& args, std::vector<CDialogStep>& steps, EXCEPINFO* pExcepInfo);
    PTL::CComPtr<IDispatch> DialogList();
    HRESULT SetProperty(const std::vector<const VARIANT*>& args, EXCEPINFO* pExcepInfo);
    HRESULT AsBrowserMade(const std::vector<const VARIANT*>& args, EXCEPINFO* pExcepInfo);
    std::wstring PagePath(const std::wstring& strPath) const;

    IPageControl& m_page;
    bool m_bDetached = false;
};

// The error script sees when the page has ended (by Exit, Fail or an error elsewhere): it stops
// the running script; the host does not report it.
constexpr HRESULT HOST_E_PAGE_ENDED = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0E01);

}  // namespace Host
