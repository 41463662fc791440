// The window's results: the table a run fills, its filter and sorting, "Probelauf" and "Jetzt schreiben",
// and the clock dialog, driven as a user would.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "QtTestApp.h"
#include "SamplePhoto.h"
#include "app/BrowseEdit.h"
#include "app/ClockDialog.h"
#include "app/ColorProgressBar.h"
#include "app/FileDialogs.h"
#include "app/MainForm.h"
#include "app/ResultsTable.h"
#include "app/SpinEdit.h"
#include "support/ExifRead.h"
#include "support/GpxText.h"
#include "support/TestSupport.h"
#include "tagging/ClockMatch.h"
#include "tagging/ClockSentence.h"
#include "tagging/RunSummary.h"
#include "tagging/TaggingSession.h"
#include "time/TimeRules.h"

namespace zeloro::test {
namespace {

namespace fs = std::filesystem;

constexpr int kRunTimeoutMs = 60000;

struct TrackPoint {
    const char* lat;
    const char* lon;
    const char* utc;  // "2010-06-01 12:00:05"
};
constexpr TrackPoint kHarbour{"48.5", "11.25", "2010-06-01 12:00:05"};
constexpr TrackPoint kBridge{"-33.8567", "151.215", "2010-06-01 12:10:00"};
constexpr int kTolerance = 5;

// "2010:06:01 12:00:05" as a camera writes it, from the track's "2010-06-01 12:00:05".
std::string CameraText(std::string text) {
    text[4] = ':';
    text[7] = ':';
    return text;
}

void WritePhoto(const fs::path& path, const std::optional<std::string>& shot, int scene = 0) {
    sample::PhotoSpec spec;
    spec.width = 64;
    spec.height = 48;
    spec.scene = scene;
    spec.dateTimeOriginal = shot;
    const sample::ByteVector bytes = sample::MakePhoto(spec);
    WriteFileBytes(path, Bytes(bytes.begin(), bytes.end()));
}

// A log line without its stamp "dd.mm.yyyy[ hh:nn:ss]".
std::string WithoutStamp(const std::string& line) {
    static const QRegularExpression stamp(QStringLiteral(R"(^\d\d\.\d\d\.\d{4}( \d\d:\d\d:\d\d)?(?= - ))"));
    const QString text = QString::fromStdString(line);
    const QRegularExpressionMatch match = stamp.match(text);
    return match.hasMatch() ? text.mid(match.capturedLength()).toStdString() : "<no stamp> " + line;
}

// The session's own reports, as a front end that shows nothing would get them.
class RecordingObserver : public RunObserver {
public:
    void AppendLine(const std::string& line) override { lines.push_back(WithoutStamp(line)); }
    void SetProgressMax(int /*maximum*/) override {}
    void SetProgressPosition(int /*position*/) override {}
    void ShowError(const std::string& text) override { lines.push_back("ERROR " + text); }
    std::vector<std::string> lines;
};

// What one row of the table shows, by column.
struct ShownRow {
    std::string file;
    std::string camera;
    std::string utc;
    std::string status;
    std::string position;
    std::string distance;
    std::string reason;
    std::string statusTip;
};

class Results : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        (void)TestApplication();
        InitApplication();
        KeepSettingsInTestFolder();
    }

    void SetUp() override {
        QSettings().clear();
        fs::copy_file(BuildDir() / "zeloro.sqlite", data_ / "zeloro.sqlite");
        fs::create_directory(data_ / "maps");
        fs::create_directory(photos_ / "sub");
        WritePhoto(photos_ / "a.jpg", CameraText(kHarbour.utc), 1);
        WritePhoto(photos_ / "c.jpg", CameraText("2010-06-01 12:09:57"), 2);  // 3 s before the bridge
        WritePhoto(photos_ / "sub" / "b.jpg", CameraText("2010-06-01 15:00:00"), 3);
        WriteTrack(photos_ / "track.gpx");
    }

    static void WriteTrack(const fs::path& path) {
        const auto point = [](const TrackPoint& p) {
            std::string time = p.utc;
            time[10] = 'T';
            return GpxPoint{p.lat, p.lon, time + "Z", {}};
        };
        WriteFileText(path, GpxText({point(kHarbour), point(kBridge)}));
    }

