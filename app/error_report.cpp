#include "app/error_report.hpp"

#include <QListWidget>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>

namespace umbrascope {

QString report_text(const PassError& error)
{
    return QStringLiteral("%1 error: %2")
        .arg(QString::fromUtf8(kind_name(error.kind()).data(), static_cast<qsizetype>(kind_name(error.kind()).size())),
             QString::fromUtf8(error.what()));
}

ErrorReport::ErrorReport(QWidget* parent) : QWidget(parent, Qt::Tool), entries_(new QListWidget(this))
{
    setObjectName(QStringLiteral("ErrorReport"));
    setWindowTitle(QStringLiteral("Umbrascope errors"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    entries_->setObjectName(QStringLiteral("ErrorEntries"));
    entries_->setFocusPolicy(Qt::NoFocus);
    entries_->setWordWrap(true);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(4, 4, 4, 4);
    column->addWidget(entries_);
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

void ErrorReport::report(const PassError& error)
{
    const QString text = report_text(error);
    std::fprintf(stderr, "umbrascope: %s\n", text.toUtf8().constData());
    std::fflush(stderr);
    if (entries_->count() > 0 && text == last_) {
        ++repeats_;
        entries_->item(entries_->count() - 1)->setText(QStringLiteral("%1  (\u00d7%2)").arg(text).arg(repeats_));
    } else {
        last_ = text;
        repeats_ = 1;
        entries_->addItem(text);
    }
    entries_->scrollToBottom();
    if (!isVisible()) {
        place_beside_parent();
        show();
    }
}

}  // namespace umbrascope
