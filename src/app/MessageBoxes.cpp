#include "app/MessageBoxes.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QScreen>
#include <utility>

namespace zeloro {

namespace {

MessageBoxHook& Hook() {
    static MessageBoxHook hook;
    return hook;
}

// Qt places a box over the active window; the tool's boxes sit in the middle of the screen.
class ScreenCentredBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent* event) override {
        QMessageBox::showEvent(event);
        if (const QScreen* area = screen(); area != nullptr) {
            QRect frame = frameGeometry();
            frame.moveCenter(area->availableGeometry().center());
            move(frame.topLeft());
        }
    }
};

QuestionHook& Questions() {
    static QuestionHook hook;
    return hook;
}

}  // namespace

bool AskQuestion(const MessageBox& box) {
    if (Questions()) {
        return Questions()(box);
    }
    ScreenCentredBox dialog(QMessageBox::Question, box.caption, box.text, QMessageBox::Yes | QMessageBox::No);
    dialog.button(QMessageBox::Yes)->setText(QStringLiteral("&Ja"));
    dialog.button(QMessageBox::No)->setText(QStringLiteral("&Nein"));
    dialog.setDefaultButton(QMessageBox::No);
    dialog.setWindowModality(Qt::ApplicationModal);
    return dialog.exec() == QMessageBox::Yes;
}

QuestionHook SetQuestionHook(QuestionHook hook) { return std::exchange(Questions(), std::move(hook)); }

void ShowMessageBox(const MessageBox& box) {
    if (Hook()) {
        Hook()(box);
        return;
    }
    // Application-modal without a parent: it blocks every window of the tool.
    ScreenCentredBox dialog(box.icon, box.caption, box.text, QMessageBox::Ok);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.exec();
}

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) { return std::exchange(Hook(), std::move(hook)); }

void ShowErrorBox(const QString& text) {
    ShowMessageBox({QMessageBox::Critical, QString::fromUtf8(kErrorCaption), text});
}

void ShowInformationBox(const QString& text) {
    ShowMessageBox({QMessageBox::Information, QString::fromUtf8(kInformationCaption), text});
}

QString ErrorReportText(const QString& message) {
    // Compared by code point: the last character of the text, not the last UTF-16 unit of a pair.
    const QList<uint> codePoints = message.toUcs4();
    if (!codePoints.isEmpty() && codePoints.back() > static_cast<uint>('.')) {
        return message + QLatin1Char('.');
    }
    return message;
}

void ShowErrorReport(const QString& message) {
    QString title = QGuiApplication::applicationDisplayName();
    if (title.isEmpty()) {
        title = QString::fromUtf8(kAppTitle);
    }
    ShowMessageBox({QMessageBox::Critical, title, ErrorReportText(message)});
}

}  // namespace zeloro
