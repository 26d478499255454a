#pragma once
// The dialog behind Save picture and Export run: the file, its type, the frame size (the classic
// frame, the picture window's, the picture window's view as shown, or a video size), the band and
// names, and for a run whether to go on after a failed pass. A typed extension, in any letter
// case, decides the type; without one, the type chosen adds its extension. Each purpose keeps its
// last choices, and its folder, for the next use and the next start.

#include <QDialog>
#include <QSize>
#include <QStringList>
#include <optional>

#include "output/frame_picture.hpp"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace umbrascope {

// `path` with the extension of its type: its own when it ends in one of `extensions` (".png",
// ".svg", in any letter case), else `chosen` added.
[[nodiscard]] QString with_extension(const QString& path, const QString& chosen, const QStringList& extensions);

enum class FramePurpose { picture, run };

class FrameDialog : public QDialog {
    Q_OBJECT

public:
    // `extensions` with their descriptions, the first the default; `folder` and `name` the file
    // offered the first time. `shown` is the picture window's frame as it shows it (its size and
    // view), or nothing when it is closed.
    FrameDialog(QWidget* parent, FramePurpose purpose, const QString& title, const QString& folder, const QString& name,
                const QStringList& extensions, const QStringList& descriptions, const std::optional<FrameOptions>& shown);

    [[nodiscard]] QString path() const;  // with the extension of its type
    [[nodiscard]] FrameOptions options() const;
    [[nodiscard]] bool keep_going() const;  // a run goes on after a failed pass
    void remember() const;  // the choices, for the next use and the next start

private:
    void browse();
    [[nodiscard]] QString key(const char* name) const;

    FramePurpose purpose_;
    QStringList extensions_;
    QStringList descriptions_;
    std::optional<FrameOptions> shown_;
    QLineEdit* path_;
    QComboBox* type_;
    QComboBox* size_;
    QCheckBox* band_;
    QCheckBox* names_;
    QCheckBox* keep_going_ = nullptr;
};

}  // namespace umbrascope
