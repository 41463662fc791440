#include "app/MainForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QIcon>
#include <QKeySequence>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QSpinBox>
#include <QTableView>
#include <QThread>
#include <QToolButton>
#include <QTranslator>
#include <QUrl>
#include <array>
#include <exception>
#include <memory>
#include <utility>

#include "app/BrowseEdit.h"
#include "app/ClickLabel.h"
#include "app/ClockDialog.h"
#include "app/ColorProgressBar.h"
#include "app/FileDialogs.h"
#include "app/KeyboardAccess.h"
#include "app/MessageBoxes.h"
#include "app/RememberedInputs.h"
#include "app/ResultsTable.h"
#include "app/SpinEdit.h"
#include "app/WindowObserver.h"
#include "common/Error.h"
#include "common/SystemFolders.h"
#include "tagging/ClockMatch.h"
#include "tagging/FrontEnd.h"
#include "tagging/InputPaths.h"
#include "tagging/RunObserver.h"
#include "tagging/TaggingSession.h"

namespace zeloro {

namespace {

constexpr const char* kGpxFilter = "gpx-Dateien (*.gpx)|*.gpx";
constexpr const char* kHelpDocument = "doku.pdf";

// The dialog's second choice: every track file the import reads, after the GPX files.
QString TrackFilesFilter() {
    QStringList masks;
    for (const std::string_view extension : TrackFileExtensions()) {
        masks << QStringLiteral("*.") +
                     QString::fromUtf8(extension.data(), static_cast<qsizetype>(extension.size()));
    }
    return QStringLiteral("|Trackdateien (%1)|%2")
        .arg(masks.join(QLatin1Char(' ')), masks.join(QLatin1Char(';')));
}

// The window's fonts are named after the faces it was designed with; where those are missing the
// closest faces of a common Linux desktop stand in, so the texts keep the widths the layout expects.
void AddFontSubstitutes() {
    QFont::insertSubstitutions(QStringLiteral("Tahoma"),
                               {QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Liberation Sans"),
                                QStringLiteral("Arial")});
    QFont::insertSubstitutions(QStringLiteral("Verdana"),
                               {QStringLiteral("DejaVu Sans"), QStringLiteral("Bitstream Vera Sans")});
}

// The tool is German only, whatever the desktop's language: Qt's own texts (the buttons of its dialogs,
// the file dialogs, the context menus) come in German too. Without the translation installed they stay
// English and nothing else changes.
void LoadQtTexts() {
    QCoreApplication* app = QCoreApplication::instance();
    const QString name = QStringLiteral("zeloroQtTexts");
    if (app == nullptr || app->findChild<QTranslator*>(name, Qt::FindDirectChildrenOnly) != nullptr) {
        return;
    }
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral("qtbase_de"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        return;
    }
    translator->setObjectName(name);
    translator->setParent(app);  // it lives as long as the application
    QCoreApplication::installTranslator(translator.release());
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* text, int left, int top) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->adjustSize();
    label->move(left, top);
    return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* text, int left) {
    auto* button = new QPushButton(QString::fromUtf8(text), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(left, 336, 75, 25);
    button->setAutoDefault(false);
    return button;
}

constexpr int kFocusFrameWidth = 2;

// Drawn over the window around the control that has the keyboard focus. The flat window shows the focus
// faintly or not at all (the links of the title band, the close picture); the frame is in the orange of
// the progress bar, so it reads on the dark band and on the white body alike.
class FocusFrame : public QWidget {
public:
    explicit FocusFrame(QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("focusFrame"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        hide();
    }

protected:
    void paintEvent(QPaintEvent* /*event*/) override {
        QPainter painter(this);
        QPen pen(QColor(255, 159, 72), kFocusFrameWidth);
        pen.setJoinStyle(Qt::MiterJoin);
        painter.setPen(pen);
        painter.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
    }
};

// What xdg-open's status says (its documented codes); the box names the file besides.
QString OpenerFailure(int status) {
    switch (status) {
        case 2:
            return QStringLiteral("die Datei ist nicht vorhanden");
        case 3:
            return QStringLiteral("kein Programm für diesen Dateityp gefunden");
        default:
            return QStringLiteral("xdg-open endete mit Status %1").arg(status);
    }
}

// The desktop's opener, the program Qt itself starts for a local file, but watched: without a viewer
// or browser for the file it ends with a status of its own, and only a box tells the user. The opener
// may wait for the viewer it started, so it is not waited for here.
void OpenWithDesktop(QObject* owner, const QString& path, const std::function<void(const QString&)>& failed) {
    auto* opener = new QProcess(owner);
    opener->setProcessChannelMode(QProcess::ForwardedChannels);
    QObject::connect(opener, &QProcess::errorOccurred, owner, [opener, failed](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            opener->deleteLater();
            failed(QStringLiteral("das Programm xdg-open kann nicht gestartet werden"));
        }
    });
    QObject::connect(opener, &QProcess::finished, owner,
                     [opener, failed](int status, QProcess::ExitStatus how) {
                         opener->deleteLater();
                         if (how == QProcess::NormalExit && status != 0) {
                             failed(OpenerFailure(status));
                         }
                     });
    opener->start(QStringLiteral("xdg-open"), {path});
}

}  // namespace

void InitApplication() {
    QGuiApplication::setApplicationDisplayName(QString::fromUtf8(kAppTitle));
    // Also the class of the window's WM_CLASS under X11, which the desktop entry's StartupWMClass names.
    QCoreApplication::setApplicationName(QStringLiteral("zeloro"));
    // The options dialog's values live in ~/.config/zeloro/zeloro.conf.
    QCoreApplication::setOrganizationName(QStringLiteral("zeloro"));
    // The desktop entry's name without ".desktop": a Wayland desktop finds the entry, and its icon, by it.
    QGuiApplication::setDesktopFileName(QStringLiteral("de.kvd.zeloro"));
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/pictures/zeloro.png")));
    AddFontSubstitutes();
    LoadQtTexts();
}

Tmain::Tmain(MainOptions options) : options_(std::move(options)) {
    if (!options_.resolveDataFolder) {
        options_.resolveDataFolder = [] { return ResolveDataFolder(); };
    }
    if (!options_.now) {
        options_.now = [] { return Now(); };
    }
    if (!options_.openDocument) {
        options_.openDocument = [this](const QString& path, std::function<void(const QString&)> failed) {
            OpenWithDesktop(this, path, failed);
        };
    }
    if (!options_.endApplication) {
        // exit(), not quit(): quit() would first ask the window to close, and this path raises no close
        // event (the connection closes when the window is destroyed).
        options_.endApplication = [] { QCoreApplication::exit(0); };
    }
    setObjectName(QStringLiteral("main"));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setWindowTitle(QString::fromUtf8(kAppTitle));
    setFixedSize(kWindowWidth, kWindowHeight);
    setFont(QFont(QStringLiteral("Tahoma"), 8));
    BuildControls();
    FormCreate();
}

Tmain::~Tmain() {
    // Focus moves while the children are torn down, when this is no longer a whole window.
    disconnect(focusWatch_);
    if (worker_ != nullptr) {
        // Only reached when the application ends with a run in progress: let the photo in hand be
        // finished, and keep serving the worker's calls (an input-check box waits on this thread).
        stop_ = true;
        while (!worker_->wait(20)) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        }
        delete worker_;
        worker_ = nullptr;
    }
}

