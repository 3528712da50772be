#include "panel/panel.h"

#include "panel/camera_link.h"
#include "panel/capture.h"
#include "panel/picture_files.h"
#include "panel/registers.h"
#include "panel/save_as.h"
#include "platform/base/files.h"
#include "platform/com/oleauto.h"

namespace panel {

struct Panel::Impl {
    Impl(IDispatch* p1, IDispatch* p2, UserInterface& ui)
        : pinbus1(p1), pinbus2(p2), ui(ui), link(p1, p2, ui) {}
    ComPtr<IDispatch> pinbus1;
    ComPtr<IDispatch> pinbus2;
    UserInterface& ui;
    CameraLink link;
    RegisterRecord record;
    KeptBoardRecord* kept = nullptr;
    PortArbiter port;
    PngEncoder* encoder = nullptr;
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

void Panel::Command1Click() {
    PortArbiter::Exclusive hold(impl_->port);
    SetRegister(state_, impl_->link, impl_->ui, &impl_->record);
    // The handshake is over: what reached the chip goes to the board's record now.
    if (impl_->kept) impl_->kept->Flush();
}

void Panel::CaptureClick() {
    PortArbiter::Exclusive hold(impl_->port);
    // The pictures and the record all land in the working folder: one flush of it makes the
    // three renames durable.
    base::FolderFlushGroup flush_folder_once;
    if (Capture(state_, impl_->link, impl_->ui)) {
        WriteCaptureRecord(state_, impl_->record, impl_->ui);
    }
}

void Panel::SaveAsClick() {
    PortArbiter::Exclusive hold(impl_->port);
    SaveAsWithRecord(state_, impl_->record, impl_->encoder, impl_->ui);
}

void Panel::Command2Click() {
    PortArbiter::Exclusive hold(impl_->port);
    DefaultSetting(state_, impl_->link, impl_->ui, &impl_->record);
    if (impl_->kept) impl_->kept->Flush();
}

const RegisterRecord& Panel::Registers() const { return impl_->record; }

void Panel::SetBoardRecord(KeptBoardRecord* kept, const std::string& writer) {
    impl_->kept = kept;
    impl_->record.Mirror(kept ? &kept->Record() : nullptr);
    if (kept) kept->Record().SetWriter(writer);
}

const RegisterRecord& Panel::BoardRegisters() const {
    return impl_->kept ? impl_->kept->Record() : impl_->record;
}

std::string Panel::BoardRecordPath() const { return impl_->kept ? impl_->kept->Path() : ""; }

PortArbiter& Panel::Port() { return impl_->port; }

IDispatch* Panel::Pinbus1() const { return impl_->pinbus1.Get(); }

IDispatch* Panel::Pinbus2() const { return impl_->pinbus2.Get(); }

void Panel::SetPngEncoder(PngEncoder* encoder) { impl_->encoder = encoder; }

void Panel::Apply(const Settings& settings) { ApplySettings(settings, state_); }

}  // namespace panel