    std::unique_ptr<Tmain> MakeWindow() {
        MainOptions options;
        const std::string folder = data_.path().string() + "/";
        options.resolveDataFolder = [folder] { return folder; };
        options.now = [] { return EncodeDateTime(2021, 7, 1, 12, 0, 0, 0); };
        options.openDocument = [this](const QString& path, const std::function<void(const QString&)>&) {
            opened_.push_back(path.toStdString());
        };
        options.endApplication = [] {};
        auto window = std::make_unique<Tmain>(std::move(options));
        QEvent activate(QEvent::WindowActivate);
        QApplication::sendEvent(window.get(), &activate);
        EXPECT_TRUE(window->Session().Connected());
        return window;
    }

    template <typename T>
    static T* Child(Tmain& window, const char* name) {
        T* child = window.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }

    void FillForm(Tmain& window, int zoneIndex = kZoneIndexUtc) {
        Child<FilenameEdit>(window, "edGpx")
            ->SetText(QString::fromStdString((photos_ / "track.gpx").string()));
        Child<DirectoryEdit>(window, "edPictures")->SetText(QString::fromStdString(photos_.path().string()));
        Child<QComboBox>(window, "cbtimezone")->setCurrentIndex(zoneIndex);
        Child<SpinEdit>(window, "edSec")->setValue(kTolerance);
    }

    // Clicks the button and waits until the run it started has ended.
    static void ClickAndWait(Tmain& window, QPushButton* button) {
        QSignalSpy finished(&window, &Tmain::RunFinished);
        ASSERT_TRUE(button->isEnabled()) << button->objectName().toStdString();
        QTest::mouseClick(button, Qt::LeftButton);
        ASSERT_TRUE(finished.wait(kRunTimeoutMs));
    }

    // The rows as the view shows them, top to bottom, keyed by nothing: the view's own order.
    static std::vector<ShownRow> ShownRows(const QTableView& table) {
        std::vector<ShownRow> rows;
        const QAbstractItemModel& model = *table.model();
        const auto text = [&model](int row, int column) {
            return model.index(row, column).data().toString().toStdString();
        };
        for (int row = 0; row < model.rowCount(); ++row) {
            rows.push_back(
                {text(row, ResultsModel::kFile), text(row, ResultsModel::kShotCamera),
                 text(row, ResultsModel::kShotUtc), text(row, ResultsModel::kStatus),
                 text(row, ResultsModel::kPosition), text(row, ResultsModel::kDistance),
                 text(row, ResultsModel::kReason),
                 model.index(row, ResultsModel::kStatus).data(Qt::ToolTipRole).toString().toStdString()});
        }
        return rows;
    }

    static std::map<std::string, ShownRow> RowsByFile(const QTableView& table) {
        std::map<std::string, ShownRow> rows;
        for (const ShownRow& row : ShownRows(table)) {
            rows[row.file] = row;
        }
        return rows;
    }

    std::map<fs::path, Bytes> PhotoBytes() const {
        std::map<fs::path, Bytes> bytes;
        for (const auto& entry : fs::recursive_directory_iterator(photos_.path())) {
            if (entry.path().extension() == ".jpg") {
                bytes[entry.path()] = ReadFileBytes(entry.path());
            }
        }
        return bytes;
    }

    // The table's time text of a track time "2010-06-01 12:00:05" moved by seconds.
    static std::string TimeText(const char* utc, int seconds = 0) {
        return ResultTimeText(TimeFromText(utc) + seconds / kSecsPerDay).toStdString();
    }

    TempDir data_;
    TempDir photos_;
    std::vector<std::string> opened_;
};

