#pragma once
// The dialog behind Save picture and Export run: the file, its type, the frame size (the classic
// frame, the picture window's, or a video size), and the band and names. A typed extension, in any
// letter case, decides the type; without one, the type chosen adds its extension.

#include <QDialog>
#include <QSize>
#include <QStringList>

#include "output/frame_picture.hpp"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace umbrascope {

// `path` with the extension of its type: its own when it ends in one of `extensions` (".png",
// ".svg", in any letter case), else `chosen` added.
[[nodiscard]] QString with_extension(const QString& path, const QString& chosen, const QStringList& extensions);

class FrameDialog : public QDialog {
    Q_OBJECT

public:
    // `extensions` with their descriptions, the first the default; `window` the picture window's
    // size in pixels, or empty when it is closed.
    FrameDialog(QWidget* parent, const QString& title, const QString& path, const QStringList& extensions,
                const QStringList& descriptions, QSize window);

    [[nodiscard]] QString path() const;  // with the extension of its type
    [[nodiscard]] FrameOptions options() const;

private:
    void browse();

    QStringList extensions_;
    QStringList descriptions_;
    QLineEdit* path_;
    QComboBox* type_;
    QComboBox* size_;
    QCheckBox* band_;
    QCheckBox* names_;
};

}  // namespace umbrascope
