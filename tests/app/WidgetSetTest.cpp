// The widget set of the window: browse edits, spin edit, progress bar, click labels, message boxes.
#include <gtest/gtest.h>

#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <string>

#include "QtTestApp.h"
#include "app/BrowseEdit.h"
#include "app/ClickLabel.h"
#include "app/ColorProgressBar.h"
#include "app/MessageBoxes.h"
#include "app/SpinEdit.h"
#include "support/TestSupport.h"

namespace zeloro::test {
namespace {

class WidgetSet : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        (void)TestApplication();
        KeepSettingsInTestFolder();  // the browse edits keep the folder they chose in
    }
};

struct FilterCase {
    std::string name;
    QString pairs;
    QString want;
};
void PrintTo(const FilterCase& c, std::ostream* os) { *os << c.name; }

class QtFilter : public ::testing::TestWithParam<FilterCase> {};

TEST_P(QtFilter, MatchesTable) {
    const FilterCase& c = GetParam();
    EXPECT_EQ(QtFilterFromPairs(c.pairs).toStdString(), c.want.toStdString());
}

INSTANTIATE_TEST_SUITE_P(BrowseEdit, QtFilter,
                         ::testing::Values(FilterCase{"DescriptionNamesItsMask", "gpx-Dateien (*.gpx)|*.gpx",
                                                      "gpx-Dateien (*.gpx)"},
                                           FilterCase{"MaskAppended", "GPX|*.gpx", "GPX (*.gpx)"},
                                           FilterCase{"SeveralMasks", "Bilder|*.jpg;*.jpeg",
                                                      "Bilder (*.jpg *.jpeg)"},
                                           FilterCase{"TwoPairs", "gpx-Dateien (*.gpx)|*.gpx|Alle|*",
                                                      "gpx-Dateien (*.gpx);;Alle (*)"},
                                           FilterCase{"Empty", "", ""}),
                         [](const auto& p) { return p.param.name; });

TEST_F(WidgetSet, FilenameEditPutsTheChosenFileIntoItsText) {
    FilenameEdit edit;
    edit.SetFilter(QStringLiteral("gpx-Dateien (*.gpx)|*.gpx"));
    QString seenFilter;
    QString answer = QStringLiteral("/tmp/track.gpx");
    edit.SetOpenDialog([&](QWidget* parent, const QString&, const QString&, const QString& filter) {
        EXPECT_EQ(parent, &edit);
        seenFilter = filter;
        return answer;
    });
    QTest::mouseClick(edit.Button(), Qt::LeftButton);
    EXPECT_EQ(seenFilter.toStdString(), "gpx-Dateien (*.gpx)");
    EXPECT_EQ(edit.Text().toStdString(), "/tmp/track.gpx");

    answer.clear();  // cancelled: the text stays
    QTest::mouseClick(edit.Button(), Qt::LeftButton);
    EXPECT_EQ(edit.Text().toStdString(), "/tmp/track.gpx");
}

TEST_F(WidgetSet, DirectoryEditPickerIsTitledSelectDirectoryAndStartsAtTheText) {
    DirectoryEdit edit;
    edit.SetText(QStringLiteral("/tmp"));
    QString seenTitle;
    QString seenStart;
    edit.SetFolderDialog([&](QWidget*, const QString& title, const QString& start) {
        seenTitle = title;
        seenStart = start;
        return QStringLiteral("/var/photos");
    });
    edit.DoClick();
    EXPECT_EQ(seenTitle.toStdString(), "Select Directory");
    EXPECT_EQ(seenStart.toStdString(), "/tmp");
    EXPECT_EQ(edit.Text().toStdString(), "/var/photos");
}

