#pragma once
// The one report of a failed pass: a line on standard error and an entry in a small non-modal
// "Umbrascope errors" window that shows itself without taking the keyboard focus. Consecutive
// identical reports are shown once with a repeat count. Warnings go there too, marked as such,
// and a pass that goes well greys what came before. Nothing here blocks or runs an event loop.

#include <QWidget>
#include <functional>
#include <string>

#include "core/errors.hpp"

class QListWidget;
class QPushButton;

namespace umbrascope {

class ErrorReport : public QWidget {
    Q_OBJECT

public:
    explicit ErrorReport(QWidget* parent = nullptr);

    // `large` says whether the run takes large inputs already: a bounds error then offers them.
    void report(const PassError& error, bool large = true);
    void warn(const QString& text);
    void pass_succeeded();  // greys the errors so far: they are history now
    // What a pass's message is made before it is shown (a part of a longer sky's lines as the
    // folder's own files number them); none for the message as it is.
    void set_rewrite(std::function<std::string(std::string)> rewrite) { rewrite_ = std::move(rewrite); }

    [[nodiscard]] QListWidget* entries() const { return entries_; }
    [[nodiscard]] QPushButton* large_button() const { return large_button_; }

signals:
    void largeInputsWanted();

private:
    void place_beside_parent();
    void add(const QString& text, bool warning);

    QListWidget* entries_;
    QPushButton* large_button_;
    QString last_;
    int repeats_ = 0;
    std::function<std::string(std::string)> rewrite_;
};

[[nodiscard]] QString report_text(const PassError& error);

// In the window, the exporter's hint for bigger inputs becomes the menu entry that gives them.
[[nodiscard]] QString window_text(const QString& report);

}  // namespace umbrascope
