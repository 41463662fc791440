// The main window driven as a user would: layout, start-up, the run on its worker, the commands.
#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionSpinBox>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "QtTestApp.h"
#include "app/BrowseEdit.h"
#include "app/ClickLabel.h"
#include "app/ColorProgressBar.h"
#include "app/MainForm.h"
#include "app/OptionsDialog.h"
#include "app/SpinEdit.h"
#include "common/DateTime.h"
#include "common/Error.h"
#include "support/GpxText.h"
#include "support/TestSupport.h"
#include "tagging/FrontEnd.h"
#include "tagging/TaggingSession.h"
#include "time/TimeRules.h"
#include "trackstore/Database.h"
#include "trackstore/TrackStore.h"

namespace zeloro::test {
namespace {

namespace fs = std::filesystem;

constexpr int kRunTimeoutMs = 60000;

// The EXIF block of a camera photo reduced to what the run reads: IFD0 with the pointer to the EXIF
// directory, which holds DateTimeOriginal ("YYYY:MM:DD hh:mm:ss").
Bytes ExifApp1(const std::string& shotTime) {
    Bytes tiff{'I',  'I',  0x2A, 0x00, 0x08, 0x00, 0x00, 0x00,  // little-endian header, IFD0 at 8
               0x01, 0x00,                                      // IFD0: one entry
               0x69, 0x87, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00,  // ExifIFD pointer, LONG, count 1
               0x1A, 0x00, 0x00, 0x00,                          // -> 26
               0x00, 0x00, 0x00, 0x00,                          // no next IFD
               0x01, 0x00,                                      // EXIF IFD at 26: one entry
               0x03, 0x90, 0x02, 0x00, 0x14, 0x00, 0x00, 0x00,  // DateTimeOriginal, ASCII, count 20
               0x2C, 0x00, 0x00, 0x00,                          // -> 44
               0x00, 0x00, 0x00, 0x00};                         // no next IFD
    tiff.insert(tiff.end(), shotTime.begin(), shotTime.end());
    tiff.push_back(0);
    Bytes segment{0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    segment.insert(segment.end(), tiff.begin(), tiff.end());
    const std::size_t length = segment.size() - 2;  // the length field counts itself, not the marker
    segment[2] = static_cast<std::uint8_t>(length >> 8U);
    segment[3] = static_cast<std::uint8_t>(length & 0xFFU);
    return segment;
}

// A small real JPEG picture with the EXIF block right after SOI.
void WritePhoto(const fs::path& path, const std::string& shotTime) {
    QImage image(32, 24, QImage::Format_RGB32);
    image.fill(QColor(90, 140, 200));
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(image.save(&buffer, "JPG"));
    Bytes bytes(encoded.begin(), encoded.end());
    const Bytes app1 = ExifApp1(shotTime);
    bytes.insert(bytes.begin() + 2, app1.begin(), app1.end());
    WriteFileBytes(path, bytes);
}

void WriteTrack(const fs::path& path) {
    WriteFileText(path, GpxText({{"48.5", "11.25", "2010-06-01T12:00:05Z", {}},
                                 {"-33.8567", "151.215", "2010-06-01T12:10:00Z", {}}}));
}

std::int64_t CountTrackPoints(const fs::path& database) {
    Connection connection;
    connection.Open(database.string());
    Query query(connection);
    query.SetSQL("SELECT count(*) AS n FROM gpx");
    query.Open();
    const std::int64_t n = query.FieldByName("n").AsInteger();
    query.Close();
    return n;
}

// A log line as the window shows it, with the stamp "dd.mm.yyyy[ hh:nn:ss]" taken off; the stamp must be
// there.
std::string WithoutStamp(const QString& line) {
    static const QRegularExpression stamp(QStringLiteral(R"(^\d\d\.\d\d\.\d{4}( \d\d:\d\d:\d\d)?(?= - ))"));
    const QRegularExpressionMatch match = stamp.match(line);
    if (!match.hasMatch()) {
        return "<no stamp> " + line.toStdString();
    }
    return line.mid(match.capturedLength()).toStdString();
}

std::vector<std::string> LogLines(const QPlainTextEdit& memo) {
    std::vector<std::string> lines;
    for (const QString& line : memo.toPlainText().split(QLatin1Char('\n'))) {
        lines.push_back(WithoutStamp(line));
    }
    return lines;
}

class MainWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        (void)TestApplication();
        InitApplication();
        KeepSettingsInTestFolder();
    }

    void SetUp() override {
        QSettings().clear();
        dataFolder_ = data_.path().string() + "/";
        fs::copy_file(BuildDir() / "zeloro.sqlite", data_ / "zeloro.sqlite");
        fs::create_directory(data_ / "maps");
        fs::create_directory(photos_.path() / "sub");
        WritePhoto(photos_ / "a.jpg", "2010:06:01 12:00:05");
        WritePhoto(photos_.path() / "sub" / "b.jpg", "2010:06:01 15:00:00");
        WriteTrack(photos_ / "track.gpx");
    }

    // A window over the test's data folder, in summer unless told otherwise.
    std::unique_ptr<Tmain> MakeWindow(DateTimeValue now = EncodeDateTime(2021, 7, 1, 12, 0, 0, 0)) {
        MainOptions options;
        options.resolveDataFolder = [this] {
            if (!resolveError_.empty()) {
                throw FileError(resolveError_);
            }
            return dataFolder_;
        };
        options.now = [now] { return now; };
        options.openDocument = [this](const QString& path,
                                      const std::function<void(const QString&)>& failed) {
            opened_.push_back(path.toStdString());
            if (!openFailure_.isEmpty()) {
                failed(openFailure_);
            }
        };
        options.endApplication = [this] { ++ended_; };
        return std::make_unique<Tmain>(std::move(options));
    }

    static void Activate(Tmain& window) {
        QEvent event(QEvent::WindowActivate);
        QApplication::sendEvent(&window, &event);
    }
    static void Deactivate(Tmain& window) {
        QEvent event(QEvent::WindowDeactivate);
        QApplication::sendEvent(&window, &event);
    }

    template <typename T>
    static T* Child(Tmain& window, const char* name) {
        T* child = window.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }

    // Fills the inputs, clicks "Starten" and waits until the run has ended.
    void RunOnce(Tmain& window, int zoneIndex = kZoneIndexUtc) {
        Child<FilenameEdit>(window, "edGpx")
            ->SetText(QString::fromStdString((photos_ / "track.gpx").string()));
        Child<DirectoryEdit>(window, "edPictures")->SetText(QString::fromStdString(photos_.path().string()));
        Child<QComboBox>(window, "cbtimezone")->setCurrentIndex(zoneIndex);
        QSignalSpy finished(&window, &Tmain::RunFinished);
        QTest::mouseClick(Child<QPushButton>(window, "Button1"), Qt::LeftButton);
        ASSERT_TRUE(finished.wait(kRunTimeoutMs));
    }

    // The page under test is the key-less one, whatever the developer's environment holds.
    ScopedVariable noGoogleKey_{"ZELORO_GOOGLE_MAPS_KEY", nullptr};
    TempDir data_;
    TempDir photos_;
    std::string dataFolder_;
    std::string resolveError_;  // when set, the data folder cannot be set up, for this reason
    std::vector<std::string> opened_;
    QString openFailure_;  // non-empty: the opener reports this reason
    int ended_ = 0;
};

struct Place {
    const char* name;
    QRect geometry;  // an empty size: only the top-left corner is fixed (labels take their text's size)
    const char* text;
};

TEST_F(MainWindow, ControlsSitAtTheirPlacesWithTheirTexts) {
    MessageRecorder boxes;
    auto window = MakeWindow();
    EXPECT_EQ(window->size(), QSize(640, 400));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());  // not resizable
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(window->windowTitle().toStdString(), "Zeloro geotagging");

