// The window's inputs beyond typing: remembered inputs, the zone list under the options, the keyboard
// (Enter, context menus, mnemonics), the file dialogs and dropped paths.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFormLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "QtTestApp.h"
#include "app/BrowseEdit.h"
#include "app/ClickLabel.h"
#include "app/FileDialogs.h"
#include "app/MainForm.h"
#include "app/OptionsDialog.h"
#include "app/SpinEdit.h"
#include "common/DateTime.h"
#include "support/GpxText.h"
#include "support/TestSupport.h"
#include "tagging/TaggingSession.h"
#include "time/TimeRules.h"

namespace zeloro::test {
namespace {

namespace fs = std::filesystem;

constexpr int kRunTimeoutMs = 60000;

QString Q(const fs::path& path) { return QString::fromStdString(path.string()); }

// A label's or button's text as the user sees it: the mnemonic marks dropped.
QString Visible(QString text) { return text.remove(QLatin1Char('&')); }

// Replaces the file dialogs while it lives; each request is recorded and answered by answer.
class DialogRecorder {
public:
    DialogRecorder() {
        previous_ = SetFileDialogHook([this](const FileDialogRequest& request) {
            requests.push_back(request);
            return answer ? answer(request) : QString();
        });
    }
    ~DialogRecorder() { SetFileDialogHook(std::move(previous_)); }
    DialogRecorder(const DialogRecorder&) = delete;
    DialogRecorder& operator=(const DialogRecorder&) = delete;

    std::vector<FileDialogRequest> requests;
    std::function<QString(const FileDialogRequest&)> answer;

private:
    FileDialogHook previous_;
};

class WindowInput : public ::testing::Test {
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
        WriteFileText(photos_ / "track.gpx", GpxText({{"48.5", "11.25", "2010-06-01T12:00:05Z", {}}}));
    }

    std::unique_ptr<Tmain> MakeWindow() {
        MainOptions options;
        const std::string folder = data_.path().string() + "/";
        options.resolveDataFolder = [folder] { return folder; };
        options.now = [this] { return now_; };
        options.openDocument = [](const QString&, const std::function<void(const QString&)>&) {};
        options.endApplication = [this] { ++ended_; };
        return std::make_unique<Tmain>(std::move(options));
    }

    static void Show(Tmain& window) {
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        QEvent activate(QEvent::WindowActivate);
        QApplication::sendEvent(&window, &activate);
    }

    template <typename T>
    static T* Child(QWidget& parent, const char* name) {
        T* child = parent.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }

