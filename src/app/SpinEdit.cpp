#include "app/SpinEdit.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QWheelEvent>

namespace zeloro {

SpinEdit::SpinEdit(QWidget* parent) : QSpinBox(parent) {
    setRange(0, 500);
    setSingleStep(1);
    setValue(0);
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    setAccelerated(false);
    // The line edit alone is read-only: the buttons (and the arrow keys) still step the value.
    lineEdit()->setReadOnly(true);
}

void SpinEdit::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown) {
        event->ignore();
        return;
    }
    QSpinBox::keyPressEvent(event);
}

void SpinEdit::wheelEvent(QWheelEvent* event) { event->ignore(); }

}  // namespace zeloro
