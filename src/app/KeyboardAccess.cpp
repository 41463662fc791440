#include "app/KeyboardAccess.h"

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QPushButton>
#include <QShortcut>
#include <QToolButton>
#include <QWidget>

namespace zeloro {

namespace {

class EnterPressesButton : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) {
            return false;
        }
        const auto* key = static_cast<QKeyEvent*>(event);
        auto* button = qobject_cast<QAbstractButton*>(watched);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (button == nullptr || !enter || (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier ||
            !button->isEnabled() || !button->isVisible()) {
            return false;
        }
        button->click();
        return true;
    }
};

// Keyboard context menus come from the shortcuts alone; the one a platform makes of the Menu key is
// dropped, or the key would open two.
class PlatformMenuKeyFilter : public QObject {
public:
    explicit PlatformMenuKeyFilter(QWidget* window) : QObject(window), window_(window) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::ContextMenu || !event->spontaneous()) {
            return false;
        }
        const auto* menu = static_cast<QContextMenuEvent*>(event);
        const auto* widget = qobject_cast<QWidget*>(watched);
        return menu->reason() == QContextMenuEvent::Keyboard && widget != nullptr &&
               widget->window() == window_;
    }

private:
    QWidget* window_;
};

void ShowContextMenuOf(QWidget* window) {
    QWidget* focused = QApplication::focusWidget();
    if (focused == nullptr || focused->window() != window || !focused->isEnabled()) {
        return;
    }
    // A text control opens it at its cursor, any other control at its middle.
    QPoint at = focused->rect().center();
    if (focused->testAttribute(Qt::WA_InputMethodEnabled)) {
        const QRect cursor = focused->inputMethodQuery(Qt::ImCursorRectangle).toRect();
        if (cursor.isValid() && focused->rect().contains(cursor.center())) {
            at = cursor.center();
        }
    }
    QContextMenuEvent event(QContextMenuEvent::Keyboard, at, focused->mapToGlobal(at));
    QApplication::sendEvent(focused, &event);
}

}  // namespace

void PressButtonsOnEnter(QWidget* root) {
    auto* filter = new EnterPressesButton(root);
    // Push and tool buttons; a check box keeps Enter for the dialog it sits in.
    for (QPushButton* button : root->findChildren<QPushButton*>()) {
        button->installEventFilter(filter);
    }
    for (QToolButton* button : root->findChildren<QToolButton*>()) {
        button->installEventFilter(filter);
    }
}

void OpenContextMenusByKey(QWidget* window) {
    for (const QKeySequence& keys : {QKeySequence(Qt::SHIFT | Qt::Key_F10), QKeySequence(Qt::Key_Menu)}) {
        auto* shortcut = new QShortcut(keys, window);
        QObject::connect(shortcut, &QShortcut::activated, window, [window] { ShowContextMenuOf(window); });
    }
    qApp->installEventFilter(new PlatformMenuKeyFilter(window));
}

}  // namespace zeloro
