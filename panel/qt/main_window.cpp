#include "panel/qt/main_window.h"

#include <QFontDatabase>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <algorithm>

#include "panel/qt/app_icon.h"
#include "platform/ui/dialog_units.h"
#include "platform/ui/twips.h"

namespace panel::qt {
namespace {

QRect Twips(int left, int top, int width, int height) {
    return QRect(ui::TwipsToPixels(left), ui::TwipsToPixels(top), ui::TwipsToPixels(width),
                 ui::TwipsToPixels(height));
}

// Times New Roman where installed, else its metric twin Liberation Serif, else any serif.
QFont Serif(double points, bool bold) {
    QFont font;
    const QStringList installed = QFontDatabase::families();
    if (installed.contains(QStringLiteral("Times New Roman"))) {
        font.setFamily(QStringLiteral("Times New Roman"));
    } else if (installed.contains(QStringLiteral("Liberation Serif"))) {
        font.setFamily(QStringLiteral("Liberation Serif"));
    } else {
        font.setStyleHint(QFont::Serif);
        font.setFamily(QStringLiteral("serif"));
    }
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

enum class Face { Default, Heading, Bold975, Regular975, Title12 };

struct LabelSpec {
    const char* caption;
    int left, top, width, height;
    Face face;
};

// Label1 .. Label15.
constexpr LabelSpec kLabels[] = {
    {"Expo time (0-127) (AGC will turn off)", 120, 120, 1935, 495, Face::Heading},
    {"Gain Conrtol (0-7)", 120, 720, 1815, 255, Face::Heading},
    {"Frame rate divider (2-128 step 2)", 120, 1200, 1935, 495, Face::Heading},
    {"Gama Value", 120, 2040, 1215, 255, Face::Heading},
    {"Mirror image", 120, 2520, 1575, 255, Face::Heading},
    {"Mode", 120, 3120, 855, 255, Face::Heading},
    {"Backlight Compensation", 120, 3600, 1575, 495, Face::Bold975},
    {"127--1/50    sec             0--1/12800 sec", 3960, 120, 1695, 495, Face::Regular975},
    {"0 -- 0dB, 7---18dB (AGC must be off )", 3960, 720, 1695, 495, Face::Regular975},
    {"default frame rate :                      50 frame /sec", 3960, 1320, 1695, 375,
     Face::Default},
    {"Window Control", 120, 4320, 1695, 495, Face::Title12},
    {"Horizontal :", 480, 4680, 1215, 255, Face::Heading},
    {"Vertical     :", 480, 5040, 1215, 255, Face::Heading},
    {" Start block ", 2160, 4320, 855, 255, Face::Default},
    {" End block", 3600, 4320, 855, 255, Face::Default},
};

struct FieldSpec {
    int left, top, width, height;
    int label, hint;  // the labels that describe the field (0: none)
};

// Text1 .. Text8.
constexpr FieldSpec kFields[] = {
    {2280, 120, 1455, 375, 1, 8},   {2280, 720, 1455, 375, 2, 9},   {2280, 1320, 1455, 375, 3, 10},
    {2160, 4680, 855, 285, 12, 14}, {3600, 4680, 855, 285, 12, 15}, {2160, 5040, 855, 285, 13, 14},
    {3600, 5040, 855, 285, 13, 15}, {4680, 3960, 1215, 495, 0, 0},
};

struct GroupSpec {
    int top;
    const char* item0;
    int width0;
    const char* item1;
    int width1;
};

// Frame1 .. Frame4 with Option1 .. Option4.
constexpr GroupSpec kGroups[] = {
    {1800, "0.45", 975, "1.0", 975},
    {2400, "Enable", 855, "Disable", 855},
    {3000, "Indoor", 975, "Outdoor", 975},
    {3600, "On", 855, "Off", 735},
};

}  // namespace

MainWindow::MainWindow(Panel& panel, QWidget* parent) : QWidget(parent), panel_(panel) {
    Build();
    Refresh();
}

void MainWindow::Build() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("SX540 Control Panel"));
    setWindowIcon(LensbayIcon());
    setFixedSize(ui::TwipsToPixels(5910), ui::TwipsToPixels(5520));
    // Controls with no font of their own use the dialog font.
    setFont(ui::DialogFont("MS Sans Serif", 8));
    QPalette colours = palette();
    colours.setColor(QPalette::Window, QColor(255, 255, 128));
    setPalette(colours);
    setAutoFillBackground(true);

