#include "panel/panel.h"

#include "panel/camera_link.h"
#include "panel/capture.h"
#include "panel/registers.h"
#include "panel/save_as.h"
#include "platform/com/oleauto.h"

namespace panel {

struct Panel::Impl {
    Impl(IDispatch* p1, IDispatch* p2, UserInterface& ui)
        : pinbus1(p1), pinbus2(p2), ui(ui), link(p1, p2, ui) {}
    ComPtr<IDispatch> pinbus1;
    ComPtr<IDispatch> pinbus2;
    UserInterface& ui;
    CameraLink link;
};

Panel::Panel(IDispatch* pinbus1, IDispatch* pinbus2, UserInterface& ui)
    : impl_(std::make_unique<Impl>(pinbus1, pinbus2, ui)) {}

Panel::~Panel() = default;

void Panel::FormLoad() {
    if (FAILED(impl_->link.SetupPortMode())) {
        ReportPortFailure(impl_->link, impl_->ui, kNoticeTitle);
    }
}

void Panel::TextClick(int n) { ClickField(state_, n); }

void Panel::SetText(int n, const std::string& text) {
    if (n >= 1 && n <= kFieldCount) state_.text[n] = text;
}

void Panel::OptionClick(int group, int item) { SelectOption(state_, group, item); }

void Panel::Command1Click() { SetRegister(state_, impl_->link, impl_->ui); }

void Panel::CaptureClick() { Capture(state_, impl_->link, impl_->ui); }

void Panel::SaveAsClick() { SaveAs(state_, impl_->ui); }

void Panel::Command2Click() { DefaultSetting(state_, impl_->link, impl_->ui); }

}  // namespace panel