    DateTimeValue now_ = EncodeDateTime(2021, 7, 1, 12, 0, 0, 0);
    TempDir data_;
    TempDir photos_;
    int ended_ = 0;
};

// Opens the options dialog of the window and lets fill work on it while it is open.
void WithOptionsDialog(Tmain& window, const std::function<void(OptionsDialog&)>& fill) {
    bool seen = false;
    QTimer::singleShot(0, &window, [&] {
        auto* dialog = qobject_cast<OptionsDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        seen = true;
        fill(*dialog);
    });
    window.OptionsClick();
    EXPECT_TRUE(seen);
}

struct Inputs {
    std::string gpx;
    std::string folder;
    int zone;
    int tolerance;
    friend bool operator==(const Inputs&, const Inputs&) = default;
};

void PrintTo(const Inputs& inputs, std::ostream* out) {
    *out << "{" << inputs.gpx << ", " << inputs.folder << ", " << inputs.zone << ", " << inputs.tolerance
         << "}";
}

Inputs InputsOf(Tmain& window) {
    return {window.findChild<FilenameEdit*>(QStringLiteral("edGpx"))->Text().toStdString(),
            window.findChild<DirectoryEdit*>(QStringLiteral("edPictures"))->Text().toStdString(),
            window.findChild<QComboBox*>(QStringLiteral("cbtimezone"))->currentIndex(),
            window.findChild<SpinEdit*>(QStringLiteral("edSec"))->value()};
}

void Fill(Tmain& window, const Inputs& inputs) {
    window.findChild<FilenameEdit*>(QStringLiteral("edGpx"))->SetText(QString::fromStdString(inputs.gpx));
    window.findChild<DirectoryEdit*>(QStringLiteral("edPictures"))
        ->SetText(QString::fromStdString(inputs.folder));
    window.findChild<QComboBox*>(QStringLiteral("cbtimezone"))->setCurrentIndex(inputs.zone);
    window.findChild<SpinEdit*>(QStringLiteral("edSec"))->setValue(inputs.tolerance);
}

// With "Letzte Eingaben merken" the inputs of a session come back at the next start, kept at the close or
// at the start of a run; without it every start shows the start-up values and nothing is kept.
TEST_F(WindowInput, RememberedInputsComeBackOnlyWithTheirOption) {
    MessageRecorder boxes;
    const Inputs startUp{"", "", DefaultZoneIndex(now_), 0};
    const Inputs typed{(photos_ / "track.gpx").string(), photos_.path().string(), kZoneIndexUtc + 3, 42};
    ASSERT_NE(typed.zone, startUp.zone);

    auto window = MakeWindow();
    EXPECT_EQ(InputsOf(*window), startUp);
    EXPECT_FALSE(window->RunOptions().rememberInputs);
    Fill(*window, typed);
    window->close();  // without the option nothing is kept
    window = MakeWindow();
    EXPECT_EQ(InputsOf(*window), startUp);

    WithOptionsDialog(*window, [](OptionsDialog& dialog) {
        auto* remember = dialog.findChild<QCheckBox*>(QStringLiteral("cbRememberInputs"));
        ASSERT_NE(remember, nullptr);
        EXPECT_EQ(Visible(remember->text()), QStringLiteral("Letzte Eingaben merken"));
        EXPECT_FALSE(remember->isChecked());
        remember->setChecked(true);
        dialog.accept();
    });
    EXPECT_EQ(Child<ClickLabel>(*window, "LabelOptions")->text(), QStringLiteral("Optionen"));
    Fill(*window, typed);
    window->close();
    window = MakeWindow();
    EXPECT_EQ(InputsOf(*window), typed);

    // Kept when a run starts, even when the window is never closed.
    const Inputs second{(photos_ / "track.gpx").string(), photos_.path().string(), kZoneIndexUtc, 7};
    Fill(*window, second);
    QSignalSpy finished(window.get(), &Tmain::RunFinished);
    window->Button1Click();
    ASSERT_TRUE(finished.wait(kRunTimeoutMs));
    window.reset();
    window = MakeWindow();
    EXPECT_EQ(InputsOf(*window), second);

    // Turned off: the next start is the plain one again, and the store holds no path any more.
    WithOptionsDialog(*window, [](OptionsDialog& dialog) {
        dialog.findChild<QCheckBox*>(QStringLiteral("cbRememberInputs"))->setChecked(false);
        dialog.accept();
    });
    window->close();
    window = MakeWindow();
    EXPECT_EQ(InputsOf(*window), startUp);
    EXPECT_FALSE(QSettings().childGroups().contains(QStringLiteral("Eingaben")));
    EXPECT_TRUE(boxes.boxes.empty());
}

// A store kept by hand or by another version: values out of range leave the start-up values alone.
TEST_F(WindowInput, RememberedInputsOutOfRangeAreNotTaken) {
    WindowRunOptions options;
    options.rememberInputs = true;
    options.Save();
    for (const auto& [zone, tolerance] :
         std::vector<std::pair<int, int>>{{kZoneCount, 5}, {-1, 5}, {3, 501}}) {
        QSettings store;
        store.setValue(QStringLiteral("Eingaben/gpx"), QStringLiteral("/x.gpx"));
        store.setValue(QStringLiteral("Eingaben/zone"), zone);
        store.setValue(QStringLiteral("Eingaben/tolerance"), tolerance);
        store.sync();
        auto window = MakeWindow();
        EXPECT_EQ(InputsOf(*window), (Inputs{"", "", DefaultZoneIndex(now_), 0})) << zone << " " << tolerance;
    }
}

// Which options put the title band's link into "(aktiv)": only those a run would feel, whatever else the
// store holds.
TEST_F(WindowInput, OptionenIsActiveOnlyWhenAnOptionTakesEffect) {
    struct Case {
        const char* name;
        std::function<void(WindowRunOptions&)> set;
        bool active;
        bool activeFromStore = active;  // a text no run can read is not loaded
    };
    const std::vector<Case> cases = {
        {"none", [](WindowRunOptions&) {}, false},
        {"jobs", [](WindowRunOptions& o) { o.jobs = 3; }, false},
        {"remember", [](WindowRunOptions& o) { o.rememberInputs = true; }, false},
        {"gap alone", [](WindowRunOptions& o) { o.interpolateGap = 600; }, false},
        {"sidecar alone", [](WindowRunOptions& o) { o.sidecar = SidecarNaming::base; }, false},
        {"raw alone", [](WindowRunOptions& o) { o.rawInFile = true; }, false},
        {"replace alone", [](WindowRunOptions& o) { o.placesReplace = true; }, false},
        {"zero offset", [](WindowRunOptions& o) { o.offsetText = QStringLiteral("0"); }, false},
        {"zero offset hms", [](WindowRunOptions& o) { o.offsetText = QStringLiteral("-00:00:00"); }, false},
        {"blank zone", [](WindowRunOptions& o) { o.zoneText = QStringLiteral("  "); }, false},
        {"offset", [](WindowRunOptions& o) { o.offsetText = QStringLiteral("90"); }, true},
        {"zone", [](WindowRunOptions& o) { o.zoneText = QStringLiteral("+05:30"); }, true},
        {"photo zone", [](WindowRunOptions& o) { o.photoZone = true; }, true},
        {"interpolate", [](WindowRunOptions& o) { o.interpolate = true; }, true},
        {"altitude", [](WindowRunOptions& o) { o.altitude = true; }, true},
        {"skip tagged", [](WindowRunOptions& o) { o.skipTagged = true; }, true},
        {"keep mtime", [](WindowRunOptions& o) { o.keepMtime = true; }, true},
        {"explain", [](WindowRunOptions& o) { o.explain = true; }, true},
        {"places", [](WindowRunOptions& o) { o.places = true; }, true},
        {"zone from track", [](WindowRunOptions& o) { o.zoneFromTrack = true; }, true},
        {"all photos", [](WindowRunOptions& o) { o.allPhotos = true; }, true},
        {"keep going", [](WindowRunOptions& o) { o.keepGoing = true; }, true},
        {"unreadable offset", [](WindowRunOptions& o) { o.offsetText = QStringLiteral("soon"); }, true,
         false},
    };
    auto window = MakeWindow();
    const auto* link = Child<ClickLabel>(*window, "LabelOptions");
    for (const Case& c : cases) {
        WindowRunOptions options;
        c.set(options);
        EXPECT_EQ(options.AnyOn(), c.active) << c.name;
        window->SetRunOptions(options);
        EXPECT_EQ(link->text(), c.active ? QStringLiteral("Optionen (aktiv)") : QStringLiteral("Optionen"))
            << c.name;
        // The same from the store, as a later start reads it.
        options.Save();
        auto again = MakeWindow();
        EXPECT_EQ(Child<ClickLabel>(*again, "LabelOptions")->text().toStdString(),
                  c.activeFromStore ? "Optionen (aktiv)" : "Optionen")
            << c.name;
    }
}

// While the options set the zone, the list shows "(Optionen)", disabled; cleared, it shows its own
// choice again, and that choice is the one a run and the remembered inputs take meanwhile.
TEST_F(WindowInput, ZoneListShowsOptionenWhileTheOptionsSetTheZone) {
    struct Case {
        const char* zoneText;
        bool zoneFromTrack;
        bool overridden;
    };
    const Case cases[] = {{"", false, false}, {"+05:30", false, true}, {"Europe/Berlin", false, true},
                          {"", true, true},   {"+01:00", true, true},  {"", false, false}};
    auto window = MakeWindow();
    auto* zones = Child<QComboBox>(*window, "cbtimezone");
    const int own = kZoneIndexUtc + 2;
    zones->setCurrentIndex(own);
    for (const Case& c : cases) {
        WindowRunOptions options;
        options.zoneText = QString::fromUtf8(c.zoneText);
        options.zoneFromTrack = c.zoneFromTrack;
        window->SetRunOptions(options);
        if (c.overridden) {
            EXPECT_EQ(zones->currentText(), QStringLiteral("(Optionen)")) << c.zoneText << c.zoneFromTrack;
            EXPECT_EQ(zones->count(), kZoneCount + 1);
            EXPECT_FALSE(zones->isEnabled());
        } else {
            EXPECT_EQ(zones->currentIndex(), own);
            EXPECT_EQ(zones->count(), kZoneCount);
            EXPECT_TRUE(zones->isEnabled());
        }
    }

    // A run under the override takes the list's own zone and leaves the list overridden afterwards.
    WindowRunOptions options;
    options.zoneText = QStringLiteral("+00:00");
    options.rememberInputs = true;
    window->SetRunOptions(options);
    // A choice made meanwhile (not by the user: the list is disabled) becomes the own one; the list still
    // shows that the options decide.
    Fill(*window, {(photos_ / "track.gpx").string(), photos_.path().string(), own - 1, 0});
    EXPECT_EQ(zones->currentText(), QStringLiteral("(Optionen)"));
    zones->setCurrentIndex(own);
    EXPECT_EQ(zones->currentText(), QStringLiteral("(Optionen)"));
    QSignalSpy finished(window.get(), &Tmain::RunFinished);
    window->Button1Click();
    ASSERT_TRUE(finished.wait(kRunTimeoutMs));
    EXPECT_FALSE(zones->isEnabled());
    EXPECT_EQ(zones->currentText(), QStringLiteral("(Optionen)"));
    EXPECT_EQ(QSettings().value(QStringLiteral("Eingaben/zone")).toInt(), own);
}

// Enter or Return on a focused button presses it, every button; in a field Enter starts nothing, also
// after an error box.
TEST_F(WindowInput, EnterPressesTheFocusedButtonAndNothingElse) {
    MessageRecorder boxes;
    DialogRecorder dialogs;
    auto window = MakeWindow();
    Show(*window);
    auto* gpx = Child<FilenameEdit>(*window, "edGpx");
    auto* pictures = Child<DirectoryEdit>(*window, "edPictures");

    // Fields: no run, no box, whichever Enter.
    Fill(*window, {(photos_ / "track.gpx").string(), (photos_ / "missing").string(), kZoneIndexUtc, 0});
    const std::vector<QWidget*> fields{gpx->Edit(), pictures->Edit(), Child<QComboBox>(*window, "cbtimezone"),
                                       Child<SpinEdit>(*window, "edSec")};
    for (QWidget* field : fields) {
        for (const auto& [key, modifiers] : std::vector<std::pair<Qt::Key, Qt::KeyboardModifiers>>{
                 {Qt::Key_Return, Qt::NoModifier}, {Qt::Key_Enter, Qt::KeypadModifier}}) {
            field->setFocus();
            QTest::keyClick(QApplication::focusWidget(), key, modifiers);
            EXPECT_FALSE(window->RunInProgress()) << field->objectName().toStdString();
        }
    }
    EXPECT_TRUE(boxes.boxes.empty());

    // "Starten" with a missing folder: one box; Enter in the field after it starts nothing more.
    auto* start = Child<QPushButton>(*window, "Button1");
    start->setFocus();
    QTest::keyClick(start, Qt::Key_Return);
    ASSERT_EQ(boxes.boxes.size(), 1U);
    EXPECT_TRUE(boxes.boxes[0].text.contains(QStringLiteral("existiert nicht")));
    gpx->Edit()->setFocus();
    QTest::keyClick(gpx->Edit(), Qt::Key_Return);
    EXPECT_EQ(boxes.boxes.size(), 1U);
    EXPECT_FALSE(window->RunInProgress());

    // Each button, by Return and by the keypad's Enter.
    struct Case {
        const char* name;
        std::function<QAbstractButton*()> button;
        std::function<bool()> pressed;
    };
    const std::vector<Case> cases = {
        {"Maps", [&] { return Child<QPushButton>(*window, "Button4"); },
         [&] {
             return !boxes.boxes.empty() &&
                    boxes.boxes.back().text == QStringLiteral("Keine aktuellen Geodaten vorhanden!");
         }},
        {"GPX browse", [&] { return gpx->Button(); },
         [&] {
             return !dialogs.requests.empty() && dialogs.requests.back().kind == FileDialogKind::openFile;
         }},
        {"folder browse", [&] { return pictures->Button(); },
         [&] { return !dialogs.requests.empty() && dialogs.requests.back().kind == FileDialogKind::folder; }},
        {"Leeren", [&] { return Child<QPushButton>(*window, "Button2"); },
         [&] { return gpx->Text().isEmpty() && pictures->Text().isEmpty(); }},
        {"Beenden", [&] { return Child<QPushButton>(*window, "Button3"); }, [&] { return ended_ > 0; }},
    };
    for (const Case& c : cases) {
        for (const auto& [key, modifiers] : std::vector<std::pair<Qt::Key, Qt::KeyboardModifiers>>{
                 {Qt::Key_Return, Qt::NoModifier}, {Qt::Key_Enter, Qt::KeypadModifier}}) {
            boxes.boxes.clear();
            dialogs.requests.clear();
            ended_ = 0;
            Fill(*window, {"g.gpx", "f", kZoneIndexUtc, 0});
            ASSERT_FALSE(c.pressed()) << c.name;
            c.button()->setFocus();
            QTest::keyClick(c.button(), key, modifiers);
            EXPECT_TRUE(c.pressed()) << c.name << " " << key;
        }
    }

    // "Starten" and, during the run, "Abbrechen" in its place.
    Fill(*window, {(photos_ / "track.gpx").string(), photos_.path().string(), kZoneIndexUtc, 0});
    QSignalSpy finished(window.get(), &Tmain::RunFinished);
    start->setFocus();
    QTest::keyClick(start, Qt::Key_Return);
    ASSERT_TRUE(window->RunInProgress());
    auto* stop = Child<QPushButton>(*window, "ButtonStop");
    EXPECT_EQ(QApplication::focusWidget(), stop);
    QSignalSpy stopped(stop, &QPushButton::clicked);
    QTest::keyClick(stop, Qt::Key_Return);
    EXPECT_EQ(stopped.size(), 1);
    ASSERT_TRUE(finished.wait(kRunTimeoutMs));
}

// The menu a keyboard opens, or none.
QMenu* OpenMenu() { return qobject_cast<QMenu*>(QApplication::activePopupWidget()); }

std::vector<std::string> MenuEntries(const QMenu& menu) {
    std::vector<std::string> entries;
    for (const QAction* action : menu.actions()) {
        if (!action->isSeparator()) {
            entries.push_back(action->text().toStdString());
        }
    }
    return entries;
}

bool HasEntryEndingIn(const std::vector<std::string>& entries, const std::string& end) {
    return std::any_of(entries.begin(), entries.end(), [&end](const std::string& entry) {
        return entry.size() >= end.size() && entry.compare(entry.size() - end.size(), end.size(), end) == 0;
    });
}

// Shift+F10 and the Menu key open the focused control's context menu: the log's with its own entries,
// an edit's standard one.
TEST_F(WindowInput, ShiftF10AndTheMenuKeyOpenTheFocusedControlsMenu) {
    auto window = MakeWindow();
    Show(*window);
    struct Case {
        const char* name;
        std::function<QWidget*()> control;
        std::string entry;  // the end of an entry the menu must hold
    };
    // An edit's standard menu, in whatever language: its paste entry names the paste keys.
    const std::string paste =
        "\t" + QKeySequence(QKeySequence::Paste).toString(QKeySequence::NativeText).toStdString();
    const std::vector<Case> cases = {
        {"log", [&] { return Child<QPlainTextEdit>(*window, "Memo1"); }, "Letzten Lauf rückgängig machen"},
        {"log", [&] { return Child<QPlainTextEdit>(*window, "Memo1"); }, "Protokoll speichern…"},
        {"log", [&] { return Child<QPlainTextEdit>(*window, "Memo1"); }, "GPS-Daten entfernen…"},
        {"GPX field", [&] { return Child<FilenameEdit>(*window, "edGpx")->Edit(); }, paste},
        {"folder field", [&] { return Child<DirectoryEdit>(*window, "edPictures")->Edit(); }, paste},
    };
    for (const Case& c : cases) {
        for (const QKeyCombination keys : {QKeyCombination(Qt::ShiftModifier, Qt::Key_F10),
                                           QKeyCombination(Qt::NoModifier, Qt::Key_Menu)}) {
            ASSERT_EQ(OpenMenu(), nullptr);
            c.control()->setFocus();
            QTest::keyClick(QApplication::focusWidget(), keys.key(), keys.keyboardModifiers());
            QMenu* menu = OpenMenu();
            ASSERT_NE(menu, nullptr) << c.name;
            const std::vector<std::string> entries = MenuEntries(*menu);
            EXPECT_TRUE(HasEntryEndingIn(entries, c.entry))
                << c.name << " " << c.entry << " in " << ::testing::PrintToString(entries);
            menu->close();
            QTRY_VERIFY(OpenMenu() == nullptr);
        }
    }
    // Without a modifier F10 opens nothing.
    Child<QPlainTextEdit>(*window, "Memo1")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F10);
    EXPECT_EQ(OpenMenu(), nullptr);
}

