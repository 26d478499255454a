#pragma once
// A left press on a view: a drag once it has moved a few pixels, which pans, else a click.

#include <QPointF>
#include <optional>

namespace umbrascope {

// The zoom of a view's wheel, a notch at a time.
inline constexpr double wheel_step = 1.25;

class DragOrClick {
public:
    void press(QPointF at)
    {
        pressed_ = true;
        dragged_ = false;
        press_ = last_ = at;
    }
    // How far the pointer moved since the last move, once the press has become a drag.
    [[nodiscard]] std::optional<QPointF> move(QPointF at)
    {
        if (!pressed_ || (!dragged_ && (at - press_).manhattanLength() < threshold))
            return std::nullopt;
        dragged_ = true;
        const QPointF by = at - last_;
        last_ = at;
        return by;
    }
    // Whether the press that ends here was a click: pressed and never dragged.
    [[nodiscard]] bool release()
    {
        const bool click = pressed_ && !dragged_;
        pressed_ = false;
        return click;
    }
    [[nodiscard]] bool pressed() const { return pressed_; }

private:
    static constexpr double threshold = 4;  // pixels a press may move and still be a click
    QPointF press_;
    QPointF last_;
    bool pressed_ = false;
    bool dragged_ = false;
};

}  // namespace umbrascope
