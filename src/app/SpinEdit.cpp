#include "app/SpinEdit.h"

#include <QLineEdit>

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

}  // namespace zeloro