    const std::vector<Place> places = {
        {"Image1", QRect(0, 0, 640, 400), nullptr},
        {"Label5", QRect(98, 20, 0, 0), "Zeloro geotagging"},
        {"Label8", QRect(570, 12, 0, 0), "Hilfe"},
        {"Image2", QRect(606, 0, 34, 34), nullptr},
        {"Label1", QRect(98, 77, 0, 0), "&GPX-Datei:"},
        {"edGpx", QRect(175, 74, 442, 21), nullptr},
        {"Label2", QRect(98, 117, 0, 0), "&Bildordner:"},
        {"edPictures", QRect(175, 114, 442, 21), nullptr},
        {"Label3", QRect(98, 157, 0, 0), "&Zeitzone:"},
        {"cbtimezone", QRect(175, 154, 146, 21), nullptr},
        {"Label4", QRect(350, 157, 0, 0), "maximale &Abweichung in Sekunden:"},
        {"edSec", QRect(542, 154, 75, 22), nullptr},
        {"Label6", QRect(98, 197, 0, 0), "Status:"},
        {"status", QRect(175, 196, 442, 18), nullptr},
        {"Label7", QRect(98, 237, 0, 0), "&Protokoll:"},
        {"Memo1", QRect(175, 234, 442, 79), nullptr},
        {"Button4", QRect(175, 336, 75, 25), "&Maps"},
        {"ButtonPreview", QRect(262, 336, 75, 25), "Pr&obelauf"},
        {"Button1", QRect(362, 336, 75, 25), "&Starten"},
        {"ButtonStop", QRect(362, 336, 75, 25), "Abb&rechen"},
        {"Button2", QRect(452, 336, 75, 25), "&Leeren"},
        {"Button3", QRect(542, 336, 75, 25), "B&eenden"},
    };
    for (const Place& place : places) {
        QWidget* control = Child<QWidget>(*window, place.name);
        ASSERT_NE(control, nullptr);
        if (place.geometry.isEmpty()) {
            EXPECT_EQ(control->pos(), place.geometry.topLeft()) << place.name;
        } else {
            EXPECT_EQ(control->geometry(), place.geometry) << place.name;
        }
        if (place.text != nullptr) {
            QString text;
            if (auto* label = qobject_cast<QLabel*>(control)) {
                text = label->text();
            } else if (auto* button = qobject_cast<QPushButton*>(control)) {
                text = button->text();
            }
            EXPECT_EQ(text.toStdString(), place.text) << place.name;
        }
    }
    const QLabel* title = Child<QLabel>(*window, "Label5");
    EXPECT_TRUE(title->font().bold());
    EXPECT_EQ(title->font().pixelSize(), 12);
    EXPECT_EQ(title->palette().color(QPalette::WindowText), QColor(Qt::white));
    EXPECT_EQ(Child<QLabel>(*window, "Label8")->palette().color(QPalette::WindowText), QColor(160, 160, 160));
    // "Uhr abgleichen…" is a link of the title band like "Optionen", just left of it.
    const QLabel* clock = Child<QLabel>(*window, "LabelClock");
    const QLabel* options = Child<QLabel>(*window, "LabelOptions");
    EXPECT_EQ(clock->text().toStdString(), "Uhr abgleichen…");
    EXPECT_EQ(clock->y(), options->y());
    EXPECT_EQ(clock->x() + clock->width() + 12, options->x());
    EXPECT_EQ(clock->palette().color(QPalette::WindowText), QColor(160, 160, 160));
    // The results area waits below the body until a run fills it.
    EXPECT_TRUE(Child<QWidget>(*window, "resultsArea")->isHidden());
    EXPECT_EQ(
        Child<FilenameEdit>(*window, "edGpx")->Filter().toStdString(),
        "gpx-Dateien (*.gpx)|*.gpx|Trackdateien (*.gpx *.kml *.kmz *.tcx *.fit *.nmea *.igc *.csv *.geojson "
        "*.json)|*.gpx;*.kml;*.kmz;*.tcx;*.fit;*.nmea;*.igc;*.csv;*.geojson;*.json");
    EXPECT_EQ(Child<DirectoryEdit>(*window, "edPictures")->DialogTitle().toStdString(), "Select Directory");
    EXPECT_EQ(Child<SpinEdit>(*window, "edSec")->Text().toStdString(), "0");
    EXPECT_EQ(Child<QPlainTextEdit>(*window, "Memo1")->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_FALSE(Child<QPlainTextEdit>(*window, "Memo1")->isReadOnly());

    const auto* zones = Child<QComboBox>(*window, "cbtimezone");
    EXPECT_FALSE(zones->isEditable());
    ASSERT_EQ(zones->count(), 24);
    EXPECT_EQ(zones->itemText(0).toStdString(), "UTC - 11:00");
    EXPECT_EQ(zones->itemText(11).toStdString(), "UTC");
    EXPECT_EQ(zones->itemText(23).toStdString(), "UTC + 12:00");
    EXPECT_TRUE(boxes.boxes.empty());
}

// The name of the control that holds the focus: the browse edits' parts as "edGpx" and "edGpx…".
std::string FocusedControl() {
    const QWidget* focused = QApplication::focusWidget();
    for (const QWidget* w = focused; w != nullptr; w = w->parentWidget()) {
        if (!w->objectName().isEmpty() && w->objectName() != QStringLiteral("qt_spinbox_lineedit")) {
            const auto* browse = qobject_cast<const BrowseEdit*>(w);
            const bool button = browse != nullptr && focused == browse->Button();
            return w->objectName().toStdString() + (button ? "…" : "");
        }
    }
    return "<none>";
}

// The first focus is on the GPX field; Tab walks the screen, the title band first, and wraps around. A
// frame is drawn round every control that takes the focus.
TEST_F(MainWindow, TabWalksTheControlsInScreenOrderWithAVisibleFrame) {
    auto window = MakeWindow();
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    const char* const order[] = {"edGpx",   "edGpx…",  "edPictures", "edPictures…",   "cbtimezone",
                                 "edSec",   "Memo1",   "Button4",    "ButtonPreview", "Button1",
                                 "Button2", "Button3", "LabelClock", "LabelOptions",  "Label8",
                                 "Image2",  "edGpx"};
    const QWidget* frame = Child<QWidget>(*window, "focusFrame");
    for (std::size_t i = 0; i < std::size(order); ++i) {
        if (i > 0) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        ASSERT_EQ(FocusedControl(), order[i]) << "after " << i << " tab(s)";
        QWidget* control = QApplication::focusWidget();
        if (control->parentWidget() == Child<QWidget>(*window, "edSec")) {
            control = control->parentWidget();
        }
        const QRect area(control->mapTo(window.get(), QPoint(0, 0)), control->size());
        EXPECT_TRUE(frame->isVisible()) << order[i];
        EXPECT_EQ(frame->geometry(), area.adjusted(-2, -2, 2, 2).intersected(window->rect())) << order[i];
    }
    // Shift+Tab goes back the same way.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(FocusedControl(), "Image2");
}

// F1 opens Hilfe; Space on a focused link or picture clicks it; Alt+letter presses a button; Enter on a
// button presses it, Enter in a field starts no run.
TEST_F(MainWindow, KeysReachEveryCommand) {
    MessageRecorder boxes;
    auto window = MakeWindow();
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    Activate(*window);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);
    ASSERT_EQ(opened_.size(), 1U);
    EXPECT_EQ(fs::path(opened_[0]).filename(), "doku.pdf");
    Child<ClickLabel>(*window, "Label8")->setFocus();
    QTest::keyClick(Child<ClickLabel>(*window, "Label8"), Qt::Key_Space);
    EXPECT_EQ(opened_.size(), 2U);

    // A button's Alt shortcut clicks it as the mouse would, after showing it pressed for a moment.
    QTest::keyClick(window.get(), Qt::Key_M, Qt::AltModifier);  // "Maps" with nothing tagged yet
    QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes.size(), std::size_t{1}, 5000);
    EXPECT_EQ(boxes.boxes[0].text.toStdString(), "Keine aktuellen Geodaten vorhanden!");

    Child<FilenameEdit>(*window, "edGpx")->SetText(QString::fromStdString((photos_ / "track.gpx").string()));
    Child<DirectoryEdit>(*window, "edPictures")->SetText(QString::fromStdString(photos_.path().string()));
    Child<QComboBox>(*window, "cbtimezone")->setCurrentIndex(kZoneIndexUtc);
    QSignalSpy finished(window.get(), &Tmain::RunFinished);
    auto* start = Child<QPushButton>(*window, "Button1");
    start->setFocus();
    QTest::keyClick(start, Qt::Key_Return);
    ASSERT_TRUE(window->RunInProgress());
    // The focus waits on "Abbrechen" in the place of "Starten"; it comes back when the run is over.
    EXPECT_EQ(FocusedControl(), "ButtonStop");
    ASSERT_TRUE(finished.wait(kRunTimeoutMs));
    EXPECT_EQ(FocusedControl(), "Button1");
    const std::pair<QWidget*, std::string> fields[] = {
        {Child<FilenameEdit>(*window, "edGpx")->Edit(), "edGpx"},
        {Child<DirectoryEdit>(*window, "edPictures")->Edit(), "edPictures"},
        {Child<QComboBox>(*window, "cbtimezone"), "cbtimezone"},
        {Child<SpinEdit>(*window, "edSec"), "edSec"}};
    int runs = 1;
    for (const auto& [field, name] : fields) {
        field->setFocus();
        QTest::keyClick(field, Qt::Key_Return);
        EXPECT_FALSE(window->RunInProgress()) << name;
        QTest::keyClick(window.get(), Qt::Key_S, Qt::AltModifier);
        ++runs;
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), runs, kRunTimeoutMs);
        EXPECT_EQ(FocusedControl(), name);
    }
    EXPECT_EQ(boxes.boxes.size(), 1U);

    Child<ClickLabel>(*window, "Image2")->setFocus();
    QTest::keyClick(Child<ClickLabel>(*window, "Image2"), Qt::Key_Space);
    EXPECT_EQ(ended_, 1);
}

