#include "platform/ctl/dialogs.h"

#include "platform/ctl/control_ui.h"

ui::IconLookup AfxModuleIcons(HINSTANCE instance) {
    return [instance](int iconId) {
        std::string bytes;
        if (iconId < 0 || iconId > 0xFFFF ||
            !AfxLoadResource(instance, ResourceType::Icon, static_cast<std::uint16_t>(iconId),
                             &bytes))
            bytes.clear();
        return bytes;
    };
}

int AfxDoModalDialog(HINSTANCE instance, std::uint16_t id) {
    std::string bytes;
    DialogTemplate dialog;
    if (!AfxLoadResource(instance, ResourceType::Dialog, id, &bytes) ||
        !ParseDialogTemplate(bytes, &dialog))
        return -1;
    return ctl::TheControlUi().RunModalDialog(dialog, AfxModuleIcons(instance));
}

bool AfxRunPropertyFrame(const std::string& objectName,
                         const std::vector<ui::PropertyPageView>& pages,
                         const std::function<void()>& onApply, bool* shown) {
    return ctl::TheControlUi().RunPropertyFrame(objectName, pages, onApply, shown);
}

bool AfxHaveDialogs() { return ctl::TheControlUi().HaveDialogs(); }
