#include "app/ColorProgressBar.h"

#include <QPainter>
#include <algorithm>

namespace zeloro {

ColorProgressBar::ColorProgressBar(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, QColor(160, 160, 160));
    setPalette(pal);
}

void ColorProgressBar::SetMax(int maximum) {
    max_ = std::max(maximum, 0);
    if (position_ > max_) {
        position_ = max_;
        emit PositionChanged(position_);
    }
    update();
}

void ColorProgressBar::SetPosition(int position) {
    position_ = std::clamp(position, 0, max_);
    update();
    emit PositionChanged(position_);
}

void ColorProgressBar::SetBarColor(const QColor& color) {
    color_ = color;
    update();
}

int ColorProgressBar::FilledWidth() const {
    if (max_ <= 0) {
        return 0;
    }
    const long long inner = contentsRect().width();
    return static_cast<int>(inner * position_ / max_);
}

void ColorProgressBar::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect inner = contentsRect();
    painter.fillRect(inner, Qt::white);
    const int filled = FilledWidth();
    if (filled > 0) {
        painter.fillRect(QRect(inner.left(), inner.top(), filled, inner.height()), color_);
    }
    painter.end();
    QFrame::paintEvent(event);
}

}  // namespace zeloro
