#include "panel/qt/registers_window.h"

#include <QDateTime>
#include <QHeaderView>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "panel/qt/app_icon.h"

namespace panel::qt {

RegistersWindow::RegistersWindow(const RegisterRecord& record, QWidget* parent)
    : QWidget(parent), record_(record) {
    setObjectName(QStringLiteral("RegistersWindow"));
    setWindowTitle(QStringLiteral("Lensbay Registers"));
    setWindowIcon(LensbayIcon());
    setAttribute(Qt::WA_QuitOnClose, false);
    table_ = new QTableWidget(kChipRegisterCount, 3);
    table_->setHorizontalHeaderLabels(
        {QStringLiteral("Register"), QStringLiteral("Value"), QStringLiteral("Written")});
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->horizontalHeader()->setStretchLastSection(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_);
    resize(360, 260);
    // The record changes under the main window's buttons; a light poll keeps the table current.
    timer_ = new QTimer(this);
    timer_->setInterval(300);
    connect(timer_, &QTimer::timeout, this, [this] { Refresh(); });
    Refresh();
}

void RegistersWindow::Refresh() {
    for (int i = 0; i < kChipRegisterCount; ++i) {
        const auto r = static_cast<ChipRegister>(i);
        const RegisterRecord::Entry& e = record_.Get(r);
        QString value = QString::fromStdString(record_.Text(r));
        if (e.state == RegisterRecord::Entry::kValue) {
            value += QStringLiteral(" (0x%1)").arg(e.value, 2, 16, QLatin1Char('0'));
        }
        QString when;
        if (e.state != RegisterRecord::Entry::kUnknown) {
            when = QDateTime::fromSecsSinceEpoch(RegisterRecord::Clock::to_time_t(e.when))
                       .toString(QStringLiteral("HH:mm:ss"));
        }
        const QString texts[3] = {QString::fromLatin1(RegisterName(r)), value, when};
        for (int c = 0; c < 3; ++c) {
            QTableWidgetItem* item = table_->item(i, c);
            if (!item) {
                item = new QTableWidgetItem;
                table_->setItem(i, c, item);
            }
            if (item->text() != texts[c]) item->setText(texts[c]);
        }
    }
}

void RegistersWindow::showEvent(QShowEvent*) {
    Refresh();
    timer_->start();
}

void RegistersWindow::hideEvent(QHideEvent*) { timer_->stop(); }

}  // namespace panel::qt