TEST_F(WidgetSet, BrowseEditTakesFocusInItsEditAndButtonByTab) {
    FilenameEdit edit;
    EXPECT_EQ(edit.focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(edit.Edit()->focusPolicy(), Qt::StrongFocus);
    EXPECT_EQ(edit.Button()->focusPolicy(), Qt::TabFocus);
    EXPECT_EQ(edit.Button()->width(), 18);
}

// Exposes the style option so the test can click the real up and down buttons.
class SpinProbe : public SpinEdit {
public:
    using SpinEdit::initStyleOption;
    [[nodiscard]] QRect ButtonRect(QStyle::SubControl which) const {
        QStyleOptionSpinBox option;
        initStyleOption(&option);
        return style()->subControlRect(QStyle::CC_SpinBox, &option, which, this);
    }
};

TEST_F(WidgetSet, SpinEditStepsByItsButtonsWithinZeroTo500AndIgnoresTyping) {
    SpinProbe spin;
    spin.resize(75, 22);
    spin.show();
    EXPECT_EQ(spin.Text().toStdString(), "0");
    EXPECT_EQ(spin.minimum(), 0);
    EXPECT_EQ(spin.maximum(), 500);

    QTest::mouseClick(&spin, Qt::LeftButton, {}, spin.ButtonRect(QStyle::SC_SpinBoxUp).center());
    QTest::mouseClick(&spin, Qt::LeftButton, {}, spin.ButtonRect(QStyle::SC_SpinBoxUp).center());
    EXPECT_EQ(spin.Text().toStdString(), "2");
    QTest::mouseClick(&spin, Qt::LeftButton, {}, spin.ButtonRect(QStyle::SC_SpinBoxDown).center());
    EXPECT_EQ(spin.Text().toStdString(), "1");

    QTest::keyClicks(spin.findChild<QLineEdit*>(), QStringLiteral("99"));
    EXPECT_EQ(spin.Text().toStdString(), "1");

    spin.setValue(500);
    QTest::mouseClick(&spin, Qt::LeftButton, {}, spin.ButtonRect(QStyle::SC_SpinBoxUp).center());
    EXPECT_EQ(spin.Text().toStdString(), "500");
    spin.setValue(0);
    QTest::mouseClick(&spin, Qt::LeftButton, {}, spin.ButtonRect(QStyle::SC_SpinBoxDown).center());
    EXPECT_EQ(spin.Text().toStdString(), "0");
}

QImage Render(QWidget& widget) {
    QImage image(widget.size(), QImage::Format_RGB32);
    widget.render(&image);
    return image;
}

TEST_F(WidgetSet, ProgressBarFillsInOneOrangeAtEveryLevelWithoutText) {
    ColorProgressBar bar;
    bar.resize(442, 18);
    const QColor orange(255, 159, 72);
    const int inner = bar.contentsRect().width();

    bar.SetMax(0);  // a folder without photos: nothing filled, no busy animation
    bar.SetPosition(0);
    EXPECT_EQ(bar.FilledWidth(), 0);
    EXPECT_EQ(Render(bar).pixelColor(inner / 2, 9), QColor(Qt::white));

    bar.SetMax(4);
    for (int position = 1; position <= 4; ++position) {
        bar.SetPosition(position);
        EXPECT_EQ(bar.FilledWidth(), inner * position / 4);
        const QImage image = Render(bar);
        EXPECT_EQ(image.pixelColor(bar.contentsRect().left(), 9), orange) << position;
        EXPECT_EQ(image.pixelColor(bar.contentsRect().left() + bar.FilledWidth() - 1, 9), orange) << position;
        if (position < 4) {
            EXPECT_EQ(image.pixelColor(bar.contentsRect().left() + bar.FilledWidth() + 1, 9),
                      QColor(Qt::white));
        }
    }
    const QImage full = Render(bar);
    EXPECT_NE(full.pixelColor(0, 9), orange);  // the border stays visible
    // No text drawn: the whole filled row is the one colour.
    for (int x = bar.contentsRect().left(); x <= bar.contentsRect().right(); ++x) {
        for (int y = bar.contentsRect().top(); y <= bar.contentsRect().bottom(); ++y) {
            ASSERT_EQ(full.pixelColor(x, y), orange) << x << "," << y;
        }
    }
}

TEST_F(WidgetSet, ProgressBarHoldsThePositionWithinTheMaximum) {
    ColorProgressBar bar;
    QSignalSpy positions(&bar, &ColorProgressBar::PositionChanged);
    bar.SetMax(3);
    bar.SetPosition(5);
    EXPECT_EQ(bar.Position(), 3);
    bar.SetPosition(-1);
    EXPECT_EQ(bar.Position(), 0);
    bar.SetPosition(2);
    bar.SetMax(1);
    EXPECT_EQ(bar.Position(), 1);
    bar.SetMax(-5);
    EXPECT_EQ(bar.Max(), 0);
    EXPECT_EQ(bar.Position(), 0);
    ASSERT_EQ(positions.size(), 5);
    EXPECT_EQ(positions.at(0).at(0).toInt(), 3);
    EXPECT_EQ(positions.at(3).at(0).toInt(), 1);
}

TEST_F(WidgetSet, ClickLabelClicksOnLeftPressAndReleaseInside) {
    ClickLabel label;
    label.resize(34, 34);
    QSignalSpy clicks(&label, &ClickLabel::Clicked);
    QTest::mouseClick(&label, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(clicks.size(), 1);
    QTest::mouseClick(&label, Qt::RightButton, {}, QPoint(10, 10));
    EXPECT_EQ(clicks.size(), 1);
    QTest::mousePress(&label, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseRelease(&label, Qt::LeftButton, {}, QPoint(50, 50));  // released outside
    EXPECT_EQ(clicks.size(), 1);
}

TEST_F(WidgetSet, DraggingLabelMovesItsWindowWithAnyButton) {
    for (const Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton}) {
        QWidget window;
        window.setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
        window.setGeometry(100, 100, 200, 100);
        auto* picture = new ClickLabel(&window);
        picture->setGeometry(0, 0, 200, 100);
        picture->SetDragsWindow(true);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        const QPoint start = window.pos();
        QTest::mousePress(picture, button, {}, QPoint(20, 20));
        QMouseEvent move(QEvent::MouseMove, QPointF(50, 60), picture->mapToGlobal(QPointF(50, 60)),
                         Qt::NoButton, button, Qt::NoModifier);
        QApplication::sendEvent(picture, &move);
        QTest::mouseRelease(picture, button, {}, QPoint(50, 60));
        EXPECT_EQ(window.pos(), start + QPoint(30, 40)) << button;
    }
}

struct ReportCase {
    std::string name;
    QString message;
    QString want;
};
void PrintTo(const ReportCase& c, std::ostream* os) { *os << c.name; }

class ErrorReport : public ::testing::TestWithParam<ReportCase> {};

TEST_P(ErrorReport, AddsAPeriodOnlyAfterCharactersSortingAfterIt) {
    const ReportCase& c = GetParam();
    EXPECT_EQ(ErrorReportText(c.message).toStdString(), c.want.toStdString());
}

INSTANTIATE_TEST_SUITE_P(MessageBoxes, ErrorReport,
                         ::testing::Values(ReportCase{"Letter", "no such table: gpx", "no such table: gpx."},
                                           ReportCase{"Digit", "Fehler 5", "Fehler 5."},
                                           ReportCase{"Slash", "a/", "a/."},
                                           ReportCase{"Period", "Ende.", "Ende."},
                                           ReportCase{"Exclamation", "Keine Daten!", "Keine Daten!"},
                                           ReportCase{"Hyphen", "a-", "a-"},
                                           ReportCase{"Parenthesis", "(x)", "(x)"},
                                           ReportCase{"Blank", "x ", "x "},
                                           ReportCase{"Umlaut", QStringLiteral("Bereichsprüfung ä"),
                                                      QStringLiteral("Bereichsprüfung ä.")},
                                           ReportCase{"Empty", "", ""}),
                         [](const auto& p) { return p.param.name; });

TEST_F(WidgetSet, MessageBoxesCarryTheirCaptionsAndIcons) {
    QCoreApplication::setApplicationName(QStringLiteral("zeloro"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Zeloro geotagging"));
    MessageRecorder recorder;
    ShowErrorBox(QStringLiteral("Bitte geben Sie eine gpx-Datei an!"));
    ShowInformationBox(QStringLiteral("Keine aktuellen Geodaten vorhanden!"));
    ShowErrorReport(QStringLiteral("Datei fehlt"));
    ASSERT_EQ(recorder.boxes.size(), 3U);
    EXPECT_EQ(recorder.boxes[0].caption.toStdString(), "Fehler");
    EXPECT_EQ(recorder.boxes[0].icon, QMessageBox::Critical);
    EXPECT_EQ(recorder.boxes[0].text.toStdString(), "Bitte geben Sie eine gpx-Datei an!");
    EXPECT_EQ(recorder.boxes[1].caption.toStdString(), "Informationen");
    EXPECT_EQ(recorder.boxes[1].icon, QMessageBox::Information);
    EXPECT_EQ(recorder.boxes[2].caption.toStdString(), "Zeloro geotagging");
    EXPECT_EQ(recorder.boxes[2].icon, QMessageBox::Critical);
    EXPECT_EQ(recorder.boxes[2].text.toStdString(), "Datei fehlt.");
}

TEST_F(WidgetSet, RealBoxIsModalCentredAndHasOnlyOk) {
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
    QPoint offCentre(9999, 9999);
    // Reads the open box from inside its modal loop, then presses its button as a user would.
    QTimer::singleShot(50, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        caption = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = static_cast<int>(box->buttons().size());
        offCentre = box->frameGeometry().center() - box->screen()->availableGeometry().center();
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    });
    ShowErrorBox(QStringLiteral("Bitte geben Sie einen Ordner mit jpg-Dateien an!"));
    EXPECT_EQ(caption.toStdString(), "Fehler");
    EXPECT_EQ(text.toStdString(), "Bitte geben Sie einen Ordner mit jpg-Dateien an!");
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_EQ(buttons, 1);
    EXPECT_LE(offCentre.manhattanLength(), 2) << offCentre.x() << "," << offCentre.y();
}

TEST_F(WidgetSet, PicturesHaveTheirSizesAndArtwork) {
    const QImage background(QStringLiteral(":/pictures/background.png"));
    ASSERT_EQ(background.size(), QSize(640, 400));
    EXPECT_LT(background.pixelColor(320, 20).lightness(), 80);      // dark title band
    EXPECT_EQ(background.pixelColor(320, 200), QColor(Qt::white));  // white body
    EXPECT_LT(background.pixelColor(0, 200).lightness(), 128);      // thin frame
    EXPECT_LT(background.pixelColor(639, 200).lightness(), 128);
    EXPECT_EQ(background.pixelColor(1, 200), QColor(Qt::white));  // one pixel wide

    const QImage close =
        QImage(QStringLiteral(":/pictures/close.png")).convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(close.size(), QSize(24, 24));
    EXPECT_EQ(close.pixelColor(0, 0).alpha(), 0);            // round: the corners are clear
    EXPECT_EQ(close.pixelColor(12, 12), QColor(Qt::white));  // the cross
    const QColor rim = close.pixelColor(12, 3);
    EXPECT_EQ(rim, QColor(255, 159, 72));

    EXPECT_EQ(QImage(QStringLiteral(":/pictures/zeloro.png")).size(), QSize(128, 128));
}

}  // namespace
}  // namespace zeloro::test