// The key a text marks with "&", lower case; none when it marks none.
QChar Mnemonic(const QString& text) {
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == QLatin1Char('&')) {
            if (text[i + 1] != QLatin1Char('&')) {
                return text[i + 1].toLower();
            }
            ++i;
        }
    }
    return {};
}

// The labels of the fields carry a mnemonic that moves the focus to their field; the buttons carry one
// too; the texts read as before, and no two share a key.
TEST_F(WindowInput, MnemonicsReachTheFieldsAndButtonsWithoutClashing) {
    auto window = MakeWindow();
    Show(*window);
    struct Case {
        const char* label;
        const char* visible;
        std::function<QWidget*()> buddy;
    };
    const std::vector<Case> cases = {
        {"Label1", "GPX-Datei:", [&] { return Child<FilenameEdit>(*window, "edGpx")->Edit(); }},
        {"Label2", "Bildordner:", [&] { return Child<DirectoryEdit>(*window, "edPictures")->Edit(); }},
        {"Label3", "Zeitzone:", [&] { return Child<QComboBox>(*window, "cbtimezone"); }},
        {"Label4", "maximale Abweichung in Sekunden:", [&] { return Child<SpinEdit>(*window, "edSec"); }},
        {"Label7", "Protokoll:", [&] { return Child<QPlainTextEdit>(*window, "Memo1"); }},
    };
    std::map<QChar, std::string> keys;
    for (const Case& c : cases) {
        auto* label = Child<QLabel>(*window, c.label);
        EXPECT_EQ(Visible(label->text()).toStdString(), c.visible);
        EXPECT_EQ(label->buddy(), c.buddy()) << c.label;
        const QChar key = Mnemonic(label->text());
        ASSERT_FALSE(key.isNull()) << c.label;
        EXPECT_TRUE(keys.emplace(key, c.label).second) << c.label << " shares its key";
        Child<QPushButton>(*window, "Button4")->setFocus();
        QTest::keyClick(window.get(), static_cast<Qt::Key>(key.toUpper().unicode()), Qt::AltModifier);
        QWidget* focused = QApplication::focusWidget();
        if (focused != nullptr && qobject_cast<QAbstractSpinBox*>(focused->parentWidget()) != nullptr) {
            focused = focused->parentWidget();
        }
        EXPECT_EQ(focused, c.buddy()) << c.label;
    }
    const std::vector<std::pair<const char*, const char*>> buttons = {{"Button4", "Maps"},
                                                                      {"Button1", "Starten"},
                                                                      {"ButtonStop", "Abbrechen"},
                                                                      {"Button2", "Leeren"},
                                                                      {"Button3", "Beenden"}};
    for (const auto& [name, visible] : buttons) {
        const QString text = Child<QPushButton>(*window, name)->text();
        EXPECT_EQ(Visible(text).toStdString(), visible);
        const QChar key = Mnemonic(text);
        ASSERT_FALSE(key.isNull()) << name;
        EXPECT_TRUE(keys.emplace(key, name).second) << name << " shares its key with " << keys[key];
    }
}

