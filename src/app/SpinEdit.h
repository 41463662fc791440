// src/app/SpinEdit.h: a whole-number edit changed only by its up and down buttons.
#pragma once
#include <QSpinBox>
#include <QString>

namespace zeloro {

// Typing is disabled so that the text is always a number in range: the run reads it as the tolerance.
// Only the two arrow buttons (and the arrow keys) step it, by 1: PageUp/PageDown would jump by 10 and a
// wheel turned over the window on the way to another control would change it by accident.
class SpinEdit : public QSpinBox {
    Q_OBJECT
public:
    explicit SpinEdit(QWidget* parent = nullptr);

    // The value as decimal text, as the window shows it.
    [[nodiscard]] QString Text() const { return QString::number(value()); }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
};

}  // namespace zeloro
