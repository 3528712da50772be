// What every control UI does alike: a module's own resources read from its resource table and
// shown through the UI's calls for templates and bitmaps.
#include "platform/ctl/control_ui.h"

namespace ctl {
namespace {

// A decoded bitmap: its pictures share the decoded image.
class DecodedBitmap : public Bitmap {
public:
    explicit DecodedBitmap(std::shared_ptr<Picture> picture) : picture_(std::move(picture)) {}
    // A decoded image has a size; its planes and depth are the UI's own business.
    BITMAP Describe() const override {
        return BITMAP{0, picture_->Width(), picture_->Height(), 0, 1, 0, nullptr};
    }
    std::unique_ptr<Picture> CreatePicture() override {
        return std::make_unique<SharedPicture>(picture_);
    }

private:
    class SharedPicture : public Picture {
    public:
        explicit SharedPicture(std::shared_ptr<Picture> picture) : picture_(std::move(picture)) {}
        LONG Width() const override { return picture_->Width(); }
        LONG Height() const override { return picture_->Height(); }
        void Render(CDC* dc, const RECT& target, const RECT& wBounds) override {
            picture_->Render(dc, target, wBounds);
        }

    private:
        std::shared_ptr<Picture> picture_;
    };
    std::shared_ptr<Picture> picture_;
};

}  // namespace

}  // namespace ctl

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

namespace ctl {

bool LoadModuleDialogTemplate(HINSTANCE instance, std::uint16_t id, DialogTemplate* dialog) {
    std::string bytes;
    return AfxLoadResource(instance, ResourceType::Dialog, id, &bytes) &&
           ParseDialogTemplate(bytes, dialog);
}

int ControlUi::RunModuleDialog(HINSTANCE instance, std::uint16_t id) {
    DialogTemplate dialog;
    if (!LoadModuleDialogTemplate(instance, id, &dialog)) return -1;
    return RunModalDialog(dialog, AfxModuleIcons(instance));
}

HRESULT ControlUi::CreateModuleChildDialog(HWND parent, const RECT& rect, HINSTANCE instance,
                                           std::uint16_t id, std::unique_ptr<Window>* window) {
    DialogTemplate dialog;
    if (!LoadModuleDialogTemplate(instance, id, &dialog)) return E_FAIL;
    return CreateChildDialog(parent, rect, dialog, AfxModuleIcons(instance), window);
}

std::unique_ptr<Bitmap> ControlUi::LoadModuleBitmap(HINSTANCE instance, std::uint16_t id) {
    std::string bytes;
    if (!AfxLoadResource(instance, ResourceType::Bitmap, id, &bytes)) return nullptr;
    std::unique_ptr<Picture> picture = DecodeBitmap(bytes);
    if (!picture) return nullptr;
    return std::make_unique<DecodedBitmap>(std::move(picture));
}

}  // namespace ctl