// Every entry of the options dialog is reached by a mnemonic of its own: a check box or button by its
// text, a field by its row's label.
TEST_F(WindowInput, EveryOptionsEntryHasAMnemonicOfItsOwn) {
    auto window = MakeWindow();
    WithOptionsDialog(*window, [](OptionsDialog& dialog) {
        auto* form = dialog.findChild<QFormLayout*>();
        ASSERT_NE(form, nullptr);
        std::map<QChar, std::string> keys;
        const auto take = [&keys](const QString& text, const std::string& entry) {
            const QChar key = Mnemonic(text);
            EXPECT_FALSE(key.isNull()) << entry;
            EXPECT_TRUE(keys.emplace(key, entry).second) << entry << " shares its key with " << keys[key];
        };
        std::set<std::string> seen;
        for (QWidget* entry : dialog.findChildren<QWidget*>()) {
            const std::string name = entry->objectName().toStdString();
            if (auto* button = qobject_cast<QAbstractButton*>(entry)) {
                take(button->text(), name + " " + button->text().toStdString());
                seen.insert(name);
            } else if (qobject_cast<QLineEdit*>(entry) != nullptr || qobject_cast<QAbstractSpinBox*>(entry) ||
                       qobject_cast<QComboBox*>(entry) != nullptr) {
                if (qobject_cast<QAbstractSpinBox*>(entry->parentWidget()) != nullptr) {
                    continue;  // a spin box's own text field
                }
                QWidget* label = form->labelForField(entry);
                ASSERT_NE(label, nullptr) << name;
                if (auto* text = qobject_cast<QLabel*>(label)) {
                    EXPECT_EQ(text->buddy(), entry) << name;
                    take(text->text(), name);
                } else {
                    // A field beside a check box is reached through it: one Tab on.
                    auto* box = qobject_cast<QAbstractButton*>(label);
                    ASSERT_NE(box, nullptr) << name;
                    EXPECT_FALSE(Mnemonic(box->text()).isNull()) << name;
                }
                seen.insert(name);
            }
        }
        // Fields, check boxes and buttons alike were looked at.
        for (const char* entry : {"edOffset", "edZone", "edGap", "edJobs", "cbSidecar", "cbRememberInputs",
                                  "cbKeepGoing", "btSaveLog"}) {
            EXPECT_EQ(seen.count(entry), 1U) << entry;
        }
        dialog.reject();
    });
}