TEST_F(Results, AStartenRunFillsOneRowPerPhotoAndTheSummary) {
    MessageRecorder boxes;
    auto window = MakeWindow();
    EXPECT_EQ(window->size(), QSize(kWindowWidth, kWindowHeight));
    // A run that stops at its input check has nothing to show: its box says why, the window stays as it is.
    ClickAndWait(*window, Child<QPushButton>(*window, "Button1"));
    ASSERT_EQ(boxes.boxes.size(), 1U);
    EXPECT_EQ(boxes.boxes[0].text.toStdString(), kNoGpxFileMessage);
    EXPECT_EQ(window->size(), QSize(kWindowWidth, kWindowHeight));
    EXPECT_TRUE(Child<QWidget>(*window, "resultsArea")->isHidden());
    boxes.boxes.clear();
    FillForm(*window);
    ClickAndWait(*window, Child<QPushButton>(*window, "Button1"));
    EXPECT_TRUE(boxes.boxes.empty());
    // The window has grown downward to show the area, its top left where it was.
    EXPECT_EQ(window->size(), QSize(kWindowWidth, kWindowHeightWithResults));
    EXPECT_FALSE(Child<QWidget>(*window, "resultsArea")->isHidden());

    struct Expected {
        std::string file;
        std::string utc;
        std::string status;
        std::string position;
        std::string distance;
        bool reason;  // a miss says why
    };
    const std::vector<Expected> want{
        {"a.jpg", TimeText(kHarbour.utc), "getaggt", std::string(kHarbour.lat) + ", " + kHarbour.lon, "0",
         false},
        {"c.jpg", TimeText(kBridge.utc, -3), "getaggt", std::string(kBridge.lat) + ", " + kBridge.lon, "3",
         false},
        {"b.jpg", TimeText("2010-06-01 15:00:00"), "ohne Treffer", "", "", true},
    };
    const auto* table = Child<QTableView>(*window, "tvResults");
    const std::map<std::string, ShownRow> rows = RowsByFile(*table);
    ASSERT_EQ(rows.size(), want.size());
    RunCounts counts;
    for (const Expected& w : want) {
        ASSERT_TRUE(rows.contains(w.file)) << w.file;
        const ShownRow& row = rows.at(w.file);
        EXPECT_EQ(row.camera, w.utc) << w.file;  // the camera ran in UTC
        EXPECT_EQ(row.utc, w.utc) << w.file;
        EXPECT_EQ(row.status, w.status) << w.file;
        EXPECT_EQ(row.position, w.position) << w.file;
        EXPECT_EQ(row.distance, w.distance) << w.file;
        EXPECT_EQ(!row.reason.empty(), w.reason) << w.file << ": " << row.reason;
        EXPECT_FALSE(row.reason.starts_with("Grund")) << row.reason;  // the column's title says it
        // The status's tip holds what the narrow table shows only when scrolled sideways.
        EXPECT_EQ(row.statusTip,
                  w.reason ? row.reason
                           : "Position: " + w.position + ", Abstand zum Trackpunkt: " + w.distance + " s")
            << w.file;
        counts.Add(w.status == "getaggt" ? PhotoStatus::tagged : PhotoStatus::noMatch);
    }
    // The summary is the command line's, with the run's time after the counts.
    const std::string summary = Child<QLabel>(*window, "lblSummary")->text().toStdString();
    const std::string line = SummaryLine(counts, 0, false);
    const std::string counted = line.substr(0, line.rfind(", ") + 2);
    EXPECT_TRUE(summary.starts_with(counted)) << summary;
    EXPECT_TRUE(summary.ends_with(" s")) << summary;
    // The bar counted every photo and is empty again at the end, as a run leaves it; the count stays in
    // the summary.
    const auto* status = Child<ColorProgressBar>(*window, "status");
    EXPECT_EQ(status->Position(), 0);
    EXPECT_EQ(status->Max(), static_cast<int>(want.size()));
    // The "Ort" column only shows when the run writes place names.
    EXPECT_TRUE(table->isColumnHidden(ResultsModel::kPlace));

    // "Leeren" takes the rows and the area away.
    QTest::mouseClick(Child<QPushButton>(*window, "Button2"), Qt::LeftButton);
    EXPECT_EQ(table->model()->rowCount(), 0);
    EXPECT_TRUE(Child<QLabel>(*window, "lblSummary")->text().isEmpty());
    EXPECT_EQ(window->size(), QSize(kWindowWidth, kWindowHeight));
}

