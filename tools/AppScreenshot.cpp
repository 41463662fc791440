// tools/AppScreenshot.cpp: shows the window, runs it once on given inputs and saves a picture of it.
// Usage: zeloro_app_screenshot [--preview] [--clock PHOTO CLOCK.png] [--log FILE] [--map] [--filter N]
//        [--column C] DATAFOLDER GPX PHOTOFOLDER ZONEINDEX TOLERANCE OUT.png [OPTIONS.png]
// With OPTIONS.png the "Optionen" dialog is opened after the run and its picture saved there as well.
// --log FILE saves the window's log after the run, --map writes the map page ("Maps") after it;
// --filter N chooses item N of the results filter and --column C scrolls the table to column C before
// the picture;
// --preview runs "Probelauf" instead of "Starten"; --clock opens "Uhr abgleichen…" after the run, chooses
// PHOTO, takes a phone's clock in the camera's zone reading 90 s after its shot time and saves the dialog's
// picture to CLOCK.png. Under a real display (or Xvfb) the picture is taken from the screen, window system
// and all; on the offscreen platform the window draws itself into the picture.
#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/BrowseEdit.h"
#include "app/ClockDialog.h"
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

// Opens "Uhr abgleichen…" by its link, chooses the photo, types a phone's reading 90 s after its shot time
// and takes the picture while the dialog is up.
int SaveClockPicture(zeloro::Tmain& window, const char* photo, const char* out) {
    int result = 1;
    QTimer::singleShot(500, &window, [&result, photo, out] {
        auto* dialog = qobject_cast<zeloro::ClockDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) {
            std::fprintf(stderr, "zeloro_app_screenshot: the clock dialog was not shown\n");
            return;
        }
        dialog->SetPhoto(QString::fromLocal8Bit(photo));
        // A phone's clock, in the camera's zone.
        dialog->findChild<QComboBox*>(QStringLiteral("cbClockZone"))->setCurrentIndex(1);
        auto* edit = dialog->findChild<QDateTimeEdit*>(QStringLiteral("edShownTime"));
        edit->setDateTime(edit->dateTime().addSecs(90));
        QTest::qWait(300);
        if (Grab(*dialog).save(QString::fromLocal8Bit(out), "PNG")) {
            result = 0;
        } else {
            std::fprintf(stderr, "zeloro_app_screenshot: cannot write %s\n", out);
        }
        dialog->reject();
    });
    QTest::mouseClick(window.findChild<QLabel*>(QStringLiteral("LabelClock")), Qt::LeftButton);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    bool preview = false;
    const char* clockPhoto = nullptr;
    const char* clockOut = nullptr;
    const char* logOut = nullptr;
    bool map = false;
    int filter = 0;
    int column = 0;
    std::vector<char*> args{argv[0]};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--preview") {
            preview = true;
        } else if (arg == "--log" && i + 1 < argc) {
            logOut = argv[++i];
        } else if (arg == "--filter" && i + 1 < argc) {
            filter = std::stoi(argv[++i]);
        } else if (arg == "--column" && i + 1 < argc) {
            column = std::stoi(argv[++i]);
        } else if (arg == "--map") {
            map = true;
        } else if (arg == "--clock" && i + 2 < argc) {
            clockPhoto = argv[++i];
            clockOut = argv[++i];
        } else {
            args.push_back(argv[i]);
        }
    }
    argc = static_cast<int>(args.size());
    argv = args.data();
    if (argc != 7 && argc != 8) {
        std::fprintf(
            stderr,
            "usage: zeloro_app_screenshot [--preview] [--clock PHOTO CLOCK.png] [--log FILE] [--map] "
            "[--filter N] [--column C] DATAFOLDER GPX PHOTOFOLDER ZONEINDEX TOLERANCE OUT.png "
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
    QTest::mouseClick(
        window.findChild<QPushButton*>(preview ? QStringLiteral("ButtonPreview") : QStringLiteral("Button1")),
        Qt::LeftButton);
    if (!finished.wait(600000)) {
        std::fprintf(stderr, "zeloro_app_screenshot: the run did not end\n");
        return 1;
    }
    window.findChild<QComboBox*>(QStringLiteral("cbResultFilter"))->setCurrentIndex(filter);
    auto* table = window.findChild<QTableView*>(QStringLiteral("tvResults"));
    if (table->model()->rowCount() > 0) {
        table->scrollTo(table->model()->index(0, column), QAbstractItemView::PositionAtTop);
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
    if (logOut != nullptr && !window.SaveLogTo(QString::fromLocal8Bit(logOut))) {
        std::fprintf(stderr, "zeloro_app_screenshot: cannot write %s\n", logOut);
        return 1;
    }
    if (map) {
        window.Button4Click();
    }
    if (clockPhoto != nullptr && SaveClockPicture(window, clockPhoto, clockOut) != 0) {
        return 1;
    }
    if (argc == 8) {
        return SaveOptionsPicture(window, argv[7]);
    }
    return 0;
}
