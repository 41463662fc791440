// src/app/KeyboardAccess.h: what the keyboard reaches besides Tab, Space and the mnemonics: Enter on a
// button, and the context menus.
#pragma once

class QWidget;

namespace zeloro {

// Enter and Return (the keypad's too) on a focused, enabled button of root press it, as Space does. Qt
// leaves that to the default button of a dialog; the window has none, so that Enter in a field starts
// nothing.
void PressButtonsOnEnter(QWidget* root);

// Shift+F10 and the Menu key open the context menu of the control in window that holds the focus, at its
// text cursor, as a right click would. The platforms that turn the Menu key into a context menu
// themselves do so as well; that second menu is not shown.
void OpenContextMenusByKey(QWidget* window);

}  // namespace zeloro