// Every status once: a run that skips the photos a first run tagged, tags a new one, misses one and goes
// on over a photo it cannot read.
// The area on its own, fed as the window's observer feeds it.
TEST_F(Results, ReportsReachTheTableInBatchesWhileTheCountRuns) {
    ResultsArea area(nullptr);
    const std::vector<PhotoStatus> cycle{PhotoStatus::tagged, PhotoStatus::tagged, PhotoStatus::noMatch,
                                         PhotoStatus::skipped, PhotoStatus::failed};
    constexpr int kPhotos = 10000;
    area.Begin(true, true);
    EXPECT_FALSE(area.Table()->isColumnHidden(ResultsModel::kPlace));
    area.SetProgressMax(kPhotos);
    EXPECT_EQ(area.SummaryText().toStdString(), "0 / " + std::to_string(kPhotos));
    QSignalSpy inserted(&area.Model(), &QAbstractItemModel::rowsInserted);
    RunCounts counts;
    for (int i = 0; i < kPhotos; ++i) {
        PhotoReport report;
        report.path = "/fotos/IMG_" + std::to_string(i) + ".jpg";
        report.status = cycle[static_cast<std::size_t>(i) % cycle.size()];
        if (report.status == PhotoStatus::tagged) {
            report.lat = "47.5";
            report.lon = "9.25";
            report.distanceSeconds = i % 7;
            report.place = PlaceNames{"Konstanz", "Baden-Württemberg", "Deutschland", "DE"};
        }
        counts.Add(report.status);
        area.Add(report);
        area.SetProgressPosition(i + 1);
        if (i == 411) {
            EXPECT_EQ(area.SummaryText().toStdString(), "412 / " + std::to_string(kPhotos));
        }
    }
    // Nothing has reached the view while the reports came in one by one; then they come in few steps.
    EXPECT_EQ(area.Model().rowCount(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(area.Model().rowCount(), kPhotos, 5000);
    EXPECT_LT(inserted.size(), 10);
    area.Finish(2.5);
    EXPECT_EQ(area.SummaryText().toStdString(), SummaryLine(counts, 2.5, true));
    const QModelIndex first = area.Model().index(0, ResultsModel::kPlace);
    EXPECT_EQ(first.data().toString().toStdString(), "Konstanz, Deutschland");
    EXPECT_EQ(area.Model().index(0, ResultsModel::kStatus).data().toString().toStdString(), "würde getaggt");

    // A run that ended at the input check shows no summary; a run without places hides "Ort".
    area.Begin(false, false);
    EXPECT_TRUE(area.Table()->isColumnHidden(ResultsModel::kPlace));
    EXPECT_EQ(area.Model().rowCount(), 0);
    area.Finish(0.1);
    EXPECT_TRUE(area.SummaryText().isEmpty());
}

TEST_F(Results, FilterShowsOneStatusAndHeadersSort) {
    MessageRecorder boxes;
    auto window = MakeWindow();
    FillForm(*window);
    ClickAndWait(*window, Child<QPushButton>(*window, "Button1"));
    WritePhoto(photos_ / "e.jpg", CameraText(kHarbour.utc), 4);
    WriteFileText(photos_ / "x.jpg", "kein Foto");
    WindowRunOptions options;
    options.skipTagged = true;
    options.keepGoing = true;
    window->SetRunOptions(options);
    ClickAndWait(*window, Child<QPushButton>(*window, "Button1"));
    EXPECT_TRUE(boxes.boxes.empty());

    const std::map<std::string, std::string> statusOf{{"a.jpg", "übersprungen"},
                                                      {"c.jpg", "übersprungen"},
                                                      {"e.jpg", "getaggt"},
                                                      {"b.jpg", "ohne Treffer"},
                                                      {"x.jpg", "Fehler"}};
    auto* table = Child<QTableView>(*window, "tvResults");
    auto* filter = Child<QComboBox>(*window, "cbResultFilter");
    ASSERT_EQ(filter->count(), 5);
    for (int item = 0; item < filter->count(); ++item) {
        filter->setCurrentIndex(item);
        const std::string chosen = filter->itemText(item).toStdString();
        std::set<std::string> want;
        for (const auto& [file, status] : statusOf) {
            if (item == 0 || status == chosen) {
                want.insert(file);
            }
        }
        std::set<std::string> shown;
        for (const ShownRow& row : ShownRows(*table)) {
            shown.insert(row.file);
            EXPECT_TRUE(item == 0 || row.status == chosen) << chosen << ": " << row.file;
        }
        EXPECT_EQ(shown, want) << chosen;
    }
    EXPECT_EQ(filter->itemText(0).toStdString(), "Alle");
    filter->setCurrentIndex(0);
    // The photo that could not be read names the error.
    EXPECT_FALSE(RowsByFile(*table).at("x.jpg").reason.empty());

    // A click on a header sorts by it, a second click the other way round.
    QHeaderView* header = table->horizontalHeader();
    const auto clickHeader = [&](int column) {
        table->scrollTo(table->model()->index(0, column));
        const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
    };
    const auto column = [&](int c) {
        std::vector<QVariant> values;
        for (int row = 0; row < table->model()->rowCount(); ++row) {
            values.push_back(table->model()->index(row, c).data(ResultsModel::kSortRole));
        }
        return values;
    };
    struct SortCase {
        int column;
        std::function<bool(const QVariant&, const QVariant&)> before;
    };
    const std::vector<SortCase> sorts{
        {ResultsModel::kShotUtc,
         [](const QVariant& a, const QVariant& b) { return a.toDouble() <= b.toDouble(); }},
        {ResultsModel::kFile,
         [](const QVariant& a, const QVariant& b) { return a.toString() <= b.toString(); }},
        {ResultsModel::kStatus, [](const QVariant& a, const QVariant& b) {
             return QString::localeAwareCompare(a.toString(), b.toString()) <= 0;
         }}};
    for (const SortCase& sort : sorts) {
        clickHeader(sort.column);
        std::vector<QVariant> values = column(sort.column);
        ASSERT_EQ(values.size(), statusOf.size());
        for (std::size_t i = 1; i < values.size(); ++i) {
            EXPECT_TRUE(sort.before(values[i - 1], values[i])) << "column " << sort.column << " row " << i;
        }
        clickHeader(sort.column);
        values = column(sort.column);
        for (std::size_t i = 1; i < values.size(); ++i) {
            EXPECT_TRUE(sort.before(values[i], values[i - 1]))
                << "column " << sort.column << " down, row " << i;
        }
        // Not every value is the same, so the two orders differ.
        EXPECT_NE(values.front(), values.back()) << "column " << sort.column;
    }
}

TEST_F(Results, DoubleClickAndEnterOpenThePhotosFolder) {
    MessageRecorder boxes;
    auto window = MakeWindow();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    FillForm(*window);
    ClickAndWait(*window, Child<QPushButton>(*window, "Button1"));
    auto* table = Child<QTableView>(*window, "tvResults");
    const auto rowOf = [&](const std::string& file) {
        for (int row = 0; row < table->model()->rowCount(); ++row) {
            if (table->model()->index(row, ResultsModel::kFile).data().toString().toStdString() == file) {
                return row;
            }
        }
        ADD_FAILURE() << file;
        return 0;
    };
    const QRect b = table->visualRect(table->model()->index(rowOf("b.jpg"), ResultsModel::kFile));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, b.center());
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, b.center());
    ASSERT_EQ(opened_.size(), 1U);
    EXPECT_EQ(fs::path(opened_[0]), photos_ / "sub");

    table->setFocus();
    table->setCurrentIndex(table->model()->index(rowOf("a.jpg"), ResultsModel::kFile));
    QTest::keyClick(table, Qt::Key_Return);
    ASSERT_EQ(opened_.size(), 2U);
    EXPECT_EQ(fs::path(opened_[1]), photos_.path());
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(Results, ProbelaufWritesNothingAndJetztSchreibenWritesWhatItShowed) {
    MessageRecorder boxes;
    auto window = MakeWindow();
    FillForm(*window);
    auto* write = Child<QPushButton>(*window, "ButtonWrite");
    EXPECT_FALSE(write->isEnabled());
    const std::map<fs::path, Bytes> before = PhotoBytes();

    ClickAndWait(*window, Child<QPushButton>(*window, "ButtonPreview"));
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(PhotoBytes(), before);
    EXPECT_EQ(window->size(), QSize(kWindowWidth, kWindowHeightWithResults));
    auto* table = Child<QTableView>(*window, "tvResults");
    std::map<std::string, ShownRow> shown = RowsByFile(*table);
    ASSERT_EQ(shown.size(), 3U);
    EXPECT_EQ(shown.at("a.jpg").status, "würde getaggt");
    EXPECT_EQ(shown.at("c.jpg").status, "würde getaggt");
    EXPECT_EQ(shown.at("b.jpg").status, "ohne Treffer");
    EXPECT_TRUE(Child<QLabel>(*window, "lblSummary")
                    ->text()
                    .startsWith(QStringLiteral("Zusammenfassung: 2 würden getaggt")));

    // Offered only while the form is the one the dry run was made with.
    ASSERT_TRUE(write->isEnabled());
    const std::vector<std::function<void(bool)>> changes{
        [&](bool back) { Child<SpinEdit>(*window, "edSec")->setValue(back ? kTolerance : kTolerance + 1); },
        [&](bool back) {
            Child<QComboBox>(*window, "cbtimezone")->setCurrentIndex(back ? kZoneIndexUtc : 0);
        },
        [&](bool back) {
            WindowRunOptions options;
            options.altitude = !back;
            window->SetRunOptions(options);
        },
        [&](bool back) {
            Child<FilenameEdit>(*window, "edGpx")
                ->SetText(back ? QString::fromStdString((photos_ / "track.gpx").string())
                               : QStringLiteral("x.gpx"));
        },
    };
    for (std::size_t i = 0; i < changes.size(); ++i) {
        changes[i](false);
        EXPECT_FALSE(write->isEnabled()) << "change " << i;
        changes[i](true);
        EXPECT_TRUE(write->isEnabled()) << "change " << i << " undone";
    }

    // c.jpg changes after the dry run: it is matched again and marked so.
    WritePhoto(photos_ / "c.jpg", CameraText(kHarbour.utc), 5);
    const Bytes missed = ReadFileBytes(photos_ / "sub" / "b.jpg");
    ClickAndWait(*window, write);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_FALSE(write->isEnabled());  // the plan is used up
    EXPECT_EQ(window->Session().LastPreview(), nullptr);
    const std::map<std::string, ShownRow> written = RowsByFile(*table);
    ASSERT_EQ(written.size(), 3U);
    EXPECT_EQ(written.at("a.jpg").status, "getaggt");
    EXPECT_EQ(written.at("a.jpg").position, shown.at("a.jpg").position);
    EXPECT_TRUE(written.at("a.jpg").reason.empty());
    EXPECT_EQ(written.at("c.jpg").status, "getaggt");
    EXPECT_TRUE(written.at("c.jpg").reason.starts_with("neu abgeglichen")) << written.at("c.jpg").reason;
    EXPECT_EQ(written.at("c.jpg").position, std::string(kHarbour.lat) + ", " + kHarbour.lon);
    // Each photo holds exactly the position its row shows; the miss is untouched.
    for (const char* file : {"a.jpg", "c.jpg"}) {
        const std::optional<GpsPosition> gps = GpsPositionOf(photos_ / file);
        ASSERT_TRUE(gps) << file;
        const std::string& position = written.at(file).position;
        const std::size_t comma = position.find(", ");
        EXPECT_NEAR(gps->lat, std::stod(position.substr(0, comma)), 1e-6) << file;
        EXPECT_NEAR(gps->lon, std::stod(position.substr(comma + 2)), 1e-6) << file;
    }
    EXPECT_EQ(ReadFileBytes(photos_ / "sub" / "b.jpg"), missed);
}

// Without touching the new controls, "Starten" runs exactly the session's run: the same log, the same
// photo bytes and the same map page as the run without a window.
TEST_F(Results, StartenIsTheSessionsRunUnchanged) {
    struct Case {
        const char* name;
        WindowRunOptions options;
    };
    std::vector<Case> cases{{"plain", {}}, {"explain", {}}, {"skipping tagged photos", {}}};
    cases[1].options.explain = true;
    cases[2].options.skipTagged = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir otherData;
        TempDir otherPhotos;
        fs::copy_file(BuildDir() / "zeloro.sqlite", otherData / "zeloro.sqlite");
        fs::create_directory(otherData / "maps");
        fs::copy(photos_.path(), otherPhotos.path(), fs::copy_options::recursive);

        RecordingObserver plain;
        {
            TaggingSession session(otherData.path().string() + "/");
            session.Connect();
            RunInputs inputs;
            inputs.gpxPath = (otherPhotos / "track.gpx").string();
            inputs.folder = otherPhotos.path().string();
            inputs.zoneIndex = kZoneIndexUtc;
            inputs.toleranceSeconds = kTolerance;
            inputs.modes = c.options.Modes();
            ASSERT_EQ(session.Run(inputs, plain, c.options.Settings().value_or(RunSettings{})),
                      RunResult::done);
            ASSERT_TRUE(session.WriteMapPage());
        }

        fs::remove_all(data_ / "maps");
        fs::create_directory(data_ / "maps");
        TempDir windowPhotos;
        fs::copy(photos_.path(), windowPhotos.path(), fs::copy_options::recursive);
        auto window = MakeWindow();
        window->SetRunOptions(c.options);
        Child<FilenameEdit>(*window, "edGpx")
            ->SetText(QString::fromStdString((windowPhotos / "track.gpx").string()));
        Child<DirectoryEdit>(*window, "edPictures")
            ->SetText(QString::fromStdString(windowPhotos.path().string()));
        Child<QComboBox>(*window, "cbtimezone")->setCurrentIndex(kZoneIndexUtc);
        Child<SpinEdit>(*window, "edSec")->setValue(kTolerance);
        ClickAndWait(*window, Child<QPushButton>(*window, "Button1"));
        std::vector<std::string> lines;
        for (const QString& line :
             Child<QPlainTextEdit>(*window, "Memo1")->toPlainText().split(QLatin1Char('\n'))) {
            lines.push_back(WithoutStamp(line.toStdString()));
        }
        EXPECT_EQ(lines, plain.lines);
        for (const char* file : {"a.jpg", "c.jpg", "sub/b.jpg"}) {
            EXPECT_EQ(ReadFileBytes(windowPhotos / file), ReadFileBytes(otherPhotos / file)) << file;
        }
        QTest::mouseClick(Child<QPushButton>(*window, "Button4"), Qt::LeftButton);
        EXPECT_EQ(ReadFileText(data_ / "maps" / "index.html"),
                  ReadFileText(otherData / "maps" / "index.html"));
    }
}