void Tmain::BuildControls() {
    Image1 = new ClickLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(0, 0, kWindowWidth, kWindowHeight);
    Image1->setPixmap(QPixmap(QStringLiteral(":/pictures/background.png")));
    Image1->SetDragsWindow(true);

    Label5 = MakeLabel(this, "Label5", kAppTitle, 98, 20);
    QFont titleFont(QStringLiteral("Verdana"));
    titleFont.setPixelSize(12);
    titleFont.setBold(true);
    Label5->setFont(titleFont);
    QPalette white = Label5->palette();
    white.setColor(QPalette::WindowText, Qt::white);
    Label5->setPalette(white);
    Label5->adjustSize();

    Label8 = new ClickLabel(this);
    Label8->setObjectName(QStringLiteral("Label8"));
    Label8->setText(QStringLiteral("Hilfe"));
    QPalette grey = Label8->palette();
    grey.setColor(QPalette::WindowText, QColor(160, 160, 160));  // the button-shadow grey
    Label8->setPalette(grey);
    Label8->setCursor(Qt::PointingHandCursor);
    Label8->adjustSize();
    Label8->move(570, 12);

    LabelOptions = new ClickLabel(this);
    LabelOptions->setObjectName(QStringLiteral("LabelOptions"));
    LabelOptions->setPalette(grey);
    LabelOptions->setCursor(Qt::PointingHandCursor);

    Image2 = new ClickLabel(this);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setGeometry(606, 0, 34, 34);
    Image2->setAlignment(Qt::AlignCenter);
    Image2->setPixmap(QPixmap(QStringLiteral(":/pictures/close.png")));
    Image2->setCursor(Qt::PointingHandCursor);
    Image2->setToolTip(QStringLiteral("Beenden"));
    for (ClickLabel* link : {LabelOptions, Label8, Image2}) {
        link->SetKeyboardClickable();
    }

    Label1 = MakeLabel(this, "Label1", "&GPX-Datei:", 98, 77);
    edGpx = new FilenameEdit(this);
    edGpx->setObjectName(QStringLiteral("edGpx"));
    Label1->setBuddy(edGpx->Edit());
    edGpx->setGeometry(175, 74, 442, 21);
    edGpx->SetFilter(QString::fromUtf8(kGpxFilter) + TrackFilesFilter());

    Label2 = MakeLabel(this, "Label2", "&Bildordner:", 98, 117);
    edPictures = new DirectoryEdit(this);
    edPictures->setObjectName(QStringLiteral("edPictures"));
    Label2->setBuddy(edPictures->Edit());
    edPictures->setGeometry(175, 114, 442, 21);

    Label3 = MakeLabel(this, "Label3", "&Zeitzone:", 98, 157);
    cbtimezone = new QComboBox(this);
    cbtimezone->setObjectName(QStringLiteral("cbtimezone"));
    cbtimezone->setEditable(false);
    Label3->setBuddy(cbtimezone);
    for (const std::string_view item : ZoneItems()) {
        cbtimezone->addItem(QString::fromUtf8(item.data(), static_cast<qsizetype>(item.size())));
    }
    cbtimezone->setMaxVisibleItems(kZoneCount + 1);
    // The list's own choice is kept while the options override it, to come back when they no longer do; a
    // choice made meanwhile becomes the own one, and the list still shows that the options decide.
    connect(cbtimezone, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0 && index < kZoneCount) {
            ownZone_ = index;
            if (ZoneOverridden()) {
                cbtimezone->setCurrentIndex(kZoneCount);
            }
        }
    });
    cbtimezone->setGeometry(175, 154, 146, 21);

    Label4 = MakeLabel(this, "Label4", "maximale &Abweichung in Sekunden:", 350, 157);
    edSec = new SpinEdit(this);
    edSec->setObjectName(QStringLiteral("edSec"));
    Label4->setBuddy(edSec);
    edSec->setGeometry(542, 154, 75, 22);

    Label6 = MakeLabel(this, "Label6", "Status:", 98, 197);
    status = new ColorProgressBar(this);
    status->setObjectName(QStringLiteral("status"));
    status->setGeometry(175, 196, 442, 18);

    Label7 = MakeLabel(this, "Label7", "&Protokoll:", 98, 237);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Label7->setBuddy(Memo1);
    Memo1->setGeometry(175, 234, 442, 79);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setTabChangesFocus(true);
    Memo1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Memo1, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu* menu = Memo1->createStandardContextMenu(at);
        menu->addSeparator();
        menu->addAction(QStringLiteral("Protokoll speichern…"), this, &Tmain::SaveLogAs);
        QAction* undo =
            menu->addAction(QStringLiteral("Letzten Lauf rückgängig machen"), this, &Tmain::UndoClick);
        undo->setEnabled(!RunInProgress() && session_->Connected());
        QAction* remove =
            menu->addAction(QStringLiteral("GPS-Daten entfernen…"), this, &Tmain::RemoveGpsClick);
        remove->setEnabled(!RunInProgress() && session_->Connected());
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(Memo1->viewport()->mapToGlobal(at));
    });

    Button4 = MakeButton(this, "Button4", "&Maps", 175);
    Button1 = MakeButton(this, "Button1", "&Starten", 362);
    ButtonStop = MakeButton(this, "ButtonStop", "Abb&rechen", 362);
    ButtonStop->hide();
    Button2 = MakeButton(this, "Button2", "&Leeren", 452);
    Button3 = MakeButton(this, "Button3", "B&eenden", 542);
    BuildResultsControls();

    // Screen order: the title band left to right, then the rows top to bottom, each left to right.
    // "Abbrechen" takes the place of "Starten" during a run; a hidden control is passed over.
    const std::array<QWidget*, 20> order{LabelClock,
                                         LabelOptions,
                                         Label8,
                                         Image2,
                                         edGpx->Edit(),
                                         edGpx->Button(),
                                         edPictures->Edit(),
                                         edPictures->Button(),
                                         cbtimezone,
                                         edSec,
                                         Memo1,
                                         Button4,
                                         ButtonPreview,
                                         Button1,
                                         ButtonStop,
                                         Button2,
                                         Button3,
                                         results_->Table(),
                                         results_->Filter(),
                                         results_->WriteButton()};
    for (std::size_t i = 1; i < order.size(); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }
    focusFrame_ = new FocusFrame(this);
    focusWatch_ = connect(qApp, &QApplication::focusChanged, this,
                          [this](QWidget* /*old*/, QWidget* now) { FrameFocus(now); });

    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this, &Tmain::Label8Click);
    auto* stop = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(stop, &QShortcut::activated, this, &Tmain::StopClick);
    connect(ButtonStop, &QPushButton::clicked, this, &Tmain::StopClick);

    connect(Button1, &QPushButton::clicked, this, &Tmain::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &Tmain::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &Tmain::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &Tmain::Button4Click);
    connect(Image2, &ClickLabel::Clicked, this, &Tmain::Image2Click);
    connect(Label8, &ClickLabel::Clicked, this, &Tmain::Label8Click);
    connect(LabelOptions, &ClickLabel::Clicked, this, &Tmain::OptionsClick);
    PressButtonsOnEnter(this);
    OpenContextMenusByKey(this);
    AcceptDroppedPaths();
    SetRunOptions(WindowRunOptions::Load());
}

