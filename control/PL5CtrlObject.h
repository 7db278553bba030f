// The control as COM creates it. Script and C++ clients reach every member of IPL5Ctrl through
// one guard (PTL::GuardedCall): the control outlives a method whose handlers let go of it, and an
// exception thrown inside (out of memory among them) becomes an HRESULT. The members themselves
// are CPL5Ctrl's.
#pragma once
#include "control/PL5Ctrl.h"
#include "ptl/GuardedCall.h"

class CPL5CtrlObject : public CPL5Ctrl
{
public:
// One row per member: name, (parameters), (arguments).
#define PL5_GUARDED(name, params, args)                                                                                \
    STDMETHODIMP name params override                                                                                  \
    {                                                                                                                  \
        return Guarded([&] { return CPL5Ctrl::name args; });                                                           \
    }
#define PL5_GUARDED_ACCESSORS(name, dispid, kind, ...)                                                                 \
    PL5_GUARDED(get_##name, (PL5Script::kind::Arg * a), (a))                                                           \
    PL5_GUARDED(put_##name, (PL5Script::kind::Arg a), (a))
    PL5_PROPERTIES(PL5_GUARDED_ACCESSORS, PL5_GUARDED_ACCESSORS)
#undef PL5_GUARDED_ACCESSORS
    PL5_GUARDED(get_GetCount, (LONG * a), (a))
    PL5_GUARDED(get_GetFileName, (LONG a, BSTR* b), (a, b))
    PL5_GUARDED(get_GetFileSize, (LONG a, LONG* b), (a, b))
    PL5_GUARDED(get_GetFileID, (LONG a, BSTR* b), (a, b))
    PL5_GUARDED(get_IsTempFile, (LONG a, VARIANT_BOOL* b), (a, b))
    PL5_GUARDED(get_SelectState, (LONG a, VARIANT_BOOL* b), (a, b))
    PL5_GUARDED(put_SelectState, (LONG a, VARIANT_BOOL b), (a, b))
    PL5_GUARDED(put_SetStatusWidth, (USHORT a, SHORT b), (a, b))
    PL5_GUARDED(AppendDragDrop, (VARIANT a, BSTR b), (a, b))
    PL5_GUARDED(ClearDragDrop, (), ())
    PL5_GUARDED(AppendFilter, (VARIANT a, VARIANT b), (a, b))
    PL5_GUARDED(ClearFilter, (), ())
    PL5_GUARDED(AppendPostData, (VARIANT a, VARIANT b), (a, b))
    PL5_GUARDED(ClearPostData, (), ())
    PL5_GUARDED(OpenFile, (BSTR a), (a))
    PL5_GUARDED(AddFile, (BSTR a, BSTR b), (a, b))
    PL5_GUARDED(AddTempFile, (BSTR a, ULONG b, BSTR c), (a, b, c))
    PL5_GUARDED(SelectSingleFile, (BSTR a, BSTR b, VARIANT* c), (a, b, c))
    PL5_GUARDED(RemoveAllFiles, (), ())
    PL5_GUARDED(RemoveSelectedFiles, (), ())
    PL5_GUARDED(RemoveFromIndex, (UINT a), (a))
    PL5_GUARDED(MoveItem, (LONG a, LONG b), (a, b))
    PL5_GUARDED(StartUpload, (BSTR * a), (a))
    PL5_GUARDED(UploadCancel, (), ())
    PL5_GUARDED(ExcuteLocalFile, (BSTR a, VARIANT_BOOL* b), (a, b))
    PL5_GUARDED(get_IDVAL, (ULONG * a), (a))
#undef PL5_GUARDED

private:
    template <class F>
    HRESULT Guarded(F&& body)
    {
        return PTL::GuardedCall(static_cast<IPL5Ctrl*>(this), body);
    }
};
