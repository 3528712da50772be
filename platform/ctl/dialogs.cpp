#include "platform/ctl/dialogs.h"

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

#if CTL_HAVE_UI

int AfxDoModalDialog(HINSTANCE instance, std::uint16_t id) {
    std::string bytes;
    DialogTemplate dialog;
    if (!AfxLoadResource(instance, ResourceType::Dialog, id, &bytes) ||
        !ParseDialogTemplate(bytes, &dialog))
        return -1;
    return ui::RunModalDialog(dialog, AfxModuleIcons(instance));
}

bool AfxRunPropertyFrame(const std::string& objectName,
                         const std::vector<ui::PropertyPageView>& pages,
                         const std::function<void()>& onApply, bool* shown) {
    return ui::RunPropertyFrame(objectName, pages, onApply, shown);
}

bool AfxHaveDialogs() { return true; }

#else

int AfxDoModalDialog(HINSTANCE, std::uint16_t) { return -1; }

bool AfxRunPropertyFrame(const std::string&, const std::vector<ui::PropertyPageView>&,
                         const std::function<void()>&, bool* shown) {
    if (shown != nullptr) *shown = false;
    return false;
}

bool AfxHaveDialogs() { return false; }

#endif