    std::array<QLabel*, 16> labels{};
    for (int i = 0; i < 15; ++i) {
        const LabelSpec& place = kLabels[i];
        auto* label = new QLabel(QString::fromLatin1(place.caption), this);
        label->setObjectName(QStringLiteral("Label%1").arg(i + 1));
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setGeometry(Twips(place.left, place.top, place.width, place.height));
        switch (place.face) {
            case Face::Default:
                break;
            case Face::Heading:
                label->setFont(Serif(11.25, true));
                break;
            case Face::Bold975:
                label->setFont(Serif(9.75, true));
                break;
            case Face::Regular975:
                label->setFont(Serif(9.75, false));
                break;
            case Face::Title12:
                label->setFont(Serif(12, true));
                break;
        }
        labels[i + 1] = label;
    }

    for (int n = 1; n <= kFieldCount; ++n) {
        const FieldSpec& place = kFields[n - 1];
        auto* field = new QLineEdit(this);
        field->setObjectName(QStringLiteral("Text%1").arg(n));
        field->setGeometry(Twips(place.left, place.top, place.width, place.height));
        if (place.label != 0) {
            field->setAccessibleName(labels[place.label]->text().simplified());
            field->setAccessibleDescription(labels[place.hint]->text().simplified());
        }
        // Typing (after moving in with Tab or a click) changes the text but marks nothing.
        connect(field, &QLineEdit::textEdited, this,
                [this, n](const QString& text) { panel_.SetText(n, text.toStdString()); });
        // Only a mouse click marks a field; Text8 has no click handling.
        if (n <= kMarkedFieldCount) field->installEventFilter(this);
        fields_[n] = field;
    }

    for (int g = 1; g <= kOptionGroupCount; ++g) {
        const GroupSpec& place = kGroups[g - 1];
        auto* box = new QGroupBox(this);
        box->setObjectName(QStringLiteral("Frame%1").arg(g));
        box->setGeometry(Twips(2160, place.top, 2295, 495));
        const char* captions[2] = {place.item0, place.item1};
        const int widths[2] = {place.width0, place.width1};
        for (int item = 0; item < 2; ++item) {
            auto* option = new QRadioButton(QString::fromLatin1(captions[item]), box);
            option->setObjectName(QStringLiteral("Option%1_%2").arg(g).arg(item));
            option->setGeometry(Twips(item == 0 ? 240 : 1200, 240, widths[item], 195));
            option->setAccessibleDescription(labels[4 + g - 1]->text());
            // A click (mouse or Space) is a selection even on the item already selected: right
            // after start-up, choosing "1.0" still sets mctl_act. Arrow keys select through
            // ArrowInGroup.
            connect(option, &QRadioButton::clicked, this,
                    [this, g, item] { Run([&] { panel_.OptionClick(g, item); }); });
            option->installEventFilter(this);
            options_[g][item] = option;
        }
    }

    struct ButtonSpec {
        const char* name;
        const char* caption;
        int top;
        void (*handler)(Panel&);
    };
    static constexpr ButtonSpec kButtons[] = {
        {"Command1", "&Set Register", 2160, [](Panel& p) { p.Command1Click(); }},
        {"Capture", "&Capture", 2760, [](Panel& p) { p.CaptureClick(); }},
        {"SaveAs", "Save &As", 3360, [](Panel& p) { p.SaveAsClick(); }},
        {"Command2", "&Default Setting", 4560, [](Panel& p) { p.Command2Click(); }},
    };
    std::array<QPushButton*, 4> buttons{};
    for (int i = 0; i < 4; ++i) {
        const ButtonSpec& place = kButtons[i];
        auto* button = new QPushButton(QString::fromLatin1(place.caption), this);
        button->setObjectName(QString::fromLatin1(place.name));
        button->setGeometry(Twips(4680, place.top, 1215, 495));
        button->setAutoDefault(false);
        const auto handler = place.handler;
        connect(button, &QPushButton::clicked, this,
                [this, handler] { Run([&] { handler(panel_); }); });
        buttons[i] = button;
    }