void Tmain::AcceptDroppedPaths() {
    // Whatever is dropped lands on the window: a field would take a dropped path as text to insert.
    for (QWidget* child : findChildren<QWidget*>()) {
        child->setAcceptDrops(false);
    }
    setAcceptDrops(true);
}

void Tmain::SetRunOptions(const WindowRunOptions& options) {
    runOptions_ = options;
    // The title band tells when a run will not be the plain one.
    LabelOptions->setText(options.AnyOn() ? QStringLiteral("Optionen (aktiv)") : QStringLiteral("Optionen"));
    LabelOptions->adjustSize();
    LabelOptions->move(Label8->x() - 12 - LabelOptions->width(), Label8->y());
    ShowZoneOverride(options.OverridesZoneList());
    LabelClock->move(LabelOptions->x() - 12 - LabelClock->width(), Label8->y());
    UpdateWriteEnabled();
}

bool Tmain::ZoneOverridden() const { return cbtimezone->count() > kZoneCount; }

void Tmain::ShowZoneOverride(bool overridden) {
    if (overridden && !ZoneOverridden()) {
        cbtimezone->addItem(QStringLiteral("(Optionen)"));
        cbtimezone->setCurrentIndex(kZoneCount);
        cbtimezone->setToolTip(QStringLiteral("Die Zeitzone ist in den Optionen festgelegt"));
    } else if (!overridden && ZoneOverridden()) {
        const int own = ownZone_;
        cbtimezone->removeItem(kZoneCount);
        cbtimezone->setCurrentIndex(own);
        cbtimezone->setToolTip(QString());
    }
    cbtimezone->setEnabled(!overridden && !RunInProgress());
}