TEST_F(MainWindow, ZoneIsPreselectedBySummerTime) {
    struct Case {
        DateTimeValue now;
        const char* want;
    };
    for (const Case& c : {Case{EncodeDateTime(2021, 7, 1, 12, 0, 0, 0), "UTC + 2:00"},
                          Case{EncodeDateTime(2021, 1, 15, 12, 0, 0, 0), "UTC + 1:00"},
                          Case{EncodeDateTime(2010, 3, 28, 1, 59, 59, 0), "UTC + 1:00"},
                          Case{EncodeDateTime(2010, 3, 28, 2, 0, 0, 0), "UTC + 2:00"}}) {
        auto window = MakeWindow(c.now);
        EXPECT_EQ(Child<QComboBox>(*window, "cbtimezone")->currentText().toStdString(), c.want);
    }
}

TEST_F(MainWindow, MissingDatabaseFileIsReportedBeforeTheWindowShows) {
    MessageRecorder boxes;
    bool windowExisted = false;
    boxes.onShow = [&](const MessageBox&) {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            windowExisted = windowExisted || (qobject_cast<Tmain*>(top) != nullptr && top->isVisible());
        }
    };
    dataFolder_.clear();
    auto window = MakeWindow();
    ASSERT_EQ(boxes.boxes.size(), 1U);
    EXPECT_EQ(boxes.boxes[0].text.toStdString(), "Die Datenbankdatei konnte nicht gefunden werden");
    EXPECT_EQ(boxes.boxes[0].caption.toStdString(), "Fehler");
    EXPECT_EQ(boxes.boxes[0].icon, QMessageBox::Critical);
    EXPECT_FALSE(windowExisted);
    EXPECT_EQ(window->Session().DataFolder(), "");

    // Nothing is opened, so no database appears in the current folder, and the box is not repeated.
    const TempDir work;
    const fs::path before = fs::current_path();
    fs::current_path(work.path());
    Activate(*window);
    Deactivate(*window);
    Activate(*window);
    fs::current_path(before);
    EXPECT_EQ(boxes.boxes.size(), 1U);
    EXPECT_FALSE(window->Session().Connected());
    EXPECT_TRUE(fs::is_empty(work.path()));
}

// The box says what zeloro-cli prints for the same fault.
TEST_F(MainWindow, DataFolderSetUpErrorIsWordedAsTheCommandLine) {
    MessageRecorder boxes;
    resolveError_ = "Der Datenordner /nowhere/kvd/zeloro/ kann nicht angelegt werden: keine Berechtigung";
    auto window = MakeWindow();
    ASSERT_EQ(boxes.boxes.size(), 1U);
    EXPECT_EQ(boxes.boxes[0].text.toStdString(), resolveError_ + ".");
    EXPECT_EQ(boxes.boxes[0].icon, QMessageBox::Critical);
    EXPECT_EQ(window->Session().DataFolder(), "");
}

TEST_F(MainWindow, FailedConnectIsReportedOnceAndRetriedWhenTheUserComesBack) {
    MessageRecorder boxes;
    dataFolder_ = (data_.path() / "missing").string() + "/";  // SQLite cannot create a file there
    auto window = MakeWindow();
    // The report takes the focus from the window and gives it back when it closes, as a real box does.
    boxes.onShow = [&](const MessageBox&) {
        Deactivate(*window);
        Activate(*window);
    };
    Activate(*window);
    Activate(*window);  // the activation that follows the box's closing
    ASSERT_EQ(boxes.boxes.size(), 1U);
    EXPECT_EQ(boxes.boxes[0].caption.toStdString(), "Zeloro geotagging");
    EXPECT_EQ(boxes.boxes[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(boxes.boxes[0].text.endsWith(QLatin1Char('.'))) << boxes.boxes[0].text.toStdString();
    EXPECT_TRUE(window->FirstRun());

    // The user goes to another window and comes back: the connect is tried again.
    Deactivate(*window);
    Activate(*window);
    EXPECT_EQ(boxes.boxes.size(), 2U);

    fs::create_directory(data_.path() / "missing");
    Deactivate(*window);
    Activate(*window);
    EXPECT_EQ(boxes.boxes.size(), 2U);
    EXPECT_FALSE(window->FirstRun());
    EXPECT_TRUE(window->Session().Connected());
    Deactivate(*window);
    Activate(*window);  // connected once: later activations leave it alone
    EXPECT_EQ(boxes.boxes.size(), 2U);
}

// Another process (a zeloro-cli run) holds the data folder: the window says so, at activation and at
// "Starten", and starts no run until the folder is free; then "Starten" connects and runs.
TEST_F(MainWindow, BusyDataFolderIsNamedAndStartsNoRunUntilFree) {
    MessageRecorder boxes;
    auto otherProcess = std::make_unique<DataFolderLock>(dataFolder_);
    const std::string busy = std::string(kDataFolderBusyPrefix) + dataFolder_ + kDataFolderBusySuffix;
    auto window = MakeWindow();
    Activate(*window);
    ASSERT_EQ(boxes.boxes.size(), 1U);
    EXPECT_EQ(boxes.boxes[0].text.toStdString(), busy);
    EXPECT_FALSE(window->Session().Connected());

    QSignalSpy finished(window.get(), &Tmain::RunFinished);
    auto* memo = Child<QPlainTextEdit>(*window, "Memo1");
    // Empty inputs are still the run's to report, before the folder.
    QTest::mouseClick(Child<QPushButton>(*window, "Button1"), Qt::LeftButton);
    ASSERT_TRUE(finished.wait(kRunTimeoutMs));
    ASSERT_EQ(boxes.boxes.size(), 2U);
    EXPECT_EQ(boxes.boxes[1].text.toStdString(), "Bitte geben Sie eine gpx-Datei an!");
    EXPECT_EQ(boxes.boxes[1].caption.toStdString(), "Fehler");
    boxes.boxes.pop_back();

    Child<FilenameEdit>(*window, "edGpx")->SetText(QString::fromStdString((photos_ / "track.gpx").string()));
    Child<DirectoryEdit>(*window, "edPictures")->SetText(QString::fromStdString(photos_.path().string()));
    QTest::mouseClick(Child<QPushButton>(*window, "Button1"), Qt::LeftButton);
    ASSERT_EQ(boxes.boxes.size(), 2U);
    EXPECT_EQ(boxes.boxes[1].text.toStdString(), busy);
    EXPECT_EQ(boxes.boxes[1].icon, QMessageBox::Critical);
    EXPECT_FALSE(window->RunInProgress());
    EXPECT_TRUE(memo->toPlainText().isEmpty()) << memo->toPlainText().toStdString();
    EXPECT_EQ(finished.count(), 1);

    otherProcess.reset();
    QTest::mouseClick(Child<QPushButton>(*window, "Button1"), Qt::LeftButton);
    ASSERT_TRUE(finished.wait(kRunTimeoutMs));
    EXPECT_EQ(finished.count(), 2);
    EXPECT_EQ(boxes.boxes.size(), 2U);
    EXPECT_TRUE(window->Session().Connected());
    EXPECT_FALSE(window->FirstRun());
    const std::vector<std::string> lines = LogLines(*memo);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), " - Import fehlerhaft abgebrochen"), 0);
    EXPECT_NE(std::find(lines.begin(), lines.end(), " - 2 Datensätze gelesen und importiert"), lines.end())
        << memo->toPlainText().toStdString();
}

