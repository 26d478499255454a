#include "app/frame_dialog.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>

namespace umbrascope {

namespace {

// The sizes offered, by the name the settings keep.
const QString classic_size = QStringLiteral("classic");
const QString window_size = QStringLiteral("window");
const QString shown_size = QStringLiteral("shown");

QString video_size(QSize size) { return QStringLiteral("%1x%2").arg(size.width()).arg(size.height()); }

}  // namespace

QString with_extension(const QString& path, const QString& chosen, const QStringList& extensions)
{
    for (const QString& extension : extensions)
        if (path.endsWith(extension, Qt::CaseInsensitive))
            return path;
    return path + chosen;
}

FrameDialog::FrameDialog(QWidget* parent, FramePurpose purpose, const QString& title, const QString& folder,
                         const QString& name, const QStringList& extensions, const QStringList& descriptions,
                         const std::optional<FrameOptions>& shown)
    : QDialog(parent), purpose_(purpose), extensions_(extensions), descriptions_(descriptions), shown_(shown),
      path_(new QLineEdit), type_(new QComboBox), size_(new QComboBox), band_(new QCheckBox(tr("Time and legend band"))),
      names_(new QCheckBox(tr("Bus names, where they fit")))
{
    setWindowTitle(title);
    setObjectName(QStringLiteral("FrameDialog"));
    for (int i = 0; i < extensions.size(); ++i)
        type_->addItem(descriptions.value(i), extensions[i]);
    size_->addItem(tr("Classic, 459 \u00d7 451 (as the window)"), classic_size);
    if (shown) {
        const QString size = QStringLiteral("%1 \u00d7 %2").arg(shown->width).arg(shown->height);
        size_->addItem(tr("The picture window's, %1, the whole network").arg(size), window_size);
        size_->addItem(tr("As shown in the picture window, %1 (zoomed and panned as there)").arg(size), shown_size);
    }
    for (const QSize video : {QSize(1280, 720), QSize(1920, 1080), QSize(3840, 2160)})
        size_->addItem(QStringLiteral("%1 \u00d7 %2").arg(video.width()).arg(video.height()), video_size(video));

    // The last choices; a size no longer offered (the picture window closed) falls back to classic.
    const QSettings settings;
    size_->setCurrentIndex(std::max(0, size_->findData(settings.value(key("size"), classic_size).toString())));
    band_->setChecked(settings.value(key("band"), true).toBool());
    names_->setChecked(settings.value(key("names"), false).toBool());
    QString start_folder = settings.value(key("folder")).toString();
    if (start_folder.isEmpty() || !QFileInfo(start_folder).isDir())
        start_folder = folder;
    const int type = std::max(0, static_cast<int>(extensions.indexOf(settings.value(key("type")).toString())));
    type_->setCurrentIndex(type);
    path_->setText(QDir(start_folder).filePath(QFileInfo(name).completeBaseName() + extensions.value(type)));

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
    if (purpose_ == FramePurpose::run) {
        keep_going_ = new QCheckBox(tr("Go on after a failed pass (its frame shows the picture as the failure left it)"));
        keep_going_->setToolTip(tr("Otherwise the export stops at the first failed pass and a file already "
                                   "under this name stays as it was"));
        keep_going_->setChecked(settings.value(key("keep_going"), false).toBool());
        form->addRow(QString(), keep_going_);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    path_->selectAll();
}

QString FrameDialog::key(const char* name) const
{
    return (purpose_ == FramePurpose::picture ? QStringLiteral("save_picture/") : QStringLiteral("export_run/")) +
           QLatin1String(name);
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
    const QString size = size_->currentData().toString();
    if ((size == window_size || size == shown_size) && shown_) {
        options = *shown_;
        if (size == window_size)
            options.shown.reset();
    } else if (const qsizetype x = size.indexOf(QLatin1Char('x')); x > 0) {
        options.width = std::min(size.left(x).toInt(), largest_frame_width);
        options.height = std::min(size.mid(x + 1).toInt(), largest_frame_height);
    }
    options.annotate = band_->isChecked();
    options.labels = names_->isChecked();
    return options;
}

bool FrameDialog::keep_going() const { return keep_going_ != nullptr && keep_going_->isChecked(); }

void FrameDialog::remember() const
{
    QSettings settings;
    settings.setValue(key("size"), size_->currentData().toString());
    settings.setValue(key("band"), band_->isChecked());
    settings.setValue(key("names"), names_->isChecked());
    settings.setValue(key("folder"), QFileInfo(path()).absolutePath());
    settings.setValue(key("type"), type_->currentData().toString());
    if (keep_going_ != nullptr)
        settings.setValue(key("keep_going"), keep_going_->isChecked());
}

}  // namespace umbrascope
