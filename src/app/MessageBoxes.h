// src/app/MessageBoxes.h: the window's modal message boxes and the default error report.
#pragma once
#include <QMessageBox>
#include <QString>
#include <functional>

namespace zeloro {

inline constexpr const char* kAppTitle = "Zeloro geotagging";
inline constexpr const char* kErrorCaption = "Fehler";
inline constexpr const char* kInformationCaption = "Informationen";

struct MessageBox {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString caption;
    QString text;
};

// Shows one modal box with the single button "OK", centred on the screen, and returns when it is
// closed. With a hook installed the hook is called instead (tests read the box without a modal loop).
void ShowMessageBox(const MessageBox& box);
using MessageBoxHook = std::function<void(const MessageBox&)>;
// Returns the hook that was installed before; an empty hook restores the real boxes.
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

// A question with the buttons "Ja" and "Nein" (caption, text), "Nein" the default; true for "Ja". With a
// question hook installed the hook answers instead.
bool AskQuestion(const MessageBox& box);
using QuestionHook = std::function<bool(const MessageBox&)>;
QuestionHook SetQuestionHook(QuestionHook hook);

// Error icon, caption "Fehler".
void ShowErrorBox(const QString& text);
// Information icon, caption "Informationen".
void ShowInformationBox(const QString& text);

// The text of the default error report: the message, followed by "." when its last character sorts
// after "." (so "Fehler!" gains none, "Datei fehlt" becomes "Datei fehlt.").
[[nodiscard]] QString ErrorReportText(const QString& message);
// The report of an error that a command did not catch: caption the application title, error icon.
void ShowErrorReport(const QString& message);

}  // namespace zeloro
