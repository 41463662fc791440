#include "app/ClockDialog.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QImageReader>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <exception>
#include <utility>

#include "app/FileDialogs.h"
#include "tagging/ClockMatch.h"
#include "tagging/ClockSentence.h"

namespace zeloro {

namespace {

constexpr int kPictureWidth = 320;
constexpr int kPictureHeight = 240;

// The edit shows the clock's reading as it is, without a zone of its own: UTC stands for "none".
QDateTime ToQDateTime(DateTimeValue value) {
    const CalendarDate d = DecodeDate(value);
    const ClockTime t = DecodeTime(value);
    return {QDate(d.year, d.month, d.day), QTime(t.hour, t.minute, t.second), Qt::UTC};
}

DateTimeValue FromQDateTime(const QDateTime& value) {
    const QDate d = value.date();
    const QTime t = value.time();
    return EncodeDateTime(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), 0);
}

}  // namespace

ClockDialog::ClockDialog(const QString& folder, RunInputs inputs, RunSettings settings, QWidget* parent)
    : QDialog(parent),
      folder_(folder),
      inputs_(std::move(inputs)),
      settings_(std::move(settings)),
      choose_(new QPushButton(QStringLiteral("Foto &wählen…"), this)),
      name_(new QLabel(this)),
      shot_(new QLabel(this)),
      picture_(new QLabel(this)),
      shown_(new QDateTimeEdit(this)),
      zone_(new QComboBox(this)),
      result_(new QLabel(this)),
      buttons_(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this)) {
    setObjectName(QStringLiteral("ClockDialog"));
    setWindowTitle(QStringLiteral("Uhr abgleichen"));

    auto* intro = new QLabel(
        QStringLiteral(
            "Fotografieren Sie mit der Kamera die Uhr des GPS-Geräts oder des Telefons, wählen Sie "
            "dieses Foto und tragen Sie die Uhrzeit ein, die im Bild zu sehen ist."),
        this);
    intro->setWordWrap(true);

    choose_->setObjectName(QStringLiteral("ButtonChoosePhoto"));
    choose_->setAutoDefault(false);
    name_->setObjectName(QStringLiteral("LabelPhotoName"));
    shot_->setObjectName(QStringLiteral("LabelShotTime"));
    picture_->setObjectName(QStringLiteral("LabelPicture"));
    picture_->setFixedSize(kPictureWidth, kPictureHeight);
    picture_->setAlignment(Qt::AlignCenter);
    picture_->setFrameShape(QFrame::StyledPanel);
    shown_->setObjectName(QStringLiteral("edShownTime"));
    shown_->setTimeSpec(Qt::UTC);
    shown_->setDisplayFormat(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    shown_->setEnabled(false);
    zone_->setObjectName(QStringLiteral("cbClockZone"));
    zone_->addItem(QStringLiteral("UTC (GPS-Gerät)"));
    zone_->addItem(QStringLiteral("Zeitzone der Kamera (Telefon)"));
    result_->setObjectName(QStringLiteral("LabelOffset"));
    result_->setWordWrap(true);
    result_->setMinimumHeight(result_->fontMetrics().height() * 2);
    buttons_->button(QDialogButtonBox::Ok)->setEnabled(false);
    buttons_->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Abbrechen"));

    auto* photoRow = new QHBoxLayout;
    photoRow->addWidget(choose_);
    photoRow->addWidget(name_, 1);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Foto:"), photoRow);
    form->addRow(QStringLiteral("Aufnahme (Kamera):"), shot_);
    form->addRow(QString(), picture_);
    form->addRow(QStringLiteral("Uhrzeit im Bild:"), shown_);
    form->addRow(QStringLiteral("Zeitzone dieser Uhr:"), zone_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addWidget(result_);
    layout->addWidget(buttons_);

    connect(choose_, &QPushButton::clicked, this, &ClockDialog::PickPhoto);
    connect(shown_, &QDateTimeEdit::dateTimeChanged, this, &ClockDialog::Recompute);
    connect(zone_, &QComboBox::currentIndexChanged, this, &ClockDialog::Recompute);
    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void ClockDialog::PickPhoto() {
    const QString path =
        ChooseOpenFile(this, QStringLiteral("Foto der Uhr wählen"),
                       QStringLiteral("JPEG-Fotos (*.jpg *.jpeg *.JPG *.JPEG);;Alle Dateien (*)"), folder_);
    if (!path.isEmpty()) {
        SetPhoto(path);
    }
}

void ClockDialog::SetPhoto(const QString& path) {
    photo_ = path;
    offset_.reset();
    name_->setText(QFileInfo(path).fileName());
    shot_->clear();
    picture_->clear();
    shown_->setEnabled(false);
    buttons_->button(QDialogButtonBox::Ok)->setEnabled(false);
    ClockMatch match;
    try {
        // The shot time alone; the reading typed below is matched against it afterwards.
        match = MatchClock(path.toStdString(), EncodeDateTime(2000, 1, 1, 0, 0, 0, 0),
                           CameraZone::FromOffset(0), inputs_, settings_);
    } catch (const std::exception& error) {
        ShowError(QString::fromStdString(error.what()));
        return;
    }
    shot_->setText(QStringLiteral("%1").arg(
        ToQDateTime(match.shotTime).toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"))));
    QImageReader reader(path);
    if (reader.format() == "jpeg") {
        reader.setAutoTransform(true);
        const QSize size = reader.size();
        if (size.isValid()) {
            reader.setScaledSize(size.scaled(kPictureWidth - 4, kPictureHeight - 4, Qt::KeepAspectRatio));
        }
        const QImage image = reader.read();
        if (!image.isNull()) {
            picture_->setPixmap(QPixmap::fromImage(image));
        }
    }
    {
        const QSignalBlocker quiet(shown_);
        shown_->setDateTime(ToQDateTime(match.shotTime));
    }
    shown_->setEnabled(true);
    Recompute();
}

void ClockDialog::Recompute() {
    if (photo_.isEmpty() || !shown_->isEnabled()) {
        return;
    }
    const CameraZone zone = zone_->currentIndex() == 0
                                ? CameraZone::FromOffset(0)
                                : settings_.zone.value_or(CameraZone::FromListIndex(inputs_.zoneIndex));
    try {
        const ClockMatch match =
            MatchClock(photo_.toStdString(), FromQDateTime(shown_->dateTime()), zone, inputs_, settings_);
        offset_ = match.offsetSeconds;
    } catch (const std::exception& error) {
        offset_.reset();
        ShowError(QString::fromStdString(error.what()));
        buttons_->button(QDialogButtonBox::Ok)->setEnabled(false);
        return;
    }
    result_->setStyleSheet(QString());
    result_->setText(QString::fromStdString(ClockSentence(*offset_)));
    buttons_->button(QDialogButtonBox::Ok)->setEnabled(true);
}

void ClockDialog::ShowError(const QString& text) {
    result_->setStyleSheet(QStringLiteral("color: #b00000;"));
    result_->setText(text);
}

}  // namespace zeloro