    // The tab order as laid down for this window.
    tabOrder_ = {
        fields_[1],     fields_[2],     fields_[3],     options_[1][0], options_[1][1],
        options_[2][0], options_[2][1], options_[3][0], options_[4][0], options_[4][1],
        buttons[0],     buttons[3],     options_[3][1], fields_[4],     fields_[5],
        fields_[6],     fields_[7],     buttons[1],     buttons[2],     fields_[8],
    };
    for (size_t i = 0; i + 1 < tabOrder_.size(); ++i) setTabOrder(tabOrder_[i], tabOrder_[i + 1]);
    fields_[1]->setFocus();
}

template <typename Handler>
void MainWindow::Run(Handler handler) {
    handler();
    Refresh();
}

void MainWindow::Refresh() {
    const FormState& state = panel_.State();
    for (int n = 1; n <= kFieldCount; ++n) {
        const QString text = QString::fromStdString(state.text[n]);
        if (fields_[n]->text() == text) continue;  // keep the caret where the user has it
        const QSignalBlocker block(fields_[n]);
        fields_[n]->setText(text);
    }
    for (int g = 1; g <= kOptionGroupCount; ++g) {
        const int selected = state.selected[g] == 0 ? 0 : 1;
        QRadioButton* option = options_[g][selected];
        if (option->isChecked()) continue;
        const QSignalBlocker block0(options_[g][0]);
        const QSignalBlocker block1(options_[g][1]);
        option->setChecked(true);
    }
}

bool MainWindow::focusNextPrevChild(bool next) {
    QWidget* focus = focusWidget();
    const auto at = std::find(tabOrder_.begin(), tabOrder_.end(), focus);
    if (at == tabOrder_.end()) return QWidget::focusNextPrevChild(next);
    const auto count = static_cast<std::ptrdiff_t>(tabOrder_.size());
    const std::ptrdiff_t from = at - tabOrder_.begin();
    // Pass over stops that cannot take the focus now; at most once round.
    for (std::ptrdiff_t step = 1; step < count; ++step) {
        QWidget* candidate = tabOrder_[((from + (next ? step : -step)) % count + count) % count];
        if (candidate->isEnabled() && candidate->isVisibleTo(this)) {
            candidate->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    }
    return true;
}

bool MainWindow::ArrowInGroup(QObject* watched, int key) {
    if (key != Qt::Key_Left && key != Qt::Key_Up && key != Qt::Key_Right && key != Qt::Key_Down)
        return false;
    for (int g = 1; g <= kOptionGroupCount; ++g) {
        for (int item = 0; item < 2; ++item) {
            if (watched != options_[g][item]) continue;
            // Two items: forwards and backwards (wrapping) both reach the other one.
            QRadioButton* other = options_[g][1 - item];
            other->setFocus(Qt::OtherFocusReason);
            if (!other->isChecked()) {
                other->setChecked(true);
                Run([&] { panel_.OptionClick(g, 1 - item); });
            }
            return true;
        }
    }
    return false;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() == Qt::NoModifier || key->modifiers() == Qt::KeypadModifier) {
            if (ArrowInGroup(watched, key->key())) return true;
        }
    }
    if (event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        for (int n = 1; n <= kMarkedFieldCount; ++n) {
            if (watched == fields_[n]) {
                Run([&] { panel_.TextClick(n); });
                break;
            }
        }
    }
    return QWidget::eventFilter(watched, event);  // the field still takes the press
}

}  // namespace panel::qt
