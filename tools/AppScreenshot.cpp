// tools/AppScreenshot.cpp: shows the window, runs it once on given inputs and saves a picture of it.
// Usage: zeloro_app_screenshot DATAFOLDER GPX PHOTOFOLDER ZONEINDEX TOLERANCE OUT.png [OPTIONS.png]
// With OPTIONS.png the "Optionen" dialog is opened after the run and its picture saved there as well.
// Under a real display (or Xvfb) the picture is taken from the screen, window system and all; on the
// offscreen platform the window draws itself into the picture.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <string>

#include "app/BrowseEdit.h"
#include "app/MainForm.h"
#include "app/SpinEdit.h"

namespace {

QPixmap Grab(QWidget& widget) {
    if (QGuiApplication::platformName() != QStringLiteral("offscreen") && widget.screen() != nullptr) {
        const QRect area = widget.frameGeometry().adjusted(-20, -20, 20, 20);
        return widget.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    }
    return widget.grab();
}

// Opens "Optionen" by its link, as a user does, and takes the picture while the dialog is up.
int SaveOptionsPicture(zeloro::Tmain& window, const char* out) {
    int result = 1;
    QTimer::singleShot(500, &window, [&result, out] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (dialog == nullptr) {
            std::fprintf(stderr, "zeloro_app_screenshot: the options dialog was not shown\n");
            return;
        }
        QTest::qWait(300);
        if (Grab(*dialog).save(QString::fromLocal8Bit(out), "PNG")) {
            result = 0;
        } else {
            std::fprintf(stderr, "zeloro_app_screenshot: cannot write %s\n", out);
        }
        dialog->close();
    });
    QTest::mouseClick(window.findChild<QLabel*>(QStringLiteral("LabelOptions")), Qt::LeftButton);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 7 && argc != 8) {
        std::fprintf(stderr,
                     "usage: zeloro_app_screenshot DATAFOLDER GPX PHOTOFOLDER ZONEINDEX TOLERANCE OUT.png "
                     "[OPTIONS.png]\n");
        return 2;
    }
    zeloro::InitApplication();
    std::string dataFolder = argv[1];
    if (!dataFolder.empty() && dataFolder.back() != '/') {
        dataFolder += '/';
    }
    zeloro::MainOptions options;
    options.resolveDataFolder = [dataFolder] { return dataFolder; };
    options.openDocument = [](const QString&, const std::function<void(const QString&)>&) {};
    zeloro::Tmain window(options);
    window.show();
    window.activateWindow();
    if (!QTest::qWaitForWindowExposed(&window)) {
        std::fprintf(stderr, "zeloro_app_screenshot: the window was not shown\n");
        return 1;
    }
    (void)QTest::qWaitForWindowActive(&window, 2000);

    window.findChild<zeloro::FilenameEdit*>(QStringLiteral("edGpx"))
        ->SetText(QString::fromLocal8Bit(argv[2]));
    window.findChild<zeloro::DirectoryEdit*>(QStringLiteral("edPictures"))
        ->SetText(QString::fromLocal8Bit(argv[3]));
    window.findChild<QComboBox*>(QStringLiteral("cbtimezone"))->setCurrentIndex(std::stoi(argv[4]));
    window.findChild<zeloro::SpinEdit*>(QStringLiteral("edSec"))->setValue(std::stoi(argv[5]));
    QSignalSpy finished(&window, &zeloro::Tmain::RunFinished);
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("Button1")), Qt::LeftButton);
    if (!finished.wait(60000)) {
        std::fprintf(stderr, "zeloro_app_screenshot: the run did not end\n");
        return 1;
    }
    QTest::qWait(300);  // let the last repaint reach the screen

    QPixmap picture;
    if (QGuiApplication::platformName() != QStringLiteral("offscreen") && window.screen() != nullptr) {
        const QRect area = window.frameGeometry().adjusted(-20, -20, 20, 20);
        picture = window.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    } else {
        picture = window.grab();
    }
    if (!picture.save(QString::fromLocal8Bit(argv[6]), "PNG")) {
        std::fprintf(stderr, "zeloro_app_screenshot: cannot write %s\n", argv[6]);
        return 1;
    }
    if (argc == 8) {
        return SaveOptionsPicture(window, argv[7]);
    }
    return 0;
}
