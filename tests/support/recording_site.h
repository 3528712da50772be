// A container's site that writes down every call a control makes on it, in order, its frame and
// document window (which write into the site's list, so that the order across them shows), and an
// advise sink that does the same: what the container tests play the control against. Header only.
#pragma once

#include <string>
#include <vector>

#include "platform/com/ocidl.h"
#include "platform/com/oleidl.h"

namespace test_support {

// The container's frame window or document window (a frame is both); each call goes into `calls`
// as "NAME CALL", SetActiveObject with "object" or "null".
class RecordingUIWindow final : public IOleInPlaceFrame {
public:
    RecordingUIWindow(const char* name, std::vector<std::string>* calls)
        : name_(name), calls_(calls) {}
    ULONG refs = 1;  // the test's own
    // The active object as last set (a reference of its own while it is set).
    IOleInPlaceActiveObject* active = nullptr;

    ~RecordingUIWindow() {
        if (active) active->Release();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IOleWindow || riid == IID_IOleInPlaceUIWindow ||
            riid == IID_IOleInPlaceFrame)
            *ppv = static_cast<IOleInPlaceFrame*>(this);
        if (!*ppv) return E_NOINTERFACE;
        ++refs;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }

    HRESULT STDMETHODCALLTYPE GetWindow(HWND* phwnd) override {
        *phwnd = nullptr;
        return Note("GetWindow", E_FAIL);
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override {
        return Note("ContextSensitiveHelp", E_NOTIMPL);
    }
    HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return Note("GetBorder", E_NOTIMPL); }
    HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCRECT) override {
        return Note("RequestBorderSpace", E_NOTIMPL);
    }
    HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCRECT) override {
        return Note("SetBorderSpace", E_NOTIMPL);
    }
    HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject* pActiveObject,
                                              LPCOLESTR) override {
        if (pActiveObject) pActiveObject->AddRef();
        if (active) active->Release();
        active = pActiveObject;
        return Note(pActiveObject ? "SetActiveObject object" : "SetActiveObject null");
    }
    HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override {
        return Note("InsertMenus", E_NOTIMPL);
    }
    HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return Note("SetMenu"); }
    HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return Note("RemoveMenus"); }
    HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return Note("SetStatusText"); }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return Note("EnableModeless"); }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override {
        return Note("TranslateAccelerator", S_FALSE);
    }

private:
    HRESULT Note(const char* call, HRESULT hr = S_OK) {
        calls_->push_back(name_ + " " + call);
        return hr;
    }
    std::string name_;
    std::vector<std::string>* calls_;
};

class RecordingSite final : public IOleClientSite, public IOleInPlaceSite {
public:
    // What the site answers: the window it names (with the control's place in it), whether it
    // offers in-place activation at all, and CanInPlaceActivate's answer.
    HWND window = nullptr;
    RECT position{0, 0, 0, 0};
    bool inPlace = true;
    HRESULT canActivate = S_OK;
    std::vector<std::string> calls;
    ULONG refs = 1;  // the test's own
    // What GetWindowContext hands out: the frame and the document window (null: none), which
    // write into `calls` too.
    RecordingUIWindow frame{"frame", &calls};
    RecordingUIWindow document{"document", &calls};
    bool offersFrame = false;
    bool offersDocument = false;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IOleClientSite) {
            *ppv = static_cast<IOleClientSite*>(this);
        } else if (riid == IID_IOleInPlaceSite || riid == IID_IOleWindow) {
            calls.push_back("QueryInterface IOleInPlaceSite");
            if (inPlace) *ppv = static_cast<IOleInPlaceSite*>(this);
        } else if (riid == IID_IOleControlSite) {
            calls.push_back("QueryInterface IOleControlSite");
        }
        if (!*ppv) return E_NOINTERFACE;
        ++refs;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }

    HRESULT STDMETHODCALLTYPE SaveObject() override { return Note("SaveObject"); }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** ppmk) override {
        *ppmk = nullptr;
        return Note("GetMoniker", E_NOTIMPL);
    }
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** ppContainer) override {
        *ppContainer = nullptr;
        return Note("GetContainer", E_NOINTERFACE);
    }
    HRESULT STDMETHODCALLTYPE ShowObject() override { return Note("ShowObject"); }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return Note("OnShowWindow"); }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override {
        return Note("RequestNewObjectLayout", E_NOTIMPL);
    }

    HRESULT STDMETHODCALLTYPE GetWindow(HWND* phwnd) override {
        *phwnd = window;
        return Note("GetWindow", window ? S_OK : E_FAIL);
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override {
        return Note("ContextSensitiveHelp", E_NOTIMPL);
    }
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override {
        return Note("CanInPlaceActivate", canActivate);
    }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { return Note("OnInPlaceActivate"); }
    HRESULT STDMETHODCALLTYPE OnUIActivate() override { return Note("OnUIActivate"); }
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** ppFrame,
                                               IOleInPlaceUIWindow** ppDoc, LPRECT lprcPosRect,
                                               LPRECT lprcClipRect,
                                               LPOLEINPLACEFRAMEINFO lpFrameInfo) override {
        *ppFrame = nullptr;
        *ppDoc = nullptr;
        if (offersFrame) {
            frame.AddRef();
            *ppFrame = &frame;
        }
        if (offersDocument) {
            document.AddRef();
            *ppDoc = &document;
        }
        *lprcPosRect = position;
        *lprcClipRect = position;
        frameInfoSize = lpFrameInfo->cb;
        return Note("GetWindowContext");
    }
    HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return Note("Scroll", E_NOTIMPL); }
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return Note("OnUIDeactivate"); }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override { return Note("OnInPlaceDeactivate"); }
    HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return Note("DiscardUndoState"); }
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return Note("DeactivateAndUndo"); }
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override { return Note("OnPosRectChange"); }

    // The frame information's cb as the control set it before GetWindowContext.
    UINT frameInfoSize = 0;

    // The calls since the last TakeCalls.
    std::vector<std::string> TakeCalls() {
        std::vector<std::string> taken;
        taken.swap(calls);
        return taken;
    }

private:
    HRESULT Note(const char* call, HRESULT hr = S_OK) {
        calls.push_back(call);
        return hr;
    }
};

class RecordingAdviseSink final : public IAdviseSinkEx {
public:
    std::vector<std::string> calls;
    ULONG refs = 1;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IAdviseSink && riid != IID_IAdviseSinkEx)
            return E_NOINTERFACE;
        *ppv = static_cast<IAdviseSinkEx*>(this);
        ++refs;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    void STDMETHODCALLTYPE OnDataChange(FORMATETC*, STGMEDIUM*) override {
        calls.push_back("OnDataChange");
    }
    void STDMETHODCALLTYPE OnViewChange(DWORD aspect, LONG lindex) override {
        calls.push_back("OnViewChange " + std::to_string(aspect) + " " + std::to_string(lindex));
    }
    void STDMETHODCALLTYPE OnRename(IMoniker*) override { calls.push_back("OnRename"); }
    void STDMETHODCALLTYPE OnSave() override { calls.push_back("OnSave"); }
    void STDMETHODCALLTYPE OnClose() override { calls.push_back("OnClose"); }
    void STDMETHODCALLTYPE OnViewStatusChange(DWORD status) override {
        calls.push_back("OnViewStatusChange " + std::to_string(status));
    }
};

}  // namespace test_support
