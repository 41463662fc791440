#include "app/OptionsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <thread>
#include <utility>

#include "app/MessageBoxes.h"
#include "tagging/FrontEnd.h"

namespace zeloro {

std::optional<RunSettings> WindowRunOptions::Settings(QString* problem) const {
    RunSettings settings;
    const auto fail = [problem](const QString& text) {
        if (problem != nullptr) {
            *problem = text;
        }
        return std::nullopt;
    };
    if (const QString offset = offsetText.trimmed(); !offset.isEmpty()) {
        const auto seconds = ParseClockOffset(offset.toStdString());
        if (!seconds) {
            return fail(QStringLiteral("Ungültige Uhrkorrektur '%1': erwartet werden Sekunden oder "
                                       "[+-]HH:MM:SS.")
                            .arg(offset));
        }
        settings.clockOffsetSeconds = *seconds;
    }
    if (const QString zone = zoneText.trimmed(); !zone.isEmpty()) {
        settings.zone = CameraZone::Parse(zone.toStdString());
        if (!settings.zone) {
            return fail(QStringLiteral("Ungültige Zeitzone '%1': erwartet wird ein Versatz wie \"+05:30\" "
                                       "oder ein Name wie \"Europe/Berlin\".")
                            .arg(zone));
        }
    }
    settings.photoZone = photoZone;
    if (interpolate) {
        settings.interpolateMaxGap = interpolateGap;
    }
    settings.altitude = altitude;
    settings.explain = explain;
    if (places) {
        settings.places = placesReplace ? PlacesMode::replace : PlacesMode::fill;
    }
    settings.zoneFromTrack = zoneFromTrack;
    settings.allPhotos = allPhotos;
    // Sidecars and RAW files are written only for the kinds the scan of every kind lists.
    settings.sidecar = allPhotos ? sidecar : SidecarNaming::extension;
    settings.rawInFile = allPhotos && rawInFile;
    settings.keepGoing = keepGoing;
    return settings;
}

bool WindowRunOptions::AnyOn() const {
    const std::optional<RunSettings> settings = Settings();
    return !settings || settings->InForce() || Modes().AnyOn();
}

RunModes WindowRunOptions::Modes() const {
    RunModes modes;
    modes.skipTagged = skipTagged;
    modes.keepMtime = keepMtime;
    return modes;
}

WindowRunOptions WindowRunOptions::Load() {
    QSettings store;
    store.beginGroup(QStringLiteral("Optionen"));
    WindowRunOptions o;
    o.offsetText = store.value(QStringLiteral("offset"), o.offsetText).toString();
    o.zoneText = store.value(QStringLiteral("zone"), o.zoneText).toString();
    o.photoZone = store.value(QStringLiteral("photoZone"), o.photoZone).toBool();
    o.interpolate = store.value(QStringLiteral("interpolate"), o.interpolate).toBool();
    const int gap = store.value(QStringLiteral("interpolateGap"), o.interpolateGap).toInt();
    o.interpolateGap = gap >= 1 && gap <= kLargestInterpolationGap ? gap : kDefaultInterpolationGap;
    o.altitude = store.value(QStringLiteral("altitude"), o.altitude).toBool();
    o.skipTagged = store.value(QStringLiteral("skipTagged"), o.skipTagged).toBool();
    o.keepMtime = store.value(QStringLiteral("keepMtime"), o.keepMtime).toBool();
    const int jobs = store.value(QStringLiteral("jobs"), o.jobs).toInt();
    o.jobs = jobs >= 0 && jobs <= kMaxJobs ? jobs : 0;
    o.explain = store.value(QStringLiteral("explain"), o.explain).toBool();
    o.places = store.value(QStringLiteral("places"), o.places).toBool();
    o.placesReplace = store.value(QStringLiteral("placesReplace"), o.placesReplace).toBool();
    o.zoneFromTrack = store.value(QStringLiteral("zoneFromTrack"), o.zoneFromTrack).toBool();
    o.allPhotos = store.value(QStringLiteral("allPhotos"), o.allPhotos).toBool();
    o.sidecar = store.value(QStringLiteral("sidecar")).toString() == QStringLiteral("base")
                    ? SidecarNaming::base
                    : SidecarNaming::extension;
    o.rawInFile = store.value(QStringLiteral("rawInFile"), o.rawInFile).toBool();
    o.keepGoing = store.value(QStringLiteral("keepGoing"), o.keepGoing).toBool();
    o.rememberInputs = store.value(QStringLiteral("rememberInputs"), o.rememberInputs).toBool();
    // A hand-edited store with a text no run can read must not keep every run from starting.
    if (!o.Settings()) {
        o.offsetText.clear();
        o.zoneText.clear();
    }
    return o;
}

void WindowRunOptions::Save() const {
    QSettings store;
    store.beginGroup(QStringLiteral("Optionen"));
    store.setValue(QStringLiteral("offset"), offsetText);
    store.setValue(QStringLiteral("zone"), zoneText);
    store.setValue(QStringLiteral("photoZone"), photoZone);
    store.setValue(QStringLiteral("interpolate"), interpolate);
    store.setValue(QStringLiteral("interpolateGap"), interpolateGap);
    store.setValue(QStringLiteral("altitude"), altitude);
    store.setValue(QStringLiteral("skipTagged"), skipTagged);
    store.setValue(QStringLiteral("keepMtime"), keepMtime);
    store.setValue(QStringLiteral("jobs"), jobs);
    store.setValue(QStringLiteral("explain"), explain);
    store.setValue(QStringLiteral("places"), places);
    store.setValue(QStringLiteral("placesReplace"), placesReplace);
    store.setValue(QStringLiteral("zoneFromTrack"), zoneFromTrack);
    store.setValue(QStringLiteral("allPhotos"), allPhotos);
    store.setValue(QStringLiteral("sidecar"),
                   sidecar == SidecarNaming::base ? QStringLiteral("base") : QStringLiteral("ext"));
    store.setValue(QStringLiteral("rawInFile"), rawInFile);
    store.setValue(QStringLiteral("keepGoing"), keepGoing);
    store.setValue(QStringLiteral("rememberInputs"), rememberInputs);
    store.endGroup();
    store.sync();
}

namespace {

QCheckBox* MakeCheck(QWidget* parent, const char* name, const QString& text, bool checked) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setChecked(checked);
    return box;
}

}  // namespace

