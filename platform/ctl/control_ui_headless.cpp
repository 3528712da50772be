// The control UI of a build without the GUI (and, for now, of the Wine build): no dialog or window
// shows, no picture decodes, nothing draws.
#include "platform/ctl/control_ui.h"

namespace ctl {
namespace {

class HeadlessControlUi : public ControlUi {
public:
    bool HaveDialogs() const override { return false; }
    int RunModalDialog(const DialogTemplate&, const ui::IconLookup&) override { return -1; }
    HRESULT CreateControlWindow(HWND, const RECT&, PaintHandler,
                                std::unique_ptr<Window>*) override {
        return E_NOTIMPL;
    }
    HRESULT CreateChildDialog(HWND, const RECT&, const DialogTemplate&, const ui::IconLookup&,
                              std::unique_ptr<Window>*) override {
        return E_NOTIMPL;
    }
    SIZE DialogSize(const DialogTemplate& dialog) override { return StandardDialogSize(dialog); }
    std::unique_ptr<Picture> DecodeBitmap(const std::string&) override { return nullptr; }
    HRESULT DrawOn(HDC, const std::function<void()>&) override { return E_NOTIMPL; }
};

}  // namespace

ControlUi& TheControlUi() {
    static HeadlessControlUi ui;
    return ui;
}

}  // namespace ctl
