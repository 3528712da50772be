// The register record as a table: each chip register, the value last written this session (or
// "default" / "unknown") and when.
#pragma once

#include <QWidget>

#include "panel/register_record.h"

class QTableWidget;
class QTimer;

namespace panel::qt {

class RegistersWindow : public QWidget {
public:
    explicit RegistersWindow(const RegisterRecord& record, QWidget* parent = nullptr);
    void Refresh();
    QTableWidget* Table() const { return table_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    const RegisterRecord& record_;
    QTableWidget* table_;
    QTimer* timer_;
};

}  // namespace panel::qt
