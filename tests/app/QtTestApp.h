// tests/app/QtTestApp.h: the one QApplication of a widget test executable, and a recorder of the
// message boxes the code under test shows.
#pragma once
#include <QApplication>
#include <QSettings>
#include <QString>
#include <functional>
#include <vector>

#include "app/MessageBoxes.h"
#include "support/TestSupport.h"

namespace zeloro::test {

// Created at first use on the offscreen platform (unless the caller chose another, e.g. xcb under
// Xvfb); it lives until the process ends, as Qt expects of its application object.
inline QApplication& TestApplication() {
    static QApplication* app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        static int argc = 1;
        static char name[] = "zeloro-test";
        static char* argv[] = {name, nullptr};
        auto* created = new QApplication(argc, argv);
        // A test closing its window must not end the event loops of the tests after it.
        QApplication::setQuitOnLastWindowClosed(false);
        return created;
    }();
    return *app;
}

// The window's stores (options, remembered inputs, dialog folders) live in a folder of this test run,
// never in the user's own.
inline void KeepSettingsInTestFolder() {
    static const TempDir settingsFolder;
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       QString::fromStdString(settingsFolder.path().string()));
}

// Replaces the modal boxes while it lives; each box is recorded and then handed to onShow, which may
// do what the user would do while the box is open.
class MessageRecorder {
public:
    MessageRecorder() {
        previous_ = SetMessageBoxHook([this](const MessageBox& box) {
            boxes.push_back(box);
            if (onShow) {
                onShow(box);
            }
        });
    }
    ~MessageRecorder() { SetMessageBoxHook(std::move(previous_)); }
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    std::vector<MessageBox> boxes;
    std::function<void(const MessageBox&)> onShow;

private:
    MessageBoxHook previous_;
};

}  // namespace zeloro::test