struct ClockCase {
    const char* name;
    int zoneIndex;        // the window's zone of the camera
    const char* shot;     // the camera's clock, "2010:06:01 14:00:05"
    int clockZone;        // the dialog's item: 0 UTC, 1 the camera's zone
    const char* reading;  // what the clock in the photo shows, "2010-06-01 12:01:35"
    std::int64_t offset;
    const char* utc;  // the photo's UTC time with the offset: the clock's reading in UTC
};

// Opens "Uhr abgleichen…" by its link, lets act do what the user does in the dialog, and returns once it
// has closed.
void WithClockDialog(Tmain& window, const std::function<void(ClockDialog&)>& act) {
    bool seen = false;
    QTimer::singleShot(0, &window, [&] {
        auto* dialog = qobject_cast<ClockDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) {
            ADD_FAILURE() << "no clock dialog";
            return;
        }
        seen = true;
        act(*dialog);
        if (dialog->isVisible()) {
            dialog->reject();
        }
    });
    QTest::mouseClick(window.findChild<QLabel*>(QStringLiteral("LabelClock")), Qt::LeftButton);
    EXPECT_TRUE(seen);
}

TEST_F(Results, ClockDialogSetsTheOffsetAndShowsItsDryRun) {
    const std::vector<ClockCase> cases{
        {"GPS clock, camera in UTC, 90 s slow", kZoneIndexUtc, "2010:06:01 12:00:05", 0,
         "2010-06-01 12:01:35", 90, "2010-06-01 12:01:35"},
        {"GPS clock, camera in UTC+2, an hour fast", kZoneIndexSummer, "2010:06:01 14:00:05", 0,
         "2010-06-01 11:00:05", -3600, "2010-06-01 11:00:05"},
        {"phone clock in the camera's zone", kZoneIndexSummer, "2010:06:01 14:00:05", 1,
         "2010-06-01 14:00:35", 30, "2010-06-01 12:00:35"},
    };
    for (const ClockCase& c : cases) {
        SCOPED_TRACE(c.name);
        QSettings().clear();
        MessageRecorder boxes;
        WritePhoto(photos_ / "clock.jpg", c.shot, 6);
        const Bytes photoBefore = ReadFileBytes(photos_ / "clock.jpg");
        auto window = MakeWindow();
        FillForm(*window, c.zoneIndex);
        QSignalSpy finished(window.get(), &Tmain::RunFinished);
        WithClockDialog(*window, [&](ClockDialog& dialog) {
            dialog.SetPhoto(QString::fromStdString((photos_ / "clock.jpg").string()));
            EXPECT_EQ(dialog.findChild<QLabel*>(QStringLiteral("LabelPhotoName"))->text().toStdString(),
                      "clock.jpg");
            auto* edit = dialog.findChild<QDateTimeEdit*>(QStringLiteral("edShownTime"));
            // Prefilled with the shot time: nothing typed yet, the clock reads as the camera did.
            std::string shot = c.shot;
            shot[4] = shot[7] = '-';
            EXPECT_EQ(TimeText(shot.c_str()),
                      edit->dateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")).toStdString());
            EXPECT_FALSE(dialog.findChild<QLabel*>(QStringLiteral("LabelPicture"))->pixmap().isNull());
            dialog.findChild<QComboBox*>(QStringLiteral("cbClockZone"))->setCurrentIndex(c.clockZone);
            const DateTimeValue reading = TimeFromText(c.reading);
            const CalendarDate d = DecodeDate(reading);
            const ClockTime t = DecodeTime(reading);
            edit->setDateTime(
                QDateTime(QDate(d.year, d.month, d.day), QTime(t.hour, t.minute, t.second), Qt::UTC));
            ASSERT_EQ(dialog.Offset(), std::optional<std::int64_t>(c.offset));
            EXPECT_EQ(dialog.findChild<QLabel*>(QStringLiteral("LabelOffset"))->text().toStdString(),
                      ClockSentence(c.offset));
            dialog.accept();
        });
        EXPECT_TRUE(boxes.boxes.empty());
        const std::string offsetText = ClockOffsetText(c.offset);
        EXPECT_EQ(window->RunOptions().offsetText.toStdString(), offsetText);
        EXPECT_EQ(WindowRunOptions::Load().offsetText.toStdString(), offsetText);  // kept for the next start
        // A dry run with the new offset starts at once.
        ASSERT_TRUE(finished.wait(kRunTimeoutMs));
        EXPECT_TRUE(window->Results().Model().DryRun());
        const std::map<std::string, ShownRow> rows = RowsByFile(*Child<QTableView>(*window, "tvResults"));
        ASSERT_TRUE(rows.contains("clock.jpg"));
        EXPECT_EQ(rows.at("clock.jpg").utc, TimeText(c.utc)) << "the photo's UTC time is now the clock's";
        EXPECT_EQ(ReadFileBytes(photos_ / "clock.jpg"), photoBefore);
        EXPECT_TRUE(Child<QPushButton>(*window, "ButtonWrite")->isEnabled());
    }
}

// "Foto wählen…" asks for a photo in the photo folder; cancelling keeps what the dialog showed.
TEST_F(Results, ClockDialogPicksThePhotoInThePhotoFolder) {
    std::vector<FileDialogRequest> asked;
    QString answer = QString::fromStdString((photos_ / "a.jpg").string());
    const FileDialogHook previous = SetFileDialogHook([&](const FileDialogRequest& request) {
        asked.push_back(request);
        return answer;
    });
    auto window = MakeWindow();
    FillForm(*window);
    WithClockDialog(*window, [&](ClockDialog& dialog) {
        auto* choose = dialog.findChild<QPushButton*>(QStringLiteral("ButtonChoosePhoto"));
        auto* name = dialog.findChild<QLabel*>(QStringLiteral("LabelPhotoName"));
        auto* shot = dialog.findChild<QLabel*>(QStringLiteral("LabelShotTime"));
        QTest::mouseClick(choose, Qt::LeftButton);
        ASSERT_EQ(asked.size(), 1U);
        EXPECT_EQ(asked[0].kind, FileDialogKind::openFile);
        EXPECT_EQ(fs::path(asked[0].startFolder.toStdString()), photos_.path());
        EXPECT_EQ(name->text().toStdString(), "a.jpg");
        EXPECT_EQ(shot->text().toStdString(), TimeText(kHarbour.utc));
        EXPECT_EQ(dialog.Offset(), std::optional<std::int64_t>(0));  // the reading starts at the shot time
        answer.clear();
        QTest::mouseClick(choose, Qt::LeftButton);
        EXPECT_EQ(asked.size(), 2U);
        EXPECT_EQ(name->text().toStdString(), "a.jpg");
        EXPECT_EQ(dialog.Offset(), std::optional<std::int64_t>(0));
    });
    EXPECT_FALSE(window->RunInProgress());  // cancelled: no offset, no dry run
    (void)SetFileDialogHook(previous);
}

TEST_F(Results, ClockDialogNamesAPhotoWithoutShotTime) {
    MessageRecorder boxes;
    WritePhoto(photos_ / "blank.jpg", std::nullopt);
    auto window = MakeWindow();
    FillForm(*window);
    WithClockDialog(*window, [&](ClockDialog& dialog) {
        dialog.SetPhoto(QString::fromStdString((photos_ / "blank.jpg").string()));
        const QString text = dialog.findChild<QLabel*>(QStringLiteral("LabelOffset"))->text();
        EXPECT_TRUE(text.contains(QStringLiteral("blank.jpg"))) << text.toStdString();
        EXPECT_FALSE(dialog.Offset());
        auto* buttons = dialog.findChild<QDialogButtonBox*>();
        ASSERT_NE(buttons, nullptr);
        EXPECT_FALSE(buttons->button(QDialogButtonBox::Ok)->isEnabled());
    });
    EXPECT_TRUE(window->RunOptions().offsetText.isEmpty());
    EXPECT_FALSE(window->RunInProgress());
    EXPECT_TRUE(boxes.boxes.empty());
}

}  // namespace
}  // namespace zeloro::test
