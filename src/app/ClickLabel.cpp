#include "app/ClickLabel.h"

#include <QMouseEvent>
#include <QWindow>

namespace zeloro {

ClickLabel::ClickLabel(QWidget* parent) : QLabel(parent) {}

void ClickLabel::mousePressEvent(QMouseEvent* event) {
    if (!isEnabled()) {
        return;
    }
    leftPressed_ = event->button() == Qt::LeftButton;
    emit MousePressed(event->button());
    if (!dragsWindow_) {
        return;
    }
    QWidget* top = window();
    QWindow* handle = top->windowHandle();
    // The window system's move keeps the window under the pointer even across screens; only when it
    // refuses (no window manager, an offscreen platform) does the picture move the window itself.
    if (handle != nullptr && handle->startSystemMove()) {
        leftPressed_ = false;
        return;
    }
    following_ = true;
    grabOffset_ = event->globalPosition().toPoint() - top->frameGeometry().topLeft();
}

void ClickLabel::mouseMoveEvent(QMouseEvent* event) {
    if (following_) {
        window()->move(event->globalPosition().toPoint() - grabOffset_);
    }
}

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
    const bool wasLeft = leftPressed_;
    leftPressed_ = false;
    if (following_ && event->buttons() == Qt::NoButton) {
        following_ = false;
    }
    if (wasLeft && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
        isEnabled()) {
        emit Clicked();
    }
}

}  // namespace zeloro
