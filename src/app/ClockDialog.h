// src/app/ClockDialog.h: "Uhr abgleichen…": the camera's clock offset from a photo of the GPS device's or
// the phone's clock.
#pragma once
#include <QDialog>
#include <QString>
#include <cstdint>
#include <optional>

#include "common/DateTime.h"
#include "tagging/RunInputs.h"

class QComboBox;
class QDateTimeEdit;
class QDialogButtonBox;
class QLabel;
class QPushButton;

namespace zeloro {

// Shows the chosen photo's name, shot time and (a JPEG) its picture; the user types the time the clock in
// the picture shows and the zone that clock runs in, and sees the offset at once. The camera zone is the
// one of the inputs and settings the window's run would take.
class ClockDialog : public QDialog {
    Q_OBJECT
public:
    // folder: where "Foto wählen…" opens its file dialog (the photo folder).
    ClockDialog(const QString& folder, RunInputs inputs, RunSettings settings, QWidget* parent = nullptr);

    // Reads the photo's shot time and fills the dialog from it; an error is shown in the dialog.
    void SetPhoto(const QString& path);
    // The offset of the photo and the typed time; nullopt while there is none (no photo, an error).
    [[nodiscard]] std::optional<std::int64_t> Offset() const noexcept { return offset_; }

private:
    void PickPhoto();
    void Recompute();
    void ShowError(const QString& text);

    QString folder_;
    RunInputs inputs_;
    RunSettings settings_;
    QString photo_;
    std::optional<std::int64_t> offset_;

    QPushButton* choose_;
    QLabel* name_;
    QLabel* shot_;
    QLabel* picture_;
    QDateTimeEdit* shown_;
    QComboBox* zone_;
    QLabel* result_;
    QDialogButtonBox* buttons_;
};

}  // namespace zeloro
