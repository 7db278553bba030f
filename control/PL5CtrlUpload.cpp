// The control's upload methods: the extra form fields, starting and cancelling an upload.
#include "control/PL5Ctrl.h"
#include "control/ScriptValues.h"

using namespace PL5Script;

// Not built yet: accepted, no effect.
STDMETHODIMP CPL5Ctrl::AppendPostData(VARIANT, VARIANT) { return S_OK; }
STDMETHODIMP CPL5Ctrl::ClearPostData() { return S_OK; }
STDMETHODIMP CPL5Ctrl::StartUpload(BSTR* pVal) { return GetText(std::wstring(), pVal); }
STDMETHODIMP CPL5Ctrl::UploadCancel() { return S_OK; }
