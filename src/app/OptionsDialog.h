// src/app/OptionsDialog.h: the "Optionen" dialog: the opt-in time and matching settings and the run modes
// of the window, kept with QSettings between sessions.
#pragma once
#include <QDialog>
#include <QString>
#include <functional>
#include <optional>

#include "tagging/RunInputs.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

namespace zeloro {

// What the dialog holds, as the user typed it. The defaults are the run as it is without options.
struct WindowRunOptions {
    QString offsetText;  // clock offset: seconds or [+-]H:MM:SS; empty: none
    QString zoneText;    // a fixed offset or a zone name; empty: the zone list of the window
    bool photoZone = false;
    bool interpolate = false;
    int interpolateGap = kDefaultInterpolationGap;
    bool altitude = false;
    bool skipTagged = false;
    bool keepMtime = false;
    // Photos worked on at once, 1..kMaxJobs; 0: one per core. It changes the run's speed, never its
    // log or photos, so it is no option in force.
    int jobs = 0;
    bool explain = false;        // "Details im Protokoll"
    bool places = false;         // "Ortsnamen eintragen"
    bool placesReplace = false;  // "vorhandene Ortsnamen ersetzen"
    bool zoneFromTrack = false;  // "Zeitzone aus dem Track"
    bool allPhotos = false;      // "Alle Fotoformate"
    SidecarNaming sidecar = SidecarNaming::extension;
    bool rawInFile = false;  // only with allPhotos
    bool keepGoing = false;  // "Bei Fehlern weitermachen"
    // "Letzte Eingaben merken": the window's four inputs come back at the next start. It changes what the
    // window shows at start-up, never a run, so it is no option in force either.
    bool rememberInputs = false;
    friend bool operator==(const WindowRunOptions&, const WindowRunOptions&) = default;

    // True when a run differs from the run without options. What takes no effect counts for nothing: the
    // gap without interpolation, the sidecar and RAW choices without every photo kind, replacing place
    // names without places, an offset of 0 s. Texts no run can read count as on: the title band must not
    // hide them.
    [[nodiscard]] bool AnyOn() const;
    // True when the zone list of the window is not what a run takes: a zone typed here or each track
    // point's own zone.
    [[nodiscard]] bool OverridesZoneList() const { return !zoneText.trimmed().isEmpty() || zoneFromTrack; }
    // The settings and modes of a run; nullopt when the offset or the zone text cannot be read, with
    // the reason in *problem.
    [[nodiscard]] std::optional<RunSettings> Settings(QString* problem = nullptr) const;
    [[nodiscard]] RunModes Modes() const;

    // From and to the application's QSettings (group "Optionen").
    static WindowRunOptions Load();
    void Save() const;
};

class OptionsDialog : public QDialog {
    Q_OBJECT
public:
    // saveLog: "Protokoll speichern…", the window's log saved as a text file.
    OptionsDialog(const WindowRunOptions& options, std::function<void()> saveLog, QWidget* parent = nullptr);

    [[nodiscard]] WindowRunOptions Options() const;

    void accept() override;

private:
    QLineEdit* edOffset_;
    QLineEdit* edZone_;
    QCheckBox* cbPhotoZone_;
    QCheckBox* cbInterpolate_;
    QSpinBox* edGap_;
    QCheckBox* cbAltitude_;
    QCheckBox* cbSkipTagged_;
    QCheckBox* cbKeepMtime_;
    QSpinBox* edJobs_;
    QCheckBox* cbExplain_;
    QCheckBox* cbPlaces_;
    QCheckBox* cbPlacesReplace_;
    QCheckBox* cbZoneFromTrack_;
    QCheckBox* cbAllPhotos_;
    QComboBox* cbSidecar_;
    QCheckBox* cbRawInFile_;
    QCheckBox* cbKeepGoing_;
    QCheckBox* cbRememberInputs_;
};

}  // namespace zeloro