// "Protokoll speichern…" writes NAME.txt for a NAME without extension, asking before it replaces one; each
// file dialog opens in the folder used last, the first one in the home folder.
TEST_F(WindowInput, DialogsStartInTheLastFolderAndTheLogGetsTxt) {
    MessageRecorder boxes;
    DialogRecorder dialogs;
    fs::create_directory(photos_ / "tracks");
    fs::create_directory(photos_ / "out");
    const fs::path track = photos_ / "tracks" / "day.gpx";
    WriteFileText(track, "<gpx/>");
    std::vector<QString> answers{Q(track), Q(photos_ / "out"), Q(photos_ / "out" / "protokoll")};
    dialogs.answer = [&](const FileDialogRequest&) {
        const QString next = answers.front();
        answers.erase(answers.begin());
        return next;
    };
    auto window = MakeWindow();
    Child<QPlainTextEdit>(*window, "Memo1")->setPlainText(QStringLiteral("eine Zeile"));
    Child<FilenameEdit>(*window, "edGpx")->DoClick();
    Child<DirectoryEdit>(*window, "edPictures")->Clear();
    Child<DirectoryEdit>(*window, "edPictures")->DoClick();
    window->SaveLogAs();
    ASSERT_EQ(dialogs.requests.size(), 3U);
    EXPECT_EQ(dialogs.requests[0].startFolder, QDir::homePath());
    EXPECT_EQ(dialogs.requests[1].startFolder, Q(photos_ / "tracks"));
    EXPECT_EQ(dialogs.requests[2].startFolder, Q(photos_ / "out"));
    EXPECT_EQ(dialogs.requests[2].kind, FileDialogKind::saveFile);
    EXPECT_EQ(dialogs.requests[2].filter, QStringLiteral("Textdateien (*.txt)"));
    EXPECT_EQ(ReadFileText(photos_ / "out" / "protokoll.txt"), "eine Zeile\n");
    EXPECT_FALSE(fs::exists(photos_ / "out" / "protokoll"));

    // The same name again names a file that is there: "Nein" keeps it, "Ja" replaces it.
    Child<QPlainTextEdit>(*window, "Memo1")->setPlainText(QStringLiteral("neu"));
    std::vector<MessageBox> questions;
    bool replace = false;
    const QuestionHook previous = SetQuestionHook([&](const MessageBox& box) {
        questions.push_back(box);
        return replace;
    });
    for (const bool answer : {false, true}) {
        replace = answer;
        answers = {Q(photos_ / "out" / "protokoll")};
        window->SaveLogAs();
        EXPECT_EQ(ReadFileText(photos_ / "out" / "protokoll.txt"), answer ? "neu\n" : "eine Zeile\n");
    }
    SetQuestionHook(previous);
    ASSERT_EQ(questions.size(), 2U);
    EXPECT_TRUE(questions[0].text.contains(Q(photos_ / "out" / "protokoll.txt")));
    // A name with its own extension is taken as typed.
    answers = {Q(photos_ / "out" / "lauf.log")};
    window->SaveLogAs();
    EXPECT_EQ(ReadFileText(photos_ / "out" / "lauf.log"), "neu\n");
    EXPECT_TRUE(boxes.boxes.empty());

    // A new session starts where the last one left off; a folder since removed gives way to home.
    window.reset();
    window = MakeWindow();
    answers = {QString(), QString()};
    Child<FilenameEdit>(*window, "edGpx")->DoClick();
    EXPECT_EQ(dialogs.requests.back().startFolder, Q(photos_ / "out"));
    fs::remove_all(photos_ / "out");
    Child<FilenameEdit>(*window, "edGpx")->DoClick();
    EXPECT_EQ(dialogs.requests.back().startFolder, QDir::homePath());
}