void Tmain::SelectZone(int index) {
    ownZone_ = index;
    if (!ZoneOverridden()) {
        cbtimezone->setCurrentIndex(index);
    }
}

int Tmain::ZoneListIndex() const { return ZoneOverridden() ? ownZone_ : cbtimezone->currentIndex(); }

void Tmain::RestoreInputs() {
    if (!runOptions_.rememberInputs) {
        return;
    }
    if (const auto kept = RememberedInputs::Load(kZoneCount, edSec->maximum())) {
        edGpx->SetText(kept->gpxPath);
        edPictures->SetText(kept->photoFolder);
        SelectZone(kept->zoneIndex);
        edSec->setValue(kept->toleranceSeconds);
    }
}

void Tmain::KeepInputs() const {
    if (runOptions_.rememberInputs) {
        RememberedInputs{edGpx->Text(), edPictures->Text(), ZoneListIndex(), edSec->value()}.Save();
    }
}

std::optional<DroppedInputs> Tmain::DropOf(const QMimeData* dropped) const {
    if (RunInProgress() || dropped == nullptr || !dropped->hasUrls()) {
        return std::nullopt;
    }
    std::vector<std::string> paths;
    for (const QUrl& url : dropped->urls()) {
        if (!url.isLocalFile()) {
            return std::nullopt;
        }
        paths.push_back(url.toLocalFile().toStdString());
    }
    return SortDroppedPaths(paths);
}