OptionsDialog::OptionsDialog(const WindowRunOptions& options, std::function<void()> saveLog, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("OptionsDialog"));
    setWindowTitle(QStringLiteral("Optionen"));
    auto* form = new QFormLayout;

    edOffset_ = new QLineEdit(options.offsetText, this);
    edOffset_->setObjectName(QStringLiteral("edOffset"));
    edOffset_->setPlaceholderText(QStringLiteral("z. B. 90 oder -01:00:00"));
    form->addRow(QStringLiteral("&Uhrkorrektur der Kamera:"), edOffset_);

    edZone_ = new QLineEdit(options.zoneText, this);
    edZone_->setObjectName(QStringLiteral("edZone"));
    edZone_->setPlaceholderText(
        QStringLiteral("leer: Zeitzone des Fensters; z. B. +05:30 oder Europe/Berlin"));
    form->addRow(QStringLiteral("&Zeitzone (frei):"), edZone_);

    cbZoneFromTrack_ =
        MakeCheck(this, "cbZoneFromTrack", QStringLiteral("Zeitzone aus dem &Track"), options.zoneFromTrack);
    cbZoneFromTrack_->setToolTip(
        QStringLiteral("Jedes Foto in der Zeitzone des Ortes, an dem der Track zur Aufnahmezeit war "
                       "(mit Sommerzeit); die Zeitzone des Fensters gilt dann nicht"));
    form->addRow(QString(), cbZoneFromTrack_);

    cbPhotoZone_ = MakeCheck(this, "cbPhotoZone", QStringLiteral("Zeitversatz aus dem &Foto verwenden"),
                             options.photoZone);
    form->addRow(QString(), cbPhotoZone_);

    cbInterpolate_ = MakeCheck(this, "cbInterpolate", QStringLiteral("Position &interpolieren, Lücke bis"),
                               options.interpolate);
    edGap_ = new QSpinBox(this);
    edGap_->setObjectName(QStringLiteral("edGap"));
    edGap_->setRange(1, kLargestInterpolationGap);
    edGap_->setSuffix(QStringLiteral(" s"));
    edGap_->setValue(options.interpolateGap);
    edGap_->setEnabled(options.interpolate);
    connect(cbInterpolate_, &QCheckBox::toggled, edGap_, &QWidget::setEnabled);
    form->addRow(cbInterpolate_, edGap_);

    cbAltitude_ = MakeCheck(this, "cbAltitude", QStringLiteral("&Höhe schreiben"), options.altitude);
    form->addRow(QString(), cbAltitude_);
    cbSkipTagged_ = MakeCheck(this, "cbSkipTagged", QStringLiteral("Fotos mit &GPS-Position überspringen"),
                              options.skipTagged);
    form->addRow(QString(), cbSkipTagged_);
    cbKeepMtime_ = MakeCheck(this, "cbKeepMtime", QStringLiteral("Änd&erungszeit der Fotos beibehalten"),
                             options.keepMtime);
    form->addRow(QString(), cbKeepMtime_);
    cbExplain_ = MakeCheck(this, "cbExplain", QStringLiteral("&Details im Protokoll"), options.explain);
    cbExplain_->setToolTip(
        QStringLiteral("Zu jedem Foto ohne Koordinaten der Grund; Fotos in Unterordnern "
                       "mit ihrem Pfad unter dem Bildordner"));
    form->addRow(QString(), cbExplain_);
    cbPlaces_ = MakeCheck(this, "cbPlaces", QStringLiteral("Orts&namen eintragen"), options.places);
    cbPlaces_->setToolTip(
        QStringLiteral("Ort, Bundesland/Region, Land und Ländercode der Position in die XMP-Daten "
                       "(Ortsdaten: GeoNames, CC BY 4.0)"));
    form->addRow(QString(), cbPlaces_);
    cbPlacesReplace_ = MakeCheck(this, "cbPlacesReplace", QStringLiteral("vorhandene Ortsnamen e&rsetzen"),
                                 options.placesReplace);
    cbPlacesReplace_->setEnabled(options.places);
    connect(cbPlaces_, &QCheckBox::toggled, cbPlacesReplace_, &QWidget::setEnabled);
    form->addRow(QString(), cbPlacesReplace_);

    cbAllPhotos_ = MakeCheck(this, "cbAllPhotos", QStringLiteral("A&lle Fotoformate"), options.allPhotos);
    cbAllPhotos_->setToolTip(
        QStringLiteral("Außer *.jpg auch RAW, TIFF, HEIC/AVIF und Videos; diese erhalten die Position "
                       "in einer XMP-Begleitdatei"));
    form->addRow(QString(), cbAllPhotos_);
    cbSidecar_ = new QComboBox(this);
    cbSidecar_->setObjectName(QStringLiteral("cbSidecar"));
    cbSidecar_->addItem(QStringLiteral("NAME.EXT.xmp"));
    cbSidecar_->addItem(QStringLiteral("NAME.xmp"));
    cbSidecar_->setCurrentIndex(options.sidecar == SidecarNaming::base ? 1 : 0);
    form->addRow(QStringLiteral("&Begleitdatei:"), cbSidecar_);
    cbRawInFile_ = MakeCheck(this, "cbRawInFile", QStringLiteral("&Position in RAW-Dateien selbst schreiben"),
                             options.rawInFile);
    form->addRow(QString(), cbRawInFile_);
    const auto kindsChosen = [this](bool on) {
        cbSidecar_->setEnabled(on);
        cbRawInFile_->setEnabled(on);
    };
    kindsChosen(options.allPhotos);
    connect(cbAllPhotos_, &QCheckBox::toggled, this, kindsChosen);
    cbKeepGoing_ =
        MakeCheck(this, "cbKeepGoing", QStringLiteral("Bei Fehlern &weitermachen"), options.keepGoing);
    form->addRow(QString(), cbKeepGoing_);

    edJobs_ = new QSpinBox(this);
    edJobs_->setObjectName(QStringLiteral("edJobs"));
    edJobs_->setRange(0, kMaxJobs);
    edJobs_->setSpecialValueText(
        QStringLiteral("eins je Prozessorkern (%1)").arg(std::max(1U, std::thread::hardware_concurrency())));
    edJobs_->setValue(options.jobs);
    form->addRow(QStringLiteral("Fotos zuglei&ch:"), edJobs_);

    cbRememberInputs_ = MakeCheck(this, "cbRememberInputs", QStringLiteral("Letzte Eingaben &merken"),
                                  options.rememberInputs);
    cbRememberInputs_->setToolTip(
        QStringLiteral("GPX-Datei, Bildordner, Zeitzone und Abweichung beim nächsten Start wieder "
                       "eintragen"));
    form->addRow(QString(), cbRememberInputs_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("&OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("&Abbrechen"));
    QPushButton* saveButton =
        buttons->addButton(QStringLiteral("Protokoll &speichern…"), QDialogButtonBox::ActionRole);
    saveButton->setObjectName(QStringLiteral("btSaveLog"));
    connect(saveButton, &QPushButton::clicked, this, [saveLog = std::move(saveLog)] {
        if (saveLog) {
            saveLog();
        }
    });
    connect(buttons, &QDialogButtonBox::accepted, this, &OptionsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

WindowRunOptions OptionsDialog::Options() const {
    WindowRunOptions o;
    o.offsetText = edOffset_->text().trimmed();
    o.zoneText = edZone_->text().trimmed();
    o.photoZone = cbPhotoZone_->isChecked();
    o.interpolate = cbInterpolate_->isChecked();
    o.interpolateGap = edGap_->value();
    o.altitude = cbAltitude_->isChecked();
    o.skipTagged = cbSkipTagged_->isChecked();
    o.keepMtime = cbKeepMtime_->isChecked();
    o.jobs = edJobs_->value();
    o.explain = cbExplain_->isChecked();
    o.places = cbPlaces_->isChecked();
    o.placesReplace = cbPlacesReplace_->isChecked();
    o.zoneFromTrack = cbZoneFromTrack_->isChecked();
    o.allPhotos = cbAllPhotos_->isChecked();
    o.sidecar = cbSidecar_->currentIndex() == 1 ? SidecarNaming::base : SidecarNaming::extension;
    o.rawInFile = cbRawInFile_->isChecked();
    o.keepGoing = cbKeepGoing_->isChecked();
    o.rememberInputs = cbRememberInputs_->isChecked();
    return o;
}

void OptionsDialog::accept() {
    QString problem;
    if (!Options().Settings(&problem)) {
        ShowErrorBox(problem);
        return;  // the dialog stays open with the text to correct
    }
    QDialog::accept();
}

}  // namespace zeloro