// Dropped paths: a folder fills the photo folder, a track file the GPX path, one of each both; anything
// else is refused as a whole, and so is every drop during a run.
TEST_F(WindowInput, DroppedFolderAndTrackFillTheirFieldsAndTheRestIsRefused) {
    fs::create_directory(photos_ / "more");
    WriteFileText(photos_ / "ride.fit", "named as a track");
    WriteFileText(photos_ / "export.dat", "<?xml version=\"1.0\"?><gpx></gpx>");
    WriteFileText(photos_ / "notes.txt", "no track");
    const std::string folder = photos_.path().string();
    const std::string gpx = (photos_ / "track.gpx").string();
    struct Case {
        QList<QUrl> urls;
        bool taken;
        std::string gpx;  // the fields afterwards
        std::string folder;
    };
    const auto file = [this](const char* name) { return QUrl::fromLocalFile(Q(photos_ / name)); };
    const std::vector<Case> cases = {
        {{QUrl::fromLocalFile(Q(photos_.path()))}, true, "", folder},
        {{file("track.gpx")}, true, gpx, ""},
        {{file("ride.fit")}, true, (photos_ / "ride.fit").string(), ""},
        {{file("export.dat")}, true, (photos_ / "export.dat").string(), ""},
        {{file("track.gpx"), file("more")}, true, gpx, (photos_ / "more").string()},
        {{file("notes.txt")}, false, "", ""},
        {{file("more"), QUrl::fromLocalFile(Q(photos_.path()))}, false, "", ""},
        {{file("track.gpx"), file("notes.txt")}, false, "", ""},
        {{QUrl(QStringLiteral("https://example.org/track.gpx"))}, false, "", ""},
        {{}, false, "", ""},
    };
    auto window = MakeWindow();
    EXPECT_TRUE(window->acceptDrops());
    for (const Case& c : cases) {
        Fill(*window, {"", "", kZoneIndexUtc, 0});
        QMimeData data;
        data.setUrls(c.urls);
        const std::string named = data.text().toStdString();
        QDragEnterEvent enter(QPoint(300, 200), Qt::CopyAction | Qt::LinkAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(window.get(), &enter);
        EXPECT_EQ(enter.isAccepted(), c.taken) << named;
        QDragMoveEvent move(QPoint(320, 210), Qt::CopyAction | Qt::LinkAction, &data, Qt::LeftButton,
                            Qt::NoModifier);
        QApplication::sendEvent(window.get(), &move);
        EXPECT_EQ(move.isAccepted(), c.taken) << named;
        QDropEvent drop(QPointF(300, 200), Qt::CopyAction | Qt::LinkAction, &data, Qt::LeftButton,
                        Qt::NoModifier);
        QApplication::sendEvent(window.get(), &drop);
        EXPECT_EQ(drop.isAccepted(), c.taken) << named;
        EXPECT_EQ(InputsOf(*window).gpx, c.gpx) << named;
        EXPECT_EQ(InputsOf(*window).folder, c.folder) << named;
    }
    // No field takes the path as text of its own: the window gets every drop.
    for (QWidget* child : window->findChildren<QWidget*>()) {
        EXPECT_FALSE(child->acceptDrops()) << child->objectName().toStdString();
    }

    // During a run: refused, the fields stay.
    Fill(*window, {gpx, folder, kZoneIndexUtc, 0});
    QSignalSpy finished(window.get(), &Tmain::RunFinished);
    window->Button1Click();
    ASSERT_TRUE(window->RunInProgress());
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(Q(photos_ / "more"))});
    QDragEnterEvent enter(QPoint(300, 200), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    EXPECT_FALSE(enter.isAccepted());
    QDropEvent drop(QPointF(300, 200), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &drop);
    EXPECT_EQ(InputsOf(*window).folder, folder);
    ASSERT_TRUE(finished.wait(kRunTimeoutMs));
}

}  // namespace
}  // namespace zeloro::test
