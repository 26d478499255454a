#include "app/error_report.hpp"

#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>

namespace umbrascope {

QString report_text(const PassError& error)
{
    return QStringLiteral("%1 error: %2%3")
        .arg(QString::fromUtf8(kind_name(error.kind()).data(), static_cast<qsizetype>(kind_name(error.kind()).size())),
             QString::fromUtf8(error.what()), QString::fromStdString(advice_for(error)));
}

QString window_text(const QString& report)
{
    QString text = report;
    text.replace(QStringLiteral(" (run with --large for bigger inputs)"),
                 QStringLiteral(" (for bigger inputs, right-click the window and choose Large inputs)"));
    return text;
}

ErrorReport::ErrorReport(QWidget* parent)
    : QWidget(parent, Qt::Tool), entries_(new QListWidget(this)),
      large_button_(new QPushButton(tr("Turn on Large inputs and start again"), this))
{
    setObjectName(QStringLiteral("ErrorReport"));
    setWindowTitle(QStringLiteral("Umbrascope errors"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    entries_->setObjectName(QStringLiteral("ErrorEntries"));
    entries_->setFocusPolicy(Qt::NoFocus);
    entries_->setWordWrap(true);
    large_button_->setObjectName(QStringLiteral("LargeInputs"));
    large_button_->setFocusPolicy(Qt::NoFocus);
    large_button_->hide();
    connect(large_button_, &QPushButton::clicked, this, [this] {
        large_button_->hide();
        emit largeInputsWanted();
    });
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(4, 4, 4, 4);
    column->addWidget(entries_);
    column->addWidget(large_button_, 0, Qt::AlignRight);
    resize(560, 180);
}

void ErrorReport::place_beside_parent()
{
    const QWidget* window = parentWidget();
    if (window == nullptr || window->screen() == nullptr)
        return;
    // Below the main window when the screen has room, so that it covers none of its controls.
    const QRect screen = window->screen()->availableGeometry();
    const QRect main = window->frameGeometry();
    QPoint corner(main.left(), main.bottom() + 1);
    if (corner.y() + height() > screen.bottom())
        corner = QPoint(main.left(), std::max(screen.top(), main.bottom() - height()));
    move(corner);
}

void ErrorReport::report(const PassError& error, bool large)
{
    QString text = report_text(error);
    if (rewrite_)
        text = QString::fromStdString(rewrite_(text.toStdString()));
    std::fprintf(stderr, "umbrascope: %s\n", text.toUtf8().constData());
    std::fflush(stderr);
    add(window_text(text), false);
    large_button_->setVisible(!large && error.kind() == ErrorKind::bounds);
    setWindowTitle(QStringLiteral("Umbrascope errors"));
}

void ErrorReport::warn(const QString& text)
{
    std::fprintf(stderr, "umbrascope: warning: %s\n", text.toUtf8().constData());
    std::fflush(stderr);
    add(tr("warning: %1").arg(text), true);
}

void ErrorReport::add(const QString& text, bool warning)
{
    if (entries_->count() > 0 && text == last_) {
        ++repeats_;
        entries_->item(entries_->count() - 1)->setText(QStringLiteral("%1  (\u00d7%2)").arg(text).arg(repeats_));
    } else {
        last_ = text;
        repeats_ = 1;
        auto* item = new QListWidgetItem(text, entries_);
        item->setData(Qt::UserRole, warning);
        if (warning)
            item->setForeground(QColor(150, 90, 0));
    }
    entries_->scrollToBottom();
    if (!isVisible()) {
        place_beside_parent();
        show();
    }
}

void ErrorReport::pass_succeeded()
{
    bool greyed = false;
    for (int i = 0; i < entries_->count(); ++i) {
        QListWidgetItem* item = entries_->item(i);
        if (!item->data(Qt::UserRole).toBool() && item->foreground().color() != QColor(Qt::gray)) {
            item->setForeground(QColor(Qt::gray));
            greyed = true;
        }
    }
    if (greyed) {
        last_.clear();
        large_button_->hide();
        setWindowTitle(QStringLiteral("Umbrascope errors \u2014 the last pass went well"));
    }
}

}  // namespace umbrascope
