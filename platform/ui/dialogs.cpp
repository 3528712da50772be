// Dialog templates as Qt dialogs: each item placed by its dialog units in the template's font.
#include "platform/ui/dialogs.h"

#include <QBuffer>
#include <QDialog>
#include <QImageReader>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <optional>

#include "platform/ui/application_scope.h"
#include "platform/ui/dialog_units.h"

namespace ui {
namespace {

// Window and control styles as the templates store them.
constexpr std::uint32_t kWsVisible = 0x10000000;
constexpr std::uint32_t kWsDisabled = 0x08000000;
constexpr std::uint32_t kWsTabStop = 0x00010000;
constexpr std::uint32_t kWsCaption = 0x00C00000;
constexpr std::uint32_t kWsSysMenu = 0x00080000;
constexpr std::uint32_t kSsTypeMask = 0x1F;
constexpr std::uint32_t kSsCenter = 0x1;
constexpr std::uint32_t kSsRight = 0x2;
constexpr std::uint32_t kSsLeftNoWordWrap = 0xC;
constexpr std::uint32_t kSsNoPrefix = 0x80;
constexpr std::uint32_t kBsTypeMask = 0xF;
constexpr std::uint32_t kBsDefPushButton = 0x1;
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;

// A static text shows "&&" as "&" and drops a single "&" (it marks an access key).
QString StaticText(const std::string& text, std::uint32_t style) {
    const QString raw = QString::fromStdString(text);
    if (style & kSsNoPrefix) return raw;
    QString shown;
    shown.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] == QLatin1Char('&') && i + 1 < raw.size())
            ++i;
        else if (raw[i] == QLatin1Char('&'))
            continue;
        shown.append(raw[i]);
    }
    return shown;
}

// The image of an .ico closest to 32 x 32 (the size an icon control shows); null when none.
QPixmap IconPixmap(const std::string& bytes) {
    QByteArray data(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    if (!buffer.open(QIODevice::ReadOnly)) return {};
    QImageReader reader(&buffer, "ico");
    QImage best;
    do {
        QImage image = reader.read();
        if (image.isNull()) break;
        const auto distance = [](const QImage& i) { return std::abs(i.width() - 32); };
        if (best.isNull() || distance(image) < distance(best) ||
            (distance(image) == distance(best) && image.depth() > best.depth())) {
            best = image;
        }
    } while (reader.jumpToNextImage());
    return best.isNull() ? QPixmap() : QPixmap::fromImage(best);
}

// Creates the template's items as children of `host` in template order (which is also the tab
// order). `command` receives the id of a pressed push button. Returns the client size.
QSize BuildItems(QWidget* host, const DialogTemplate& dialog, const IconLookup& icons,
                 const std::function<void(int)>& command) {
    const QFont font = DialogFont(dialog.fontName, dialog.pointSize);
    host->setFont(font);
    const DialogBaseUnits units = BaseUnitsOf(font);
    for (const DialogItem& item : dialog.items) {
        const QRect rect = MapDialogRect(units, item.x, item.y, item.cx, item.cy);
        QWidget* widget = nullptr;
        switch (item.kind) {
            case DialogItem::Kind::Static: {
                auto* label = new QLabel(StaticText(item.text, item.style), host);
                label->setTextFormat(Qt::PlainText);
                const std::uint32_t type = item.style & kSsTypeMask;
                Qt::Alignment align = Qt::AlignLeft;
                if (type == kSsCenter) align = Qt::AlignHCenter;
                if (type == kSsRight) align = Qt::AlignRight;
                label->setAlignment(align | Qt::AlignTop);
                label->setWordWrap(type != kSsLeftNoWordWrap);
                label->setGeometry(rect);
                widget = label;
                break;
            }
            case DialogItem::Kind::Icon: {
                auto* label = new QLabel(host);
                bool numeric = false;
                const int iconId = QString::fromStdString(item.text).toInt(&numeric);
                const QPixmap pixmap = numeric && icons ? IconPixmap(icons(iconId)) : QPixmap();
                // An icon control takes the size of its icon, as on the window system.
                if (!pixmap.isNull()) {
                    label->setPixmap(pixmap);
                    label->setGeometry(QRect(rect.topLeft(), pixmap.size()));
                } else {
                    label->setGeometry(rect);
                }
                widget = label;
                break;
            }
            case DialogItem::Kind::Button: {
                auto* button = new QPushButton(QString::fromStdString(item.text), host);
                button->setGeometry(rect);
                button->setAutoDefault(false);
                if ((item.style & kBsTypeMask) == kBsDefPushButton) button->setDefault(true);
                button->setFocusPolicy((item.style & kWsTabStop) ? Qt::StrongFocus
                                                                 : Qt::ClickFocus);
                const int id = item.id;
                QObject::connect(button, &QPushButton::clicked, host, [command, id] {
                    if (command) command(id);
                });
                widget = button;
                break;
            }
        }
        widget->setObjectName(QStringLiteral("item%1").arg(item.id));
        widget->setEnabled(!(item.style & kWsDisabled));
        widget->setVisible(item.style & kWsVisible);
    }
    return MapDialogRect(units, 0, 0, dialog.cx, dialog.cy).size();
}

}  // namespace

int RunModalDialog(const DialogTemplate& dialog, const IconLookup& icons) {
    if (!ModalWindowsShown()) return -1;
    ApplicationScope app;
    if (!app.ok()) return -1;
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::MSWindowsFixedSizeDialogHint;
    if (dialog.style & kWsCaption) flags |= Qt::WindowTitleHint;
    if (dialog.style & kWsSysMenu) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    QDialog window(nullptr, flags);
    window.setWindowTitle(QString::fromStdString(dialog.caption));
    std::optional<int> endedWith;
    // Only OK and Cancel end a dialog that has no handlers of its own.
    const QSize client = BuildItems(&window, dialog, icons, [&](int id) {
        if (id == kIdOk || id == kIdCancel) {
            endedWith = id;
            window.done(id == kIdOk ? QDialog::Accepted : QDialog::Rejected);
        }
    });
    window.setFixedSize(client);
    const DialogBaseUnits units = BaseUnitsOf(window.font());
    window.move(MapDialogRect(units, dialog.x, dialog.y, 0, 0).topLeft());
    ScheduleShownHook(&window);
    window.exec();
    // Escape and the close box reject the dialog without a button: that is Cancel.
    return endedWith.value_or(kIdCancel);
}

QWidget* CreateChildDialog(QWidget* parent, const DialogTemplate& dialog, const IconLookup& icons) {
    if (parent == nullptr) return nullptr;
    auto* page = new QWidget(parent);
    page->setFixedSize(BuildItems(page, dialog, icons, {}));
    page->hide();
    return page;
}

bool DialogSizeInPixels(const DialogTemplate& dialog, int* width, int* height) {
    ApplicationScope app;
    if (!app.ok()) return false;
    const DialogBaseUnits units = BaseUnitsOf(DialogFont(dialog.fontName, dialog.pointSize));
    const QSize size = MapDialogRect(units, 0, 0, dialog.cx, dialog.cy).size();
    *width = size.width();
    *height = size.height();
    return true;
}

}  // namespace ui
