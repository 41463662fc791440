// src/app/ColorProgressBar.h: a progress bar in one colour at every level, framed, without text.
#pragma once
#include <QColor>
#include <QFrame>

namespace zeloro {

// Drawn by hand rather than by the style: a style's bar shows a busy animation when the maximum is 0
// (a folder without photos) and tints the chunk by its own palette.
class ColorProgressBar : public QFrame {
    Q_OBJECT
public:
    explicit ColorProgressBar(QWidget* parent = nullptr);

    [[nodiscard]] int Max() const noexcept { return max_; }
    // A negative maximum counts as 0; the position is held within 0..maximum.
    void SetMax(int maximum);
    [[nodiscard]] int Position() const noexcept { return position_; }
    void SetPosition(int position);
    [[nodiscard]] const QColor& BarColor() const noexcept { return color_; }
    void SetBarColor(const QColor& color);
    // Width in pixels of the filled part inside the frame.
    [[nodiscard]] int FilledWidth() const;

signals:
    void PositionChanged(int position);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int max_ = 100;
    int position_ = 0;
    QColor color_{255, 159, 72};
};

}  // namespace zeloro