void Tmain::dragEnterEvent(QDragEnterEvent* event) {
    // A refused drop leaves the event ignored: the pointer shows that nothing would be taken. The paths
    // are looked at once here, not again at every move of the pointer.
    dragTaken_ = DropOf(event->mimeData()).has_value();
    if (dragTaken_) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void Tmain::dragMoveEvent(QDragMoveEvent* event) {
    if (dragTaken_ && !RunInProgress()) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void Tmain::dropEvent(QDropEvent* event) {
    const std::optional<DroppedInputs> dropped = DropOf(event->mimeData());
    if (!dropped) {
        event->ignore();
        return;
    }
    if (!dropped->trackFile.empty()) {
        edGpx->SetText(QString::fromStdString(dropped->trackFile));
    }
    if (!dropped->photoFolder.empty()) {
        edPictures->SetText(QString::fromStdString(dropped->photoFolder));
    }
    event->acceptProposedAction();
}

void Tmain::BuildResultsControls() {
    LabelClock = new ClickLabel(this);
    LabelClock->setObjectName(QStringLiteral("LabelClock"));
    LabelClock->setText(QStringLiteral("Uhr abgleichen…"));
    LabelClock->setPalette(LabelOptions->palette());
    LabelClock->setCursor(Qt::PointingHandCursor);
    LabelClock->adjustSize();
    LabelClock->SetKeyboardClickable();
    connect(LabelClock, &ClickLabel::Clicked, this, &Tmain::ClockClick);

    ButtonPreview = MakeButton(this, "ButtonPreview", "Pr&obelauf", 262);
    connect(ButtonPreview, &QPushButton::clicked, this, &Tmain::PreviewClick);

    // The area overlaps the body's bottom frame line, so the frame runs on around both.
    results_ = new ResultsArea(this);
    results_->setGeometry(0, kWindowHeight - 1, kWindowWidth, kWindowHeightWithResults - kWindowHeight + 1);
    results_->hide();
    connect(results_->WriteButton(), &QPushButton::clicked, this, &Tmain::WritePreviewClick);
    connect(results_, &ResultsArea::PhotoActivated, this,
            [this](const QString& path) { OpenDocument(QFileInfo(path).absolutePath()); });
    // Any change of the form after a dry run makes its plan one the user did not ask for.
    connect(edGpx->Edit(), &QLineEdit::textChanged, this, &Tmain::UpdateWriteEnabled);
    connect(edPictures->Edit(), &QLineEdit::textChanged, this, &Tmain::UpdateWriteEnabled);
    connect(cbtimezone, &QComboBox::currentIndexChanged, this, &Tmain::UpdateWriteEnabled);
    connect(edSec, &QSpinBox::valueChanged, this, &Tmain::UpdateWriteEnabled);
}

Tmain::PreviewKey Tmain::FormKey() const {
    return {edGpx->Text(), edPictures->Text(), ZoneListIndex(), edSec->value(), runOptions_};
}

void Tmain::UpdateWriteEnabled() {
    if (results_ == nullptr) {
        return;  // the form is still being built
    }
    const bool planShown = !RunInProgress() && previewKey_ && session_ != nullptr &&
                           session_->LastPreview() != nullptr && *previewKey_ == FormKey();
    results_->WriteButton()->setEnabled(planShown);
}

void Tmain::BeginResults(bool dryRun, const RunSettings& settings) {
    results_->Begin(dryRun, settings.places != PlacesMode::off);
}

void Tmain::ShowResultsArea() {
    if (height() != kWindowHeightWithResults) {
        setFixedSize(kWindowWidth, kWindowHeightWithResults);
    }
    results_->show();
}

void Tmain::StartResultsRun(bool dryRun, const RunSettings& settings,
                            std::function<void(TaggingSession&, WindowObserver&)> work) {
    BeginResults(dryRun, settings);
    resultsRun_ = true;
    previewRun_ = dryRun;
    runClock_.start();
    StartWorker(std::move(work));
}

std::optional<RunInputs> Tmain::FormInputs() {
    // A mistyped folder would only log "0 Bilder im Verzeichnis gefunden" and import the track all the
    // same; it is refused here, after the run's own check of an empty GPX path, which comes first.
    const QString folder = edPictures->Text();
    if (!edGpx->Text().isEmpty() && !folder.isEmpty() && !QFileInfo(folder).isDir()) {
        ShowErrorBox(QFileInfo::exists(folder)
                         ? QStringLiteral("Der Bildordner '%1' ist kein Ordner.").arg(folder)
                         : QStringLiteral("Der Bildordner '%1' existiert nicht.").arg(folder));
        return std::nullopt;
    }
    // Empty inputs are the run's own to report first; it imports nothing then.
    if (!edGpx->Text().isEmpty() && !folder.isEmpty() && !ConnectForRun()) {
        return std::nullopt;
    }
    RunInputs inputs;
    inputs.gpxPath = edGpx->Text().toStdString();
    inputs.folder = edPictures->Text().toStdString();
    inputs.zoneIndex = ZoneListIndex();
    inputs.toleranceSeconds = edSec->value();
    inputs.modes = runOptions_.Modes();
    inputs.jobs = runOptions_.jobs;
    return inputs;
}

std::optional<Tmain::FormRun> Tmain::RunFromForm() {
    if (RunInProgress()) {
        return std::nullopt;
    }
    std::optional<RunInputs> inputs = FormInputs();
    if (!inputs) {
        return std::nullopt;
    }
    // The dialog accepts only texts a run can read; the defaults are the run without options.
    RunSettings settings = runOptions_.Settings().value_or(RunSettings{});
    // The table's "Grund" column; the log stays as it is without "Details im Protokoll".
    settings.reasonsForObserver = true;
    KeepInputs();
    return FormRun{std::move(*inputs), std::move(settings)};
}

void Tmain::PreviewClick() {
    std::optional<FormRun> run = RunFromForm();
    if (!run) {
        return;
    }
    previewKey_ = FormKey();
    StartResultsRun(true, run->settings, [run = *run](TaggingSession& session, WindowObserver& observer) {
        session.Preview(run.inputs, observer, run.settings);
    });
}

void Tmain::WritePreviewClick() {
    UpdateWriteEnabled();
    if (RunInProgress() || !results_->WriteButton()->isEnabled()) {
        return;
    }
    previewKey_.reset();  // the plan is used up by the write
    const RunSettings settings = runOptions_.Settings().value_or(RunSettings{});
    StartResultsRun(false, settings, [](TaggingSession& session, WindowObserver& observer) {
        session.WritePreview(observer);
    });
}

void Tmain::ClockClick() {
    if (RunInProgress()) {
        return;
    }
    QString problem;
    const std::optional<RunSettings> settings = runOptions_.Settings(&problem);
    if (!settings) {
        ShowErrorBox(problem);
        return;
    }
    RunInputs inputs;
    inputs.gpxPath = edGpx->Text().toStdString();
    inputs.folder = edPictures->Text().toStdString();
    inputs.zoneIndex = ZoneListIndex();
    inputs.toleranceSeconds = edSec->value();
    inputs.modes = runOptions_.Modes();
    ClockDialog dialog(edPictures->Text(), inputs, *settings, this);
    if (dialog.exec() != QDialog::Accepted || !dialog.Offset()) {
        return;
    }
    WindowRunOptions chosen = runOptions_;
    chosen.offsetText = QString::fromStdString(ClockOffsetText(*dialog.Offset()));
    chosen.Save();
    SetRunOptions(chosen);
    PreviewClick();
}

void Tmain::OptionsClick() {
    if (RunInProgress()) {
        return;  // what a run has taken stays as it was
    }
    OptionsDialog dialog(
        runOptions_, [this] { SaveLogAs(); }, this);
    if (dialog.exec() == QDialog::Accepted) {
        const WindowRunOptions chosen = dialog.Options();
        chosen.Save();
        if (!chosen.rememberInputs) {
            RememberedInputs::Forget();
        }
        SetRunOptions(chosen);
    }
}

bool Tmain::SaveLogTo(const QString& path) const {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    QByteArray text = Memo1->toPlainText().toUtf8();
    if (!text.isEmpty()) {
        text += '\n';
    }
    return file.write(text) == text.size() && file.flush();
}

void Tmain::SaveLogAs() {
    const QString path = ChooseSaveFile(this, QStringLiteral("Protokoll speichern"),
                                        QStringLiteral("Textdateien (*.txt)"), QStringLiteral("txt"));
    if (path.isEmpty()) {
        return;
    }
    if (!SaveLogTo(path)) {
        ReportError(QStringLiteral("Das Protokoll konnte nicht in %1 gespeichert werden").arg(path));
    }
}

void Tmain::FormCreate() {
    // The data folder is resolved before the window is shown, so its error box comes first.
    std::string dataFolder;
    try {
        dataFolder = options_.resolveDataFolder();
        if (dataFolder.empty()) {
            ShowErrorBox(QString::fromUtf8(kDatabaseNotFoundMessage));
        }
    } catch (const std::exception& error) {
        // The user's data folder could not be found or set up; the text names the folder and the reason,
        // worded as zeloro-cli reports it.
        ShowErrorBox(ErrorReportText(QString::fromStdString(error.what())));
    }
    session_ = std::make_unique<TaggingSession>(dataFolder);
    firstrun_ = true;
    SelectZone(DefaultZoneIndex(options_.now()));
    RestoreInputs();
}

bool Tmain::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) {
        FormActivate();
    } else if (event->type() == QEvent::WindowDeactivate) {
        FormDeactivate();
    }
    return QWidget::event(event);
}

