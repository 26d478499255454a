#pragma once
// The one report of a failed pass: a line on standard error and an entry in a small non-modal
// "Umbrascope errors" window that shows itself without taking the keyboard focus. Consecutive
// identical reports are shown once with a repeat count. Nothing here blocks or runs an event loop.

#include <QWidget>

#include "core/errors.hpp"

class QListWidget;

namespace umbrascope {

class ErrorReport : public QWidget {
    Q_OBJECT

public:
    explicit ErrorReport(QWidget* parent = nullptr);

    void report(const PassError& error);

    [[nodiscard]] QListWidget* entries() const { return entries_; }

private:
    void place_beside_parent();

    QListWidget* entries_;
    QString last_;
    int repeats_ = 0;
};

[[nodiscard]] QString report_text(const PassError& error);

}  // namespace umbrascope
