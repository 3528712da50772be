#include "panel/qt/registers_window.h"

#include <QBrush>
#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "panel/qt/app_icon.h"

namespace panel::qt {
namespace {

enum Column { kControl, kRegister, kRange, kDefault, kWritten, kWhen, kBy, kBoard, kColumns };

// "2026-05-01T10:00:00Z" as the local time of day, as a person at the bench reads a clock.
QString LocalTime(const std::string& iso) {
    if (iso.empty()) return {};
    const QDateTime t = QDateTime::fromString(QString::fromStdString(iso), Qt::ISODate);
    return t.isValid() ? t.toLocalTime().toString(QStringLiteral("HH:mm:ss")) : QString();
}

}  // namespace

RegistersWindow::RegistersWindow(std::function<ChipStatus()> status, QWidget* parent)
    : QWidget(parent), status_(std::move(status)) {
    setObjectName(QStringLiteral("RegistersWindow"));
    setWindowTitle(QStringLiteral("Lensbay Registers"));
    setWindowIcon(LensbayIcon());
    setAttribute(Qt::WA_QuitOnClose, false);
    note_ = new QLabel;
    note_->setWordWrap(true);
    note_->setObjectName(QStringLiteral("Note"));
    table_ = new QTableWidget(0, kColumns);
    table_->setHorizontalHeaderLabels({QStringLiteral("Control"), QStringLiteral("Register"),
                                       QStringLiteral("Range"), QStringLiteral("Default"),
                                       QStringLiteral("Last written"), QStringLiteral("At"),
                                       QStringLiteral("By"), QStringLiteral("Board holds")});
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionMode(QAbstractItemView::NoSelection);
    table_->horizontalHeader()->setStretchLastSection(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(note_);
    layout->addWidget(table_, 1);
    resize(860, 460);
    // The record changes under the main window's buttons; a light poll keeps the table current.
    timer_ = new QTimer(this);
    timer_->setInterval(300);
    connect(timer_, &QTimer::timeout, this, [this] { Refresh(); });
    Refresh();
    table_->resizeColumnsToContents();
}

void RegistersWindow::Refresh() {
    const ChipStatus s = status_ ? status_() : ChipStatus{};
    QString note = QStringLiteral(
        "The chip cannot be read back: \"Last written\" is what Lensbay's programs on this "
        "machine last wrote to it");
    note += s.record_path.empty()
                ? QStringLiteral(".")
                : QStringLiteral(" (kept in %1).").arg(QString::fromStdString(s.record_path));
    if (s.simulated && !s.switches.empty()) {
        note += QStringLiteral(
                    " \"Board holds\" is what the simulated board's chip holds; its "
                    "switches A[3:0] are at %1.")
                    .arg(QString::fromStdString(s.switches));
    }
    if (note_->text() != note) note_->setText(note);
    table_->setRowCount(static_cast<int>(s.controls.size()));
    for (int i = 0; i < static_cast<int>(s.controls.size()); ++i) {
        const ControlStatus& c = s.controls[static_cast<std::size_t>(i)];
        QString board = c.board ? QString::fromStdString(*c.board) : QString();
        if (c.differs) board += QStringLiteral(" (differs)");
        const QString texts[kColumns] = {
            QString::fromLatin1(c.name),
            QStringLiteral("%1 (%2)").arg(QString::fromLatin1(RegisterName(c.reg)),
                                          QString::fromLatin1(RegisterAddress(c.reg))),
            QString::fromStdString(c.range),
            QString::fromStdString(c.fallback),
            QString::fromStdString(WrittenText(s, c)),
            LocalTime(c.when),
            QString::fromStdString(c.by),
            board};
        for (int col = 0; col < kColumns; ++col) {
            QTableWidgetItem* item = table_->item(i, col);
            if (!item) {
                item = new QTableWidgetItem;
                table_->setItem(i, col, item);
            }
            if (item->text() != texts[col]) item->setText(texts[col]);
            // An unwritten control is greyed; a board that disagrees is shown in red.
            const bool unwritten = col == kWritten && c.state == RegisterRecord::Entry::kUnknown;
            const QBrush brush = (col == kBoard && c.differs) ? QBrush(Qt::red)
                                 : unwritten                  ? QBrush(Qt::gray)
                                                              : QBrush();
            if (item->foreground() != brush) item->setForeground(brush);
        }
    }
}

void RegistersWindow::showEvent(QShowEvent*) {
    Refresh();
    timer_->start();
}

void RegistersWindow::hideEvent(QHideEvent*) { timer_->stop(); }

}  // namespace panel::qt