void Tmain::FormActivate() {
    // A run in progress owns the session; the connect waits for a later activation. Without a data folder
    // there is nothing to connect to, and the start-up box has said so.
    if (!firstrun_ || connecting_ || reportOpen_ || !connectArmed_ || RunInProgress() ||
        session_->DataFolder().empty()) {
        return;
    }
    connecting_ = true;
    try {
        session_->Connect();
        firstrun_ = false;
    } catch (const std::exception& error) {
        connectArmed_ = false;
        ReportError(QString::fromStdString(error.what()));
    }
    connecting_ = false;
}

void Tmain::FormDeactivate() {
    // Our own report taking the focus is no reason to retry; the user going elsewhere is.
    if (!reportOpen_ && QApplication::activeModalWidget() == nullptr) {
        connectArmed_ = true;
    }
}

void Tmain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!centred_) {
        centred_ = true;
        const QScreen* screen = this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
        if (screen != nullptr) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
        edGpx->Edit()->setFocus();  // where a run starts: Space cannot start one by accident
    }
}

void Tmain::FrameFocus(QWidget* focused) {
    QWidget* control = focused;
    if (control != nullptr && qobject_cast<QAbstractSpinBox*>(control->parentWidget()) != nullptr) {
        control = control->parentWidget();  // the spin edit's own text field: the frame goes round it all
    }
    if (control == nullptr || control->window() != this || control == this || !control->isVisible()) {
        focusFrame_->hide();
        return;
    }
    const QRect area(control->mapTo(this, QPoint(0, 0)), control->size());
    focusFrame_->setGeometry(
        area.adjusted(-kFocusFrameWidth, -kFocusFrameWidth, kFocusFrameWidth, kFocusFrameWidth)
            .intersected(rect()));
    focusFrame_->raise();
    focusFrame_->show();
}

