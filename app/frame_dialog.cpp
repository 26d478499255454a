#include "app/frame_dialog.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

namespace umbrascope {

QString with_extension(const QString& path, const QString& chosen, const QStringList& extensions)
{
    for (const QString& extension : extensions)
        if (path.endsWith(extension, Qt::CaseInsensitive))
            return path;
    return path + chosen;
}

FrameDialog::FrameDialog(QWidget* parent, const QString& title, const QString& path, const QStringList& extensions,
                         const QStringList& descriptions, QSize window)
    : QDialog(parent), extensions_(extensions), descriptions_(descriptions), path_(new QLineEdit(path)),
      type_(new QComboBox), size_(new QComboBox), band_(new QCheckBox(tr("Time and legend band"))),
      names_(new QCheckBox(tr("Bus names, where they fit")))
{
    setWindowTitle(title);
    setObjectName(QStringLiteral("FrameDialog"));
    for (int i = 0; i < extensions.size(); ++i)
        type_->addItem(descriptions.value(i), extensions[i]);
    size_->addItem(tr("Classic, 459 \u00d7 451 (as the window)"), QSize());
    if (!window.isEmpty())
        size_->addItem(tr("The picture window's, %1 \u00d7 %2").arg(window.width()).arg(window.height()), window);
    for (const QSize video : {QSize(1280, 720), QSize(1920, 1080), QSize(3840, 2160)})
        size_->addItem(QStringLiteral("%1 \u00d7 %2").arg(video.width()).arg(video.height()), video);
    band_->setChecked(true);

    auto* browse = new QPushButton(tr("Browse\u2026"));
    connect(browse, &QPushButton::clicked, this, &FrameDialog::browse);
    // The type follows a typed extension.
    connect(path_, &QLineEdit::textChanged, this, [this](const QString& text) {
        for (int i = 0; i < extensions_.size(); ++i)
            if (text.endsWith(extensions_[i], Qt::CaseInsensitive))
                type_->setCurrentIndex(i);
    });
    auto* file = new QHBoxLayout;
    file->addWidget(path_, 1);
    file->addWidget(browse);
    auto* form = new QFormLayout;
    form->addRow(tr("File:"), file);
    form->addRow(tr("Type:"), type_);
    form->addRow(tr("Size:"), size_);
    form->addRow(QString(), band_);
    form->addRow(QString(), names_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    path_->selectAll();
}

void FrameDialog::browse()
{
    QStringList filters;
    for (int i = 0; i < extensions_.size(); ++i)
        filters << QStringLiteral("%1 (*%2)").arg(descriptions_.value(i), extensions_[i]);
    QString filter = filters.value(type_->currentIndex());
    const QString chosen = QFileDialog::getSaveFileName(this, windowTitle(), path_->text(), filters.join(QStringLiteral(";;")),
                                                        &filter, QFileDialog::DontConfirmOverwrite);
    if (chosen.isEmpty())
        return;
    type_->setCurrentIndex(std::max(0, static_cast<int>(filters.indexOf(filter))));
    path_->setText(chosen);
}

QString FrameDialog::path() const
{
    return with_extension(path_->text().trimmed(), type_->currentData().toString(), extensions_);
}

FrameOptions FrameDialog::options() const
{
    FrameOptions options;
    options.annotate = band_->isChecked();
    options.labels = names_->isChecked();
    const QSize size = size_->currentData().toSize();
    if (!size.isEmpty()) {
        options.width = std::min(size.width(), largest_frame_width);
        options.height = std::min(size.height(), largest_frame_height);
    }
    return options;
}

}  // namespace umbrascope
