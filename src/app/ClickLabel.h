// src/app/ClickLabel.h: a label or picture that reports clicks and mouse presses.
#pragma once
#include <QLabel>
#include <QPoint>

namespace zeloro {

class ClickLabel : public QLabel {
    Q_OBJECT
public:
    explicit ClickLabel(QWidget* parent = nullptr);

    // When set, a press of any mouse button moves the window: by the window system where it offers an
    // interactive move, otherwise by following the mouse until the button is released.
    void SetDragsWindow(bool on) noexcept { dragsWindow_ = on; }
    // Makes it a stop of the Tab walk that Space and Enter click, as they would a button.
    void SetKeyboardClickable();

signals:
    // A press and release of the left button inside the picture, like a button's click.
    void Clicked();
    void MousePressed(Qt::MouseButton button);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool dragsWindow_ = false;
    bool leftPressed_ = false;
    bool following_ = false;
    QPoint grabOffset_;  // mouse position relative to the window's top-left corner at the press
};

}  // namespace zeloro
