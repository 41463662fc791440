#include "app/ClickLabel.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWindow>

namespace zeloro {

ClickLabel::ClickLabel(QWidget* parent) : QLabel(parent) {}

void ClickLabel::SetKeyboardClickable() {
    // Tab only: a mouse click on the link must not pull the focus away from the field being edited.
    setFocusPolicy(Qt::TabFocus);
}

void ClickLabel::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (focusPolicy() != Qt::NoFocus && isEnabled() && event->modifiers() == Qt::NoModifier &&
        (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter)) {
        event->accept();
        emit Clicked();
        return;
    }
    QLabel::keyPressEvent(event);
}

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
