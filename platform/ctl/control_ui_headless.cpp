// The control UI of a build without the GUI: no dialog shows, no picture decodes, nothing draws.
#include "platform/ctl/control_ui.h"

namespace ctl {
namespace {

class HeadlessControlUi : public ControlUi {
public:
    bool HaveDialogs() const override { return false; }
    int RunModalDialog(const DialogTemplate&, const ui::IconLookup&) override { return -1; }
    bool RunPropertyFrame(const std::string&, const std::vector<ui::PropertyPageView>&,
                          const std::function<void()>&, bool* shown) override {
        if (shown != nullptr) *shown = false;
        return false;
    }
    std::unique_ptr<Picture> DecodeBitmap(const std::string&) override { return nullptr; }
    HRESULT DrawOnRaster(LONG, LONG, DWORD*, const std::function<void(CDC*)>&) override {
        return E_NOTIMPL;
    }
};

}  // namespace

ControlUi& TheControlUi() {
    static HeadlessControlUi ui;
    return ui;
}

}  // namespace ctl