void Tmain::closeEvent(QCloseEvent* event) {
    if (RunInProgress()) {
        // The photo in hand is finished first; the window closes when the run has ended.
        stop_ = true;
        closePending_ = true;
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

void Tmain::FormClose() {
    KeepInputs();
    session_->Disconnect();
}

void Tmain::SetRunCommandsEnabled(bool enabled) {
    Button1->setEnabled(enabled);
    Button1->setVisible(enabled);
    ButtonStop->setVisible(!enabled);
    Button2->setEnabled(enabled);
    Button4->setEnabled(enabled);
    // "Beenden" and the close picture stay: during a run they stop it, then end the tool.
    // A change here would be ignored until the next run, so it is not offered during one.
    edGpx->setEnabled(enabled);
    edPictures->setEnabled(enabled);
    cbtimezone->setEnabled(enabled && !ZoneOverridden());
    edSec->setEnabled(enabled);
    LabelOptions->setEnabled(enabled);
    ButtonPreview->setEnabled(enabled);
    LabelClock->setEnabled(enabled);
    UpdateWriteEnabled();
}

void Tmain::Button1Click() {
    std::optional<FormRun> run = RunFromForm();
    if (!run) {
        return;
    }
    StartResultsRun(runOptions_.Modes().dryRun, run->settings,
                    [run = *run](TaggingSession& session, WindowObserver& observer) {
                        session.Run(run.inputs, observer, run.settings);
                    });
}

bool Tmain::ConnectForRun() {
    // Without a data folder the start-up box has said so, and the run goes as it always has.
    if (session_->Connected() || session_->DataFolder().empty()) {
        return true;
    }
    // The folder may have been held by another process at activation (a zeloro-cli run) and be free now.
    // While it is not, the run would find no track table and log only that its import failed, without a
    // reason; the reason is told instead, and nothing is started.
    try {
        session_->Connect();
        firstrun_ = false;
        return true;
    } catch (const std::exception& error) {
        ReportError(QString::fromStdString(error.what()));
        return false;
    }
}

void Tmain::UndoClick() {
    if (RunInProgress() || !session_->Connected()) {
        return;
    }
    StartWorker([](TaggingSession& session, WindowObserver& observer) {
        static_cast<void>(session.UndoLastRun(observer, false));
    });
}

void Tmain::RemoveGpsClick() {
    if (RunInProgress() || !session_->Connected()) {
        return;
    }
    const QString folder = edPictures->Text();
    if (folder.isEmpty()) {
        ShowErrorBox(QString::fromUtf8(kNoPhotoFolderMessage));
        return;
    }
    if (!QFileInfo(folder).isDir()) {
        ShowErrorBox(QFileInfo::exists(folder)
                         ? QStringLiteral("Der Bildordner '%1' ist kein Ordner.").arg(folder)
                         : QStringLiteral("Der Bildordner '%1' existiert nicht.").arg(folder));
        return;
    }
    const RunSettings settings = runOptions_.Settings().value_or(RunSettings{});
    const std::size_t count = CountPhotos(folder.toStdString(), settings.allPhotos);
    const QString question =
        QStringLiteral(
            "Die GPS-Position aus %1 %2 im Ordner '%3' entfernen?\n\nMit „Letzten Lauf rückgängig "
            "machen“ lässt sich das zurücknehmen.")
            .arg(count)
            .arg(count == 1 ? QStringLiteral("Foto") : QStringLiteral("Fotos"))
            .arg(folder);
    if (!AskQuestion({QMessageBox::Question, QStringLiteral("GPS-Daten entfernen"), question})) {
        return;
    }
    const RunModes modes = runOptions_.Modes();
    const std::string folderText = folder.toStdString();
    StartWorker([folderText, modes, settings](TaggingSession& session, WindowObserver& observer) {
        static_cast<void>(session.RemoveGps(folderText, observer, modes, settings));
    });
}

void Tmain::StartWorker(std::function<void(TaggingSession&, WindowObserver&)> work) {
    stop_ = false;
    runError_.reset();
    observer_ = new WindowObserver(stop_, this);
    connect(observer_, &WindowObserver::LineAppended, this, &Tmain::AppendLogLine, Qt::QueuedConnection);
    connect(observer_, &WindowObserver::ProgressMaxChanged, status, &ColorProgressBar::SetMax,
            Qt::QueuedConnection);
    connect(observer_, &WindowObserver::ProgressPositionChanged, status, &ColorProgressBar::SetPosition,
            Qt::QueuedConnection);
    if (resultsRun_) {
        // Only a run that got past its input checks has photos to show; one that stopped at a check has said
        // why in its box and leaves the window as it was.
        connect(observer_, &WindowObserver::ProgressMaxChanged, this, &Tmain::ShowResultsArea,
                Qt::QueuedConnection);
        connect(observer_, &WindowObserver::PhotoReported, results_, &ResultsArea::Add, Qt::QueuedConnection);
        connect(observer_, &WindowObserver::ProgressMaxChanged, results_, &ResultsArea::SetProgressMax,
                Qt::QueuedConnection);
        connect(observer_, &WindowObserver::ProgressPositionChanged, results_,
                &ResultsArea::SetProgressPosition, Qt::QueuedConnection);
    }

    TaggingSession* session = session_.get();
    WindowObserver* observer = observer_;
    worker_ = QThread::create([this, session, observer, work = std::move(work)] {
        try {
            work(*session, *observer);
        } catch (const std::exception& error) {
            runError_ = error.what();
        } catch (...) {
            runError_ = "Unbekannter Fehler";
        }
    });
    worker_->setObjectName(QStringLiteral("tagging run"));
    // finished is emitted on the worker and queued here behind every report the run made.
    connect(worker_, &QThread::finished, this, &Tmain::OnRunFinished, Qt::QueuedConnection);
    focusBeforeRun_ = QApplication::focusWidget();
    SetRunCommandsEnabled(false);
    if (focusBeforeRun_ != nullptr && focusBeforeRun_->window() == this) {
        ButtonStop->setFocus();  // Space or Enter on it, or Esc anywhere, stops the run
    }
    worker_->start();
}

void Tmain::OnRunFinished() {
    if (worker_ == nullptr) {
        return;
    }
    worker_->wait();
    delete worker_;
    worker_ = nullptr;
    // Reports the worker queued before it ended have been delivered; the observer can go.
    delete observer_;
    observer_ = nullptr;
    if (runError_) {
        const QString message = QString::fromStdString(*std::exchange(runError_, std::nullopt));
        // The log would otherwise stop at a dangling line once the box is closed.
        AppendLogLine(QString::fromStdString(LogStamp(Now())) + QStringLiteral(" - Fehler: ") +
                      ErrorReportText(message));
        ReportError(message);
    }
    if (resultsRun_) {
        resultsRun_ = false;
        results_->Finish(static_cast<double>(runClock_.elapsed()) / 1000.0);
        if (!previewRun_ || session_->LastPreview() == nullptr) {
            previewKey_.reset();
        }
    }
    SetRunCommandsEnabled(true);
    if (focusBeforeRun_ != nullptr && focusBeforeRun_->isEnabled() && focusBeforeRun_->isVisible() &&
        (QApplication::focusWidget() == nullptr || QApplication::focusWidget()->window() == this)) {
        focusBeforeRun_->setFocus();
    }
    focusBeforeRun_ = nullptr;
    emit RunFinished();
    if (quitPending_) {
        quitPending_ = false;
        closePending_ = false;
        Button3Click();
        return;
    }
    if (closePending_) {
        closePending_ = false;
        close();
    }
}

void Tmain::AppendLogLine(const QString& line) {
    Memo1->appendPlainText(line);
    Memo1->verticalScrollBar()->setValue(Memo1->verticalScrollBar()->maximum());
}

void Tmain::Button2Click() {
    if (RunInProgress()) {
        return;
    }
    Guarded([this] {
        edGpx->Clear();
        edPictures->Clear();
        Memo1->clear();
        session_->ClearMapEntries();
        status->SetPosition(0);
        previewKey_.reset();
        results_->Clear();
        results_->hide();
        setFixedSize(kWindowWidth, kWindowHeight);
        (void)session_->clearDatabase();
    });
}

void Tmain::StopClick() {
    if (RunInProgress()) {
        stop_ = true;
    }
}

void Tmain::Button3Click() {
    if (RunInProgress()) {
        quitPending_ = true;
        StopClick();
        return;
    }
    Guarded([this] {
        KeepInputs();
        (void)session_->clearDatabase();
        options_.endApplication();
    });
}

void Tmain::Image2Click() { Button3Click(); }

void Tmain::Button4Click() {
    if (RunInProgress()) {
        return;
    }
    Guarded([this] {
        const std::optional<std::string> page = session_->WriteMapPage();
        if (!page) {
            ShowInformationBox(QString::fromUtf8(kNoMapDataMessage));
            return;
        }
        const QString path = QString::fromStdString(*page);
        AppendLogLine(QString::fromStdString(LogStamp(Now())) +
                      QStringLiteral(" - Kartenseite geschrieben: ") + path);
        OpenDocument(path);
    });
}

void Tmain::Label8Click() {
    Guarded([this] {
        // An installed program finds the document in the data folder filled from the template; a build
        // tree has it beside the executable.
        std::string document = session_->DataFolder() + kHelpDocument;
        if (session_->DataFolder().empty() || !QFileInfo::exists(QString::fromStdString(document))) {
            document = ExecutableFolder() + kHelpDocument;
        }
        OpenDocument(QString::fromStdString(document));
    });
}

void Tmain::OpenDocument(const QString& path) {
    options_.openDocument(path, [this, path](const QString& reason) { ReportNotOpened(path, reason); });
}

void Tmain::ReportNotOpened(const QString& path, const QString& reason) {
    ShowErrorBox(QStringLiteral("Die Datei %1 konnte nicht geöffnet werden: %2.").arg(path, reason));
}

void Tmain::Guarded(const std::function<void()>& command) {
    try {
        command();
    } catch (const std::exception& error) {
        ReportError(QString::fromStdString(error.what()));
    }
}

void Tmain::ReportError(const QString& message) {
    reportOpen_ = true;
    ShowErrorReport(message);
    reportOpen_ = false;
}

}  // namespace zeloro