// A track that fails at a point: the log names the file, the point and why, after the failure line.
TEST_F(MainWindow, ImportFailureNamesThePointInTheLog) {
    MessageRecorder boxes;
    auto window = MakeWindow();
    Activate(*window);
    WritePhoto(photos_ / "a.jpg", "2010:06:01 12:00:05");
    const fs::path track = photos_ / "track.gpx";
    WriteFileText(track, GpxText({{"48.5", "11.25", "2010-06-01T12:00:05Z", {}},
                                  {"91", "11.25", "2010-06-01T12:00:06Z", {}}}));
    const std::string before = ReadFileText(photos_ / "a.jpg");
    RunOnce(*window);
    const std::vector<std::string> lines = LogLines(*Child<QPlainTextEdit>(*window, "Memo1"));
    const auto failed = std::find(lines.begin(), lines.end(), " - Import fehlerhaft abgebrochen");
    ASSERT_NE(failed, lines.end()) << Child<QPlainTextEdit>(*window, "Memo1")->toPlainText().toStdString();
    const std::string reason =
        " - " + track.string() +
        ": trkpt Nr. 2 (lat \"91\", lon \"11.25\", time \"2010-06-01T12:00:06Z\"): " + kPointOffGlobe;
    EXPECT_NE(std::find(failed, lines.end(), reason), lines.end())
        << Child<QPlainTextEdit>(*window, "Memo1")->toPlainText().toStdString();
    EXPECT_EQ(ReadFileText(photos_ / "a.jpg"), before);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(MainWindow, StartenRunsOnAWorkerAndReportsLinesAndProgress) {
    MessageRecorder boxes;
    auto window = MakeWindow();
    Activate(*window);
    ASSERT_TRUE(window->Session().Connected());
    auto* memo = Child<QPlainTextEdit>(*window, "Memo1");
    memo->setPlainText(QStringLiteral("Notiz"));  // the log accepts typing; the run appends after it
    auto* status = Child<ColorProgressBar>(*window, "status");
    QSignalSpy positions(status, &ColorProgressBar::PositionChanged);

    Child<FilenameEdit>(*window, "edGpx")->SetText(QString::fromStdString((photos_ / "track.gpx").string()));
    Child<DirectoryEdit>(*window, "edPictures")->SetText(QString::fromStdString(photos_.path().string()));
    Child<QComboBox>(*window, "cbtimezone")->setCurrentIndex(kZoneIndexUtc);
    QSignalSpy finished(window.get(), &Tmain::RunFinished);
    QTest::mouseClick(Child<QPushButton>(*window, "Button1"), Qt::LeftButton);
    EXPECT_TRUE(window->RunInProgress());
    for (const char* name : {"Button1", "Button2", "Button4", "ButtonPreview", "LabelClock", "ButtonWrite"}) {
        EXPECT_FALSE(Child<QWidget>(*window, name)->isEnabled()) << name;
    }
    // "Abbrechen" stands in the place of "Starten"; "Beenden" and the close picture stop the run.
    EXPECT_TRUE(Child<QWidget>(*window, "Button1")->isHidden());
    EXPECT_FALSE(Child<QWidget>(*window, "ButtonStop")->isHidden());
    for (const char* name : {"Button3", "Image2", "ButtonStop"}) {
        EXPECT_TRUE(Child<QWidget>(*window, name)->isEnabled()) << name;
    }
    window->Button1Click();  // a second start while the first runs is ignored
    ASSERT_TRUE(finished.wait(kRunTimeoutMs));
    EXPECT_EQ(finished.size(), 1);
    EXPECT_FALSE(window->RunInProgress());
    for (const char* name : {"Button1", "Button2", "Button3", "Button4", "Image2"}) {
        EXPECT_TRUE(Child<QWidget>(*window, name)->isEnabled()) << name;
    }
    EXPECT_FALSE(Child<QWidget>(*window, "Button1")->isHidden());
    EXPECT_TRUE(Child<QWidget>(*window, "ButtonStop")->isHidden());

    const std::vector<std::string> want = {
        "<no stamp> Notiz",
        " - Lese Bilddateien",
        " - 2 Bilder im Verzeichnis gefunden",
        " - Starte Datenbankimport",
        " - 2 Datensätze gelesen und importiert",
        " - a.jpg Koordinaten gefunden:",
        " - 48.5,11.25 getaggt!",
        " - b.jpg keine Koordinaten gefunden",
    };
    EXPECT_EQ(LogLines(*memo), want);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(status->Max(), 2);
    EXPECT_EQ(status->Position(), 0);
    std::vector<int> seen;
    for (const QList<QVariant>& args : positions) {
        seen.push_back(args.at(0).toInt());
    }
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 0}));
    EXPECT_EQ(window->Session().MapEntries(), std::vector<std::string>{"48.5|11.25|a.jpg"});
    EXPECT_EQ(CountTrackPoints(data_ / "zeloro.sqlite"), 2);
}

