// src/app/SpinEdit.h: a whole-number edit changed only by its up and down buttons.
#pragma once
#include <QSpinBox>
#include <QString>

namespace zeloro {

// Typing is disabled so that the text is always a number in range: the run reads it as the tolerance.
class SpinEdit : public QSpinBox {
    Q_OBJECT
public:
    explicit SpinEdit(QWidget* parent = nullptr);

    // The value as decimal text, as the run reads it.
    [[nodiscard]] QString Text() const { return QString::number(value()); }
};

}  // namespace zeloro