TEST_F(MainWindow, EmptyGpxPathShowsItsErrorBoxOnTheWindowThread) {
    MessageRecorder boxes;
    bool onWindowThread = false;
    boxes.onShow = [&](const MessageBox&) { onWindowThread = QThread::currentThread() == qApp->thread(); };
    auto window = MakeWindow();
    Activate(*window);
    Child<DirectoryEdit>(*window, "edPictures")->SetText(QString::fromStdString(photos_.path().string()));
    QSignalSpy finished(window.get(), &Tmain::RunFinished);
    QTest::mouseClick(Child<QPushButton>(*window, "Button1"), Qt::LeftButton);
    ASSERT_TRUE(finished.wait(kRunTimeoutMs));
    ASSERT_EQ(boxes.boxes.size(), 1U);
    EXPECT_EQ(boxes.boxes[0].text.toStdString(), "Bitte geben Sie eine gpx-Datei an!");
    EXPECT_EQ(boxes.boxes[0].caption.toStdString(), "Fehler");
    EXPECT_EQ(boxes.boxes[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(onWindowThread);
    EXPECT_TRUE(Child<QPlainTextEdit>(*window, "Memo1")->toPlainText().isEmpty());
}

TEST_F(MainWindow, ErrorEndingARunGoesToTheDefaultErrorReport) {
    MessageRecorder boxes;
    auto window = MakeWindow();
    Activate(*window);
    fs::remove(photos_ / "track.gpx");
    RunOnce(*window);
    ASSERT_EQ(boxes.boxes.size(), 1U);
    EXPECT_EQ(boxes.boxes[0].caption.toStdString(), "Zeloro geotagging");
    EXPECT_EQ(boxes.boxes[0].icon, QMessageBox::Critical);
    EXPECT_FALSE(boxes.boxes[0].text.isEmpty());
    const std::vector<std::string> lines = LogLines(*Child<QPlainTextEdit>(*window, "Memo1"));
    ASSERT_GE(lines.size(), 2U);
    // The log does not stop at a dangling line: the error's text closes it, as the box shows it.
    EXPECT_EQ(lines[lines.size() - 2], " - Starte Datenbankimport");
    EXPECT_EQ(lines.back(), " - Fehler: " + boxes.boxes[0].text.toStdString());
    EXPECT_TRUE(Child<QPushButton>(*window, "Button1")->isEnabled());
}

TEST_F(MainWindow, LeerenEmptiesInputsLogMapListProgressAndTable) {
    MessageRecorder boxes;
    auto window = MakeWindow();
    Activate(*window);
    RunOnce(*window, kZoneIndexUtc);
    Child<SpinEdit>(*window, "edSec")->setValue(7);
    ASSERT_EQ(window->Session().MapEntries().size(), 1U);
    Child<ColorProgressBar>(*window, "status")->SetPosition(1);

    for (int round = 0; round < 2; ++round) {  // a second "Leeren" is harmless
        QTest::mouseClick(Child<QPushButton>(*window, "Button2"), Qt::LeftButton);
        EXPECT_TRUE(Child<FilenameEdit>(*window, "edGpx")->Text().isEmpty());
        EXPECT_TRUE(Child<DirectoryEdit>(*window, "edPictures")->Text().isEmpty());
        EXPECT_TRUE(Child<QPlainTextEdit>(*window, "Memo1")->toPlainText().isEmpty());
        EXPECT_TRUE(window->Session().MapEntries().empty());
        EXPECT_TRUE(window->Session().MapShots().empty());
        EXPECT_EQ(Child<ColorProgressBar>(*window, "status")->Position(), 0);
        EXPECT_EQ(CountTrackPoints(data_ / "zeloro.sqlite"), 0);
    }
    EXPECT_EQ(Child<QComboBox>(*window, "cbtimezone")->currentIndex(), kZoneIndexUtc);
    EXPECT_EQ(Child<SpinEdit>(*window, "edSec")->Text().toStdString(), "7");
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(MainWindow, MapsWithoutTaggedPhotosTellsSoAndOtherwiseOpensThePage) {
    MessageRecorder boxes;
    auto window = MakeWindow();
    Activate(*window);
    QTest::mouseClick(Child<QPushButton>(*window, "Button4"), Qt::LeftButton);
    ASSERT_EQ(boxes.boxes.size(), 1U);
    EXPECT_EQ(boxes.boxes[0].text.toStdString(), "Keine aktuellen Geodaten vorhanden!");
    EXPECT_EQ(boxes.boxes[0].caption.toStdString(), "Informationen");
    EXPECT_EQ(boxes.boxes[0].icon, QMessageBox::Information);
    EXPECT_TRUE(opened_.empty());
    EXPECT_FALSE(fs::exists(data_ / "maps" / "index.html"));

    RunOnce(*window);
    QTest::mouseClick(Child<QPushButton>(*window, "Button4"), Qt::LeftButton);
    EXPECT_EQ(boxes.boxes.size(), 1U);
    const std::string page = (data_.path() / "maps" / "index.html").string();
    EXPECT_EQ(opened_, std::vector<std::string>{page});
    EXPECT_EQ(LogLines(*Child<QPlainTextEdit>(*window, "Memo1")).back(),
              " - Kartenseite geschrieben: " + page);
    EXPECT_NE(ReadFileText(page).find("{\"photos\":[{\"lat\":48.5,\"lon\":11.25,\"name\":\"a.jpg\","),
              std::string::npos);

    fs::remove_all(data_ / "maps");  // a page that cannot be written ends the command in the report
    QTest::mouseClick(Child<QPushButton>(*window, "Button4"), Qt::LeftButton);
    ASSERT_EQ(boxes.boxes.size(), 2U);
    EXPECT_EQ(boxes.boxes[1].caption.toStdString(), "Zeloro geotagging");
    EXPECT_EQ(opened_.size(), 1U);
}

TEST_F(MainWindow, BeendenAndTheClosePictureEmptyTheTableAndEnd) {
    for (const char* control : {"Button3", "Image2"}) {
        auto window = MakeWindow();
        Activate(*window);
        RunOnce(*window);
        ASSERT_GT(CountTrackPoints(data_ / "zeloro.sqlite"), 0);
        ended_ = 0;
        QTest::mouseClick(Child<QWidget>(*window, control), Qt::LeftButton, {}, QPoint(17, 12));
        EXPECT_EQ(ended_, 1) << control;
        EXPECT_EQ(CountTrackPoints(data_ / "zeloro.sqlite"), 0) << control;
    }
}

TEST_F(MainWindow, SystemCloseKeepsThePointsAndClosesTheConnection) {
    auto window = MakeWindow();
    window->show();
    Activate(*window);
    RunOnce(*window);
    ASSERT_TRUE(window->close());
    EXPECT_FALSE(window->Session().Connected());
    EXPECT_EQ(ended_, 0);
    EXPECT_EQ(CountTrackPoints(data_ / "zeloro.sqlite"), 2);
}

TEST_F(MainWindow, ClosingDuringARunWaitsForItsEnd) {
    for (int i = 0; i < 30; ++i) {
        WritePhoto(photos_ / ("c" + std::to_string(100 + i) + ".jpg"), "2010:06:01 12:10:00");
    }
    auto window = MakeWindow();
    window->show();
    Activate(*window);
    Child<FilenameEdit>(*window, "edGpx")->SetText(QString::fromStdString((photos_ / "track.gpx").string()));
    Child<DirectoryEdit>(*window, "edPictures")->SetText(QString::fromStdString(photos_.path().string()));
    Child<QComboBox>(*window, "cbtimezone")->setCurrentIndex(kZoneIndexUtc);
    QSignalSpy finished(window.get(), &Tmain::RunFinished);
    QTest::mouseClick(Child<QPushButton>(*window, "Button1"), Qt::LeftButton);
    EXPECT_FALSE(window->close());  // refused for now: the run finishes the photo in hand first
    EXPECT_TRUE(window->isVisible());
    ASSERT_TRUE(finished.wait(kRunTimeoutMs));
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->Session().Connected());
    // Whatever was tagged before the stop stays tagged and in the table.
    EXPECT_EQ(CountTrackPoints(data_ / "zeloro.sqlite") % 2, 0);
}

TEST_F(MainWindow, HilfeOpensTheDocumentBesideTheExecutable) {
    auto window = MakeWindow();
    QTest::mouseClick(Child<QWidget>(*window, "Label8"), Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_EQ(opened_.size(), 1U);
    const fs::path document = opened_[0];
    EXPECT_EQ(document.filename(), "doku.pdf");
    EXPECT_EQ(fs::canonical(document.parent_path()),
              fs::canonical(fs::read_symlink("/proc/self/exe").parent_path()));
    EXPECT_TRUE(fs::exists(document)) << "the build puts doku.pdf beside the executables";
}

TEST_F(MainWindow, PressOnTheBackgroundDragsTheWindow) {
    auto window = MakeWindow();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    auto* background = Child<ClickLabel>(*window, "Image1");
    const QPoint start = window->pos();
    QTest::mousePress(background, Qt::RightButton, {}, QPoint(300, 380));
    QMouseEvent move(QEvent::MouseMove, QPointF(310, 385), background->mapToGlobal(QPointF(310, 385)),
                     Qt::NoButton, Qt::RightButton, Qt::NoModifier);
    QApplication::sendEvent(background, &move);
    QTest::mouseRelease(background, Qt::RightButton, {}, QPoint(310, 385));
    EXPECT_EQ(window->pos(), start + QPoint(10, 5));
}

TEST_F(MainWindow, WindowIsCentredWhenFirstShown) {
    auto window = MakeWindow();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    const QRect area = window->screen()->availableGeometry();
    EXPECT_LE((window->geometry().center() - area.center()).manhattanLength(), 2);
}

// Opens "Optionen" by its title-band link and lets fill work on the dialog while it is modal.
void WithOptionsDialog(Tmain& window, const std::function<void(OptionsDialog&)>& fill) {
    bool seen = false;
    QTimer::singleShot(0, &window, [&] {
        auto* dialog = qobject_cast<OptionsDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        seen = true;
        fill(*dialog);
    });
    auto* link = window.findChild<ClickLabel*>(QStringLiteral("LabelOptions"));
    ASSERT_NE(link, nullptr);
    QTest::mouseClick(link, Qt::LeftButton);
    EXPECT_TRUE(seen);
}

TEST_F(MainWindow, OptionsDialogValuesPersistAndReachTheRun) {
    MessageRecorder boxes;
    auto window = MakeWindow();
    Activate(*window);
    auto* link = Child<ClickLabel>(*window, "LabelOptions");
    EXPECT_EQ(link->text(), QStringLiteral("Optionen"));
    EXPECT_LT(link->x() + link->width(), Child<ClickLabel>(*window, "Label8")->x());  // beside "Hilfe"

    // b.jpg was shot at 15:00:00 on a clock 2:50 fast: with the correction it meets the point of 12:10.
    WithOptionsDialog(*window, [](OptionsDialog& dialog) {
        dialog.findChild<QLineEdit*>(QStringLiteral("edOffset"))->setText(QStringLiteral("-02:50:00"));
        dialog.findChild<QCheckBox*>(QStringLiteral("cbKeepMtime"))->setChecked(true);
        // One photo at a time instead of one per core: the run's output stays the same.
        auto* jobs = dialog.findChild<QSpinBox*>(QStringLiteral("edJobs"));
        EXPECT_EQ(jobs->value(), 0);
        EXPECT_EQ(jobs->text(), QStringLiteral("eins je Prozessorkern (%1)")
                                    .arg(std::max(1U, std::thread::hardware_concurrency())));
        jobs->setValue(1);
        dialog.accept();
    });
    EXPECT_EQ(link->text(), QStringLiteral("Optionen (aktiv)"));
    EXPECT_EQ(window->RunOptions().jobs, 1);
    const fs::path b = photos_.path() / "sub" / "b.jpg";
    const auto mtimeBefore = fs::last_write_time(b);
    RunOnce(*window);
    const std::vector<std::string> lines = LogLines(*Child<QPlainTextEdit>(*window, "Memo1"));
    const std::vector<std::string> tail(lines.end() - 3, lines.end());
    EXPECT_EQ(tail,
              (std::vector<std::string>{" - a.jpg keine Koordinaten gefunden",
                                        " - b.jpg Koordinaten gefunden:", " - -33.8567,151.215 getaggt!"}));
    EXPECT_EQ(fs::last_write_time(b), mtimeBefore);  // written, yet with its old time

    // A new window (a new session of the program, once the first has ended: a session holds its data
    // folder) starts with the same values.
    window.reset();
    auto again = MakeWindow();
    EXPECT_EQ(again->RunOptions().offsetText, QStringLiteral("-02:50:00"));
    EXPECT_TRUE(again->RunOptions().keepMtime);
    EXPECT_FALSE(again->RunOptions().skipTagged);
    EXPECT_EQ(again->RunOptions().jobs, 1);
    EXPECT_EQ(Child<ClickLabel>(*again, "LabelOptions")->text(), QStringLiteral("Optionen (aktiv)"));

    // Skip tagged, set in the dialog, reaches the next run: b.jpg now holds a position.
    WithOptionsDialog(*again, [](OptionsDialog& dialog) {
        dialog.findChild<QCheckBox*>(QStringLiteral("cbSkipTagged"))->setChecked(true);
        dialog.accept();
    });
    const Bytes tagged = ReadFileBytes(b);
    Activate(*again);
    RunOnce(*again);
    EXPECT_EQ(LogLines(*Child<QPlainTextEdit>(*again, "Memo1")).back(),
              " - b.jpg hat bereits eine GPS-Position, übersprungen");
    EXPECT_TRUE(BytesEqual(tagged, ReadFileBytes(b)));
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(MainWindow, OptionsDialogKeepsUnreadableTextsOutAndCancelChangesNothing) {
    MessageRecorder boxes;
    auto window = MakeWindow();
    WithOptionsDialog(*window, [](OptionsDialog& dialog) {
        dialog.findChild<QLineEdit*>(QStringLiteral("edZone"))->setText(QStringLiteral("Mars/Olympus"));
        dialog.accept();  // refused: the dialog stays open
        EXPECT_TRUE(dialog.isVisible());
        dialog.reject();
    });
    ASSERT_EQ(boxes.boxes.size(), 1U);
    EXPECT_TRUE(boxes.boxes[0].text.contains(QStringLiteral("Mars/Olympus")));
    EXPECT_FALSE(window->RunOptions().AnyOn());
    EXPECT_FALSE(WindowRunOptions::Load().AnyOn());

    // The thread count alone changes no output, so the title band does not call the options active.
    WithOptionsDialog(*window, [](OptionsDialog& dialog) {
        dialog.findChild<QSpinBox*>(QStringLiteral("edJobs"))->setValue(3);
        dialog.accept();
    });
    EXPECT_EQ(window->RunOptions().jobs, 3);
    EXPECT_EQ(WindowRunOptions::Load().jobs, 3);
    EXPECT_EQ(Child<ClickLabel>(*window, "LabelOptions")->text(), QStringLiteral("Optionen"));
}

// The entries for every photo kind: the sidecar and RAW choices only count with "Alle Fotoformate"; going
// on over failed photos reaches the run, which logs the damaged photo as skipped and tags the next.
TEST_F(MainWindow, OptionsForEveryPhotoKindPersistAndKeepGoingReachesTheRun) {
    MessageRecorder boxes;
    auto window = MakeWindow();
    WriteFileText(photos_ / "a2.jpg", "damaged");  // no kind the run knows, whatever its name
    WithOptionsDialog(*window, [](OptionsDialog& dialog) {
        auto* all = dialog.findChild<QCheckBox*>(QStringLiteral("cbAllPhotos"));
        auto* sidecar = dialog.findChild<QComboBox*>(QStringLiteral("cbSidecar"));
        auto* raw = dialog.findChild<QCheckBox*>(QStringLiteral("cbRawInFile"));
        auto* going = dialog.findChild<QCheckBox*>(QStringLiteral("cbKeepGoing"));
        ASSERT_TRUE(all != nullptr && sidecar != nullptr && raw != nullptr && going != nullptr);
        EXPECT_EQ(all->text().remove(QLatin1Char('&')), QStringLiteral("Alle Fotoformate"));
        EXPECT_EQ(going->text().remove(QLatin1Char('&')), QStringLiteral("Bei Fehlern weitermachen"));
        EXPECT_FALSE(sidecar->isEnabled());
        EXPECT_FALSE(raw->isEnabled());
        all->setChecked(true);
        EXPECT_TRUE(sidecar->isEnabled());
        EXPECT_TRUE(raw->isEnabled());
        sidecar->setCurrentIndex(1);
        EXPECT_EQ(sidecar->currentText(), QStringLiteral("NAME.xmp"));
        going->setChecked(true);
        dialog.accept();
    });
    EXPECT_EQ(Child<ClickLabel>(*window, "LabelOptions")->text(), QStringLiteral("Optionen (aktiv)"));
    const WindowRunOptions stored = WindowRunOptions::Load();
    EXPECT_TRUE(stored.allPhotos);
    EXPECT_TRUE(stored.keepGoing);
    EXPECT_FALSE(stored.rawInFile);
    EXPECT_EQ(stored.sidecar, SidecarNaming::base);
    const std::optional<RunSettings> settings = stored.Settings();
    ASSERT_TRUE(settings);
    EXPECT_TRUE(settings->allPhotos && settings->keepGoing);
    EXPECT_EQ(settings->sidecar, SidecarNaming::base);
    // Without every kind, no sidecar choice reaches a run.
    WindowRunOptions jpegOnly = stored;
    jpegOnly.allPhotos = false;
    jpegOnly.rawInFile = true;
    EXPECT_EQ(jpegOnly.Settings()->sidecar, SidecarNaming::extension);
    EXPECT_FALSE(jpegOnly.Settings()->rawInFile);

    Activate(*window);
    RunOnce(*window);
    const std::vector<std::string> lines = LogLines(*Child<QPlainTextEdit>(*window, "Memo1"));
    EXPECT_TRUE(std::find(lines.begin(), lines.end(),
                          " - 1 Datei in einem anderen Format übersprungen") != lines.end());  // track.gpx
    EXPECT_TRUE(std::find(lines.begin(), lines.end(), " - a2.jpg: unbekanntes Dateiformat – übersprungen") !=
                lines.end());
    EXPECT_TRUE(std::find(lines.begin(), lines.end(), " - 48.5,11.25 getaggt!") != lines.end());
    EXPECT_EQ(lines.back(), " - b.jpg keine Koordinaten gefunden");  // the run went on past a2.jpg
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(MainWindow, ToleranceChangesOnlyByItsArrowButtonsInStepsOfOne) {
    auto window = MakeWindow();
    window->show();
    auto* sec = Child<SpinEdit>(*window, "edSec");
    sec->setValue(20);
    sec->setFocus();
    QTest::keyClick(sec, Qt::Key_PageUp);
    QTest::keyClick(sec, Qt::Key_PageDown);
    QTest::keyClick(sec, Qt::Key_PageDown);
    EXPECT_EQ(sec->value(), 20);
    const QPointF centre(sec->width() / 2.0, sec->height() / 2.0);
    for (const int delta : {120, -120, 480}) {
        QWheelEvent wheel(centre, sec->mapToGlobal(centre), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(sec, &wheel);
    }
    EXPECT_EQ(sec->value(), 20);

    QStyleOptionSpinBox option;
    option.initFrom(sec);
    option.subControls = QStyle::SC_SpinBoxUp | QStyle::SC_SpinBoxDown;
    option.stepEnabled = QAbstractSpinBox::StepUpEnabled | QAbstractSpinBox::StepDownEnabled;
    const QRect up = sec->style()->subControlRect(QStyle::CC_SpinBox, &option, QStyle::SC_SpinBoxUp, sec);
    const QRect down = sec->style()->subControlRect(QStyle::CC_SpinBox, &option, QStyle::SC_SpinBoxDown, sec);
    QTest::mouseClick(sec, Qt::LeftButton, Qt::NoModifier, up.center());
    EXPECT_EQ(sec->value(), 21);
    QTest::mouseClick(sec, Qt::LeftButton, Qt::NoModifier, down.center());
    QTest::mouseClick(sec, Qt::LeftButton, Qt::NoModifier, down.center());
    EXPECT_EQ(sec->value(), 19);
    EXPECT_EQ(sec->Text(), QStringLiteral("19"));
}

// "Letzten Lauf rückgängig machen" runs on the worker as "Starten" does and puts the photo back; a second
// one finds no run left.
TEST_F(MainWindow, UndoTakesBackTheLastRunOnTheWorker) {
    MessageRecorder boxes;
    auto window = MakeWindow();
    Activate(*window);
    ASSERT_TRUE(window->Session().Connected());
    const Bytes before = ReadFileBytes(photos_ / "a.jpg");
    RunOnce(*window);
    ASSERT_NE(ReadFileBytes(photos_ / "a.jpg"), before);
    auto* memo = Child<QPlainTextEdit>(*window, "Memo1");
    memo->clear();

    QSignalSpy finished(window.get(), &Tmain::RunFinished);
    window->UndoClick();
    EXPECT_TRUE(window->RunInProgress());
    EXPECT_FALSE(Child<QWidget>(*window, "Button1")->isEnabled());
    window->UndoClick();  // a second start while the first runs is ignored
    ASSERT_TRUE(finished.wait(kRunTimeoutMs));
    EXPECT_TRUE(BytesEqual(before, ReadFileBytes(photos_ / "a.jpg")));
    EXPECT_EQ(LogLines(*memo),
              (std::vector<std::string>{
                  " - Lauf wird rückgängig gemacht: " + photos_.path().string(),
                  " - " + (photos_ / "a.jpg").string() + " zurückgesetzt",
                  " - 1 Datei zurückgesetzt, 0 nach dem Lauf geändert und nicht zurückgesetzt"}));
    EXPECT_TRUE(window->Session().MapEntries().empty());

    memo->clear();
    window->UndoClick();
    ASSERT_TRUE(finished.wait(kRunTimeoutMs));
    EXPECT_EQ(LogLines(*memo), std::vector<std::string>{" - Kein Lauf zum Rückgängigmachen vorhanden"});
    EXPECT_TRUE(boxes.boxes.empty());
}

// "GPS-Daten entfernen…" asks first, naming the folder and the number of photos; "Nein" changes nothing,
// "Ja" takes the position out on the worker, and the undo brings it back.
TEST_F(MainWindow, RemoveGpsAsksThenRemovesAndTheUndoBringsItBack) {
    MessageRecorder boxes;
    auto window = MakeWindow();
    Activate(*window);
    RunOnce(*window);
    const Bytes tagged = ReadFileBytes(photos_ / "a.jpg");
    std::vector<MessageBox> questions;
    bool answer = false;
    const QuestionHook previous = SetQuestionHook([&](const MessageBox& box) {
        questions.push_back(box);
        return answer;
    });
    window->RemoveGpsClick();
    ASSERT_EQ(questions.size(), 1U);
    EXPECT_EQ(questions[0].caption, QStringLiteral("GPS-Daten entfernen"));
    EXPECT_EQ(questions[0].text,
              QStringLiteral("Die GPS-Position aus 2 Fotos im Ordner '%1' entfernen?\n\nMit "
                             "„Letzten Lauf rückgängig machen“ lässt sich das zurücknehmen.")
                  .arg(QString::fromStdString(photos_.path().string())));
    EXPECT_FALSE(window->RunInProgress());
    EXPECT_EQ(ReadFileBytes(photos_ / "a.jpg"), tagged);

    answer = true;
    QSignalSpy finished(window.get(), &Tmain::RunFinished);
    window->RemoveGpsClick();
    ASSERT_TRUE(finished.wait(kRunTimeoutMs));
    SetQuestionHook(previous);
    EXPECT_NE(ReadFileBytes(photos_ / "a.jpg"), tagged);
    const std::vector<std::string> lines = LogLines(*Child<QPlainTextEdit>(*window, "Memo1"));
    EXPECT_EQ(lines.back(), " - GPS-Position aus 1 Bild entfernt, 1 ohne GPS-Position, 0 fehlgeschlagen");
    window->UndoClick();
    ASSERT_TRUE(finished.wait(kRunTimeoutMs));
    EXPECT_TRUE(BytesEqual(tagged, ReadFileBytes(photos_ / "a.jpg")));
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(MainWindow, InputsAreDisabledWhileARunIsInProgress) {
    auto window = MakeWindow();
    Activate(*window);
    Child<FilenameEdit>(*window, "edGpx")->SetText(QString::fromStdString((photos_ / "track.gpx").string()));
    Child<DirectoryEdit>(*window, "edPictures")->SetText(QString::fromStdString(photos_.path().string()));
    auto* gpx = Child<FilenameEdit>(*window, "edGpx");
    auto* pictures = Child<DirectoryEdit>(*window, "edPictures");
    const std::vector<QWidget*> inputs{gpx->Edit(),
                                       gpx->Button(),
                                       pictures->Edit(),
                                       pictures->Button(),
                                       Child<QComboBox>(*window, "cbtimezone"),
                                       Child<SpinEdit>(*window, "edSec"),
                                       Child<ClickLabel>(*window, "LabelOptions")};
    QSignalSpy finished(window.get(), &Tmain::RunFinished);
    QTest::mouseClick(Child<QPushButton>(*window, "Button1"), Qt::LeftButton);
    ASSERT_TRUE(window->RunInProgress());
    for (QWidget* input : inputs) {
        EXPECT_FALSE(input->isEnabled()) << input->objectName().toStdString();
    }
    ASSERT_TRUE(finished.wait(kRunTimeoutMs));
    for (QWidget* input : inputs) {
        EXPECT_TRUE(input->isEnabled()) << input->objectName().toStdString();
    }
}

TEST_F(MainWindow, LogIsSavedAsText) {
    auto window = MakeWindow();
    Activate(*window);
    RunOnce(*window);
    const QString shown = Child<QPlainTextEdit>(*window, "Memo1")->toPlainText();
    const fs::path file = data_ / "protokoll.txt";
    ASSERT_TRUE(window->SaveLogTo(QString::fromStdString(file.string())));
    EXPECT_EQ(ReadFileText(file), shown.toStdString() + "\n");
    EXPECT_NE(shown.indexOf(QStringLiteral("a.jpg Koordinaten gefunden:")), -1);
    EXPECT_FALSE(window->SaveLogTo(QString::fromStdString((data_ / "missing" / "p.txt").string())));
}

}  // namespace
}  // namespace zeloro::test

namespace zeloro::test {
namespace {

// Where a developer asked for them (ZELORO_SCREENSHOT_DIR), pictures of the window as the tests leave it.
void SaveScreenshot(QWidget& window, const char* name) {
    const QByteArray folder = qgetenv("ZELORO_SCREENSHOT_DIR");
    if (!folder.isEmpty()) {
        EXPECT_TRUE(
            window.grab().save(QString::fromLocal8Bit(folder) + QLatin1Char('/') + QLatin1String(name)));
    }
}

// A window over many photos, so that a stop lands while most are still to do.
class StoppedRun : public MainWindow {
protected:
    static constexpr int kPhotos = 62;

    void SetUp() override {
        MainWindow::SetUp();
        WritePhotos();
    }

    // The untagged photos, written anew: each has a point at 12:10:00 UTC.
    void WritePhotos() {
        for (int i = 0; i < kPhotos - 2; ++i) {
            WritePhoto(photos_ / ("c" + std::to_string(100 + i) + ".jpg"), "2010:06:01 12:10:00");
        }
        WritePhoto(photos_ / "a.jpg", "2010:06:01 12:00:05");
    }

    void Start(Tmain& window) {
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        Activate(window);
        Child<FilenameEdit>(window, "edGpx")
            ->SetText(QString::fromStdString((photos_ / "track.gpx").string()));
        Child<DirectoryEdit>(window, "edPictures")->SetText(QString::fromStdString(photos_.path().string()));
        Child<QComboBox>(window, "cbtimezone")->setCurrentIndex(kZoneIndexUtc);
        QTest::mouseClick(Child<QPushButton>(window, "Button1"), Qt::LeftButton);
        ASSERT_TRUE(window.RunInProgress());
    }

    // The log's last line is the stop line; the photos done are fewer than all.
    static void ExpectStopLine(Tmain& window) {
        const std::vector<std::string> lines = LogLines(*Child<QPlainTextEdit>(window, "Memo1"));
        ASSERT_FALSE(lines.empty());
        static const QRegularExpression stop(
            QStringLiteral(R"(^ - Lauf abgebrochen: (\d+) von 62 Bildern bearbeitet\.$)"));
        const QRegularExpressionMatch match = stop.match(QString::fromStdString(lines.back()));
        ASSERT_TRUE(match.hasMatch()) << lines.back();
        EXPECT_LT(match.captured(1).toInt(), kPhotos);
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [](const std::string& line) {
                                    return line.find("Lauf abgebrochen") != std::string::npos;
                                }),
                  1);
    }
};

TEST_F(StoppedRun, AbbrechenAndEscEndTheRunAfterThePhotoInHand) {
    MessageRecorder boxes;
    for (const bool byKey : {false, true}) {
        WritePhotos();
        std::map<fs::path, Bytes> before;
        for (const auto& entry : fs::recursive_directory_iterator(photos_.path())) {
            if (entry.path().extension() == ".jpg") {
                before[entry.path()] = ReadFileBytes(entry.path());
            }
        }
        auto window = MakeWindow();
        Start(*window);
        QSignalSpy finished(window.get(), &Tmain::RunFinished);
        if (byKey) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        } else {
            QTest::mouseClick(Child<QPushButton>(*window, "ButtonStop"), Qt::LeftButton);
        }
        ASSERT_TRUE(finished.wait(kRunTimeoutMs));
        ExpectStopLine(*window);
        EXPECT_EQ(Child<ColorProgressBar>(*window, "status")->Position(), 0);
        EXPECT_TRUE(Child<QPushButton>(*window, "Button1")->isVisible());
        EXPECT_TRUE(window->isVisible());  // stopping is not closing
        EXPECT_EQ(ended_, 0);
        // Every photo the stop left alone is untouched: the ones rewritten are exactly the map entries.
        std::size_t rewritten = 0;
        for (const auto& [path, bytes] : before) {
            rewritten += BytesEqual(bytes, ReadFileBytes(path)) ? 0U : 1U;
        }
        EXPECT_EQ(rewritten, window->Session().MapEntries().size());
        EXPECT_LT(rewritten, static_cast<std::size_t>(kPhotos) - 1);
        if (!byKey) {
            SaveScreenshot(*window, "stopped-run.png");
        }
        EXPECT_TRUE(boxes.boxes.empty());
    }
}

TEST_F(StoppedRun, BeendenDuringARunStopsItThenEnds) {
    for (const char* control : {"Button3", "Image2"}) {
        auto window = MakeWindow();
        Start(*window);
        ended_ = 0;
        QSignalSpy finished(window.get(), &Tmain::RunFinished);
        QTest::mouseClick(Child<QWidget>(*window, control), Qt::LeftButton, {}, QPoint(17, 12));
        EXPECT_EQ(ended_, 0) << control;  // not before the photo in hand is done
        ASSERT_TRUE(finished.wait(kRunTimeoutMs));
        ExpectStopLine(*window);
        EXPECT_EQ(ended_, 1) << control;
        EXPECT_EQ(CountTrackPoints(data_ / "zeloro.sqlite"), 0) << control;
    }
}

TEST_F(MainWindow, MissingPhotoFolderIsRefusedBeforeTheRun) {
    MessageRecorder boxes;
    auto window = MakeWindow();
    Activate(*window);
    const std::string missing = (photos_.path() / "Urlab").string();
    Child<FilenameEdit>(*window, "edGpx")->SetText(QString::fromStdString((photos_ / "track.gpx").string()));
    Child<DirectoryEdit>(*window, "edPictures")->SetText(QString::fromStdString(missing));
    QTest::mouseClick(Child<QPushButton>(*window, "Button1"), Qt::LeftButton);
    EXPECT_FALSE(window->RunInProgress());
    ASSERT_EQ(boxes.boxes.size(), 1U);
    EXPECT_EQ(boxes.boxes[0].text.toStdString(), "Der Bildordner '" + missing + "' existiert nicht.");
    EXPECT_EQ(boxes.boxes[0].caption.toStdString(), "Fehler");
    Child<DirectoryEdit>(*window, "edPictures")
        ->SetText(QString::fromStdString((photos_ / "a.jpg").string()));
    QTest::mouseClick(Child<QPushButton>(*window, "Button1"), Qt::LeftButton);
    ASSERT_EQ(boxes.boxes.size(), 2U);
    EXPECT_EQ(boxes.boxes[1].text.toStdString(),
              "Der Bildordner '" + (photos_ / "a.jpg").string() + "' ist kein Ordner.");
    EXPECT_TRUE(Child<QPlainTextEdit>(*window, "Memo1")->toPlainText().isEmpty());
    EXPECT_EQ(CountTrackPoints(data_ / "zeloro.sqlite"), 0);

    // An empty GPX path is still named first, as before.
    Child<FilenameEdit>(*window, "edGpx")->Clear();
    QSignalSpy finished(window.get(), &Tmain::RunFinished);
    QTest::mouseClick(Child<QPushButton>(*window, "Button1"), Qt::LeftButton);
    ASSERT_TRUE(finished.wait(kRunTimeoutMs));
    ASSERT_EQ(boxes.boxes.size(), 3U);
    EXPECT_EQ(boxes.boxes[2].text.toStdString(), "Bitte geben Sie eine gpx-Datei an!");
}

TEST_F(MainWindow, HilfeAndMapsNameTheFileNoProgramCouldOpen) {
    MessageRecorder boxes;
    openFailure_ = QStringLiteral("kein Programm für diesen Dateityp gefunden");
    auto window = MakeWindow();
    Activate(*window);
    QTest::mouseClick(Child<QWidget>(*window, "Label8"), Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_EQ(boxes.boxes.size(), 1U);
    ASSERT_EQ(opened_.size(), 1U);
    EXPECT_EQ(boxes.boxes[0].text.toStdString(),
              "Die Datei " + opened_[0] +
                  " konnte nicht geöffnet werden: kein Programm für diesen Dateityp gefunden.");
    EXPECT_EQ(boxes.boxes[0].caption.toStdString(), "Fehler");
    RunOnce(*window);
    QTest::mouseClick(Child<QPushButton>(*window, "Button4"), Qt::LeftButton);
    ASSERT_EQ(boxes.boxes.size(), 2U);
    const std::string page = (data_.path() / "maps" / "index.html").string();
    EXPECT_NE(boxes.boxes[1].text.toStdString().find("Die Datei " + page + " konnte nicht geöffnet werden"),
              std::string::npos);
}

// The real opener: the desktop's xdg-open, found on PATH. Its failure status and its absence both reach
// the box; what the box shows is decided when the opener has ended.
TEST_F(MainWindow, DesktopOpenerFailureIsShown) {
    MessageRecorder boxes;
    TempDir bin;
    WriteFileText(bin / "xdg-open", "#!/bin/sh\nexit 3\n");
    fs::permissions(bin / "xdg-open", fs::perms::owner_all);
    MainOptions options;
    options.resolveDataFolder = [this] { return dataFolder_; };
    options.endApplication = [] {};
    Tmain window(std::move(options));
    {
        const ScopedVariable path("PATH", bin.path().c_str());
        window.Label8Click();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes.size(), std::size_t{1}, kRunTimeoutMs);
    }
    EXPECT_TRUE(boxes.boxes[0].text.endsWith(
        QStringLiteral("doku.pdf konnte nicht geöffnet werden: kein Programm für "
                       "diesen Dateityp gefunden.")))
        << boxes.boxes[0].text.toStdString();
    fs::remove(bin / "xdg-open");
    {
        const ScopedVariable path("PATH", bin.path().c_str());
        window.Label8Click();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes.size(), std::size_t{2}, kRunTimeoutMs);
    }
    EXPECT_TRUE(
        boxes.boxes[1].text.endsWith(QStringLiteral("das Programm xdg-open kann nicht gestartet werden.")))
        << boxes.boxes[1].text.toStdString();
}

// "Details im Protokoll": the reason behind a miss, and photos in subfolders by their path. Off, the
// log is the one it always was (see the run test above).
TEST_F(MainWindow, DetailsOptionExplainsMissesInTheLog) {
    MessageRecorder boxes;
    auto window = MakeWindow();
    window->show();
    Activate(*window);
    WithOptionsDialog(*window, [](OptionsDialog& dialog) {
        auto* details = dialog.findChild<QCheckBox*>(QStringLiteral("cbExplain"));
        ASSERT_NE(details, nullptr);
        EXPECT_EQ(details->text().remove(QLatin1Char('&')), QStringLiteral("Details im Protokoll"));
        details->setChecked(true);
        dialog.accept();
    });
    EXPECT_TRUE(window->RunOptions().explain);
    EXPECT_EQ(Child<ClickLabel>(*window, "LabelOptions")->text(), QStringLiteral("Optionen (aktiv)"));
    WritePhoto(photos_.path() / "sub" / "c.jpg", "2010:06:01 12:00:09");
    RunOnce(*window);
    const std::vector<std::string> lines = LogLines(*Child<QPlainTextEdit>(*window, "Memo1"));
    const std::vector<std::string> want = {
        " - Lese Bilddateien",
        " - 3 Bilder im Verzeichnis gefunden",
        " - Starte Datenbankimport",
        " - 2 Datensätze gelesen und importiert",
        " - a.jpg Koordinaten gefunden:",
        " - 48.5,11.25 getaggt!",
        " - sub/b.jpg keine Koordinaten gefunden",
        " - Grund: Aufnahmezeit 2010-06-01 15:00:00 UTC liegt außerhalb der Tracks (2010-06-01 12:00:05 bis "
        "2010-06-01 12:10:00 UTC)",
        " - sub/c.jpg keine Koordinaten gefunden",
        " - Grund: kein Trackpunkt innerhalb von 0 s; der nächste (2010-06-01 12:00:05 UTC) liegt 4 s von "
        "der "
        "Aufnahmezeit 2010-06-01 12:00:09 UTC entfernt",
    };
    EXPECT_EQ(lines, want);
    EXPECT_TRUE(boxes.boxes.empty());
    SaveScreenshot(*window, "details-log.png");
}

// "Zeitzone aus dem Track" and "Ortsnamen eintragen": the zone named in the log, the place in the photo.
TEST_F(MainWindow, PlaceOptionsNameZoneAndPlace) {
    MessageRecorder boxes;
    auto window = MakeWindow();
    window->show();
    Activate(*window);
    WithOptionsDialog(*window, [](OptionsDialog& dialog) {
        auto* zone = dialog.findChild<QCheckBox*>(QStringLiteral("cbZoneFromTrack"));
        auto* places = dialog.findChild<QCheckBox*>(QStringLiteral("cbPlaces"));
        auto* replace = dialog.findChild<QCheckBox*>(QStringLiteral("cbPlacesReplace"));
        ASSERT_NE(zone, nullptr);
        ASSERT_NE(places, nullptr);
        ASSERT_NE(replace, nullptr);
        EXPECT_EQ(zone->text().remove(QLatin1Char('&')), QStringLiteral("Zeitzone aus dem Track"));
        EXPECT_EQ(places->text().remove(QLatin1Char('&')), QStringLiteral("Ortsnamen eintragen"));
        EXPECT_FALSE(replace->isEnabled());
        zone->setChecked(true);
        places->setChecked(true);
        EXPECT_TRUE(replace->isEnabled());
        dialog.accept();
    });
    const std::optional<RunSettings> settings = window->RunOptions().Settings();
    ASSERT_TRUE(settings);
    EXPECT_TRUE(settings->zoneFromTrack);
    EXPECT_EQ(settings->places, PlacesMode::fill);
    // The camera ran on summer time in Bavaria: 14:00:05 there is the track's 12:00:05 UTC.
    WritePhoto(photos_ / "a.jpg", "2010:06:01 14:00:05");
    WriteFileText(photos_ / "track.gpx", GpxText({{"48.5", "11.25", "2010-06-01T12:00:05Z", {}}}));
    RunOnce(*window);
    const std::vector<std::string> lines = LogLines(*Child<QPlainTextEdit>(*window, "Memo1"));
    ASSERT_GE(lines.size(), 6U);
    EXPECT_EQ(lines[4], " - Zeitzone aus dem Track: Europe/Berlin");
    EXPECT_EQ(lines[5], " - a.jpg Koordinaten gefunden:");
    const std::string photo = ReadFileText(photos_.path() / "a.jpg");
    EXPECT_NE(photo.find("<photoshop:Country>Deutschland</photoshop:Country>"), std::string::npos);
    EXPECT_NE(photo.find("<Iptc4xmpCore:CountryCode>DE</Iptc4xmpCore:CountryCode>"), std::string::npos);
    EXPECT_TRUE(boxes.boxes.empty());
}

}  // namespace
}  // namespace zeloro::test
