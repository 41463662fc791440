#include "app/ResultsTable.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTableView>
#include <array>
#include <string_view>
#include <utility>

#include "tagging/PlaceTags.h"

namespace zeloro {

namespace {

// Reports arrive faster than a person reads; a few batches a second keep the table moving.
constexpr int kBatchIntervalMs = 150;

constexpr std::array<const char*, ResultsModel::kColumns> kHeaders{
    "Datei", "Aufnahme (Kamera)", "Aufnahme (UTC)", "Status", "Position", "Abstand (s)", "Grund", "Ort"};
constexpr std::array<int, ResultsModel::kColumns> kColumnWidths{110, 112, 112, 80, 140, 70, 220, 150};

// The filter's items in order; the first shows every row.
constexpr std::array<const char*, 5> kFilterItems{"Alle", "getaggt", "ohne Treffer", "übersprungen",
                                                  "Fehler"};
constexpr std::array<PhotoStatus, 4> kFilterStatuses{PhotoStatus::tagged, PhotoStatus::noMatch,
                                                     PhotoStatus::skipped, PhotoStatus::failed};

QString Utf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString FileName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return Utf8(slash == std::string::npos ? path : path.substr(slash + 1));
}

}  // namespace

QString ResultTimeText(DateTimeValue value) {
    if (value == 0) {
        return {};
    }
    const CalendarDate d = DecodeDate(value);
    const ClockTime t = DecodeTime(value);
    return QStringLiteral("%1.%2.%3 %4:%5:%6")
        .arg(d.day, 2, 10, QLatin1Char('0'))
        .arg(d.month, 2, 10, QLatin1Char('0'))
        .arg(d.year, 4, 10, QLatin1Char('0'))
        .arg(t.hour, 2, 10, QLatin1Char('0'))
        .arg(t.minute, 2, 10, QLatin1Char('0'))
        .arg(t.second, 2, 10, QLatin1Char('0'));
}

ResultsModel::ResultsModel(QObject* parent) : QAbstractTableModel(parent) {
    batch_.setSingleShot(true);
    batch_.setInterval(kBatchIntervalMs);
    connect(&batch_, &QTimer::timeout, this, &ResultsModel::Flush);
}

void ResultsModel::Reset(bool dryRun) {
    batch_.stop();
    beginResetModel();
    rows_.clear();
    pending_.clear();
    counts_ = {};
    dryRun_ = dryRun;
    endResetModel();
}

void ResultsModel::Add(const PhotoReport& report) {
    ResultRow row;
    row.path = report.path;
    row.status = report.status;
    row.rematched = report.rematched;
    row.shotTime = report.shotTime;
    row.shotUtc = report.shotUtc;
    row.zoneText = report.zoneText;
    if (report.status == PhotoStatus::tagged) {
        row.lat = report.lat;
        row.lon = report.lon;
        row.distanceSeconds = report.distanceSeconds;
    }
    if (report.status == PhotoStatus::failed) {
        row.reason = report.message;  // the error's text, as the log has it
    } else {
        // The column's title says what the log line's "Grund: " says.
        constexpr std::string_view kLogPrefix = "Grund: ";
        row.reason =
            report.reason.starts_with(kLogPrefix) ? report.reason.substr(kLogPrefix.size()) : report.reason;
    }
    if (report.place) {
        row.place = PlaceLabel(*report.place);
    }
    counts_.Add(report.status);
    pending_.push_back(std::move(row));
    if (!batch_.isActive()) {
        batch_.start();
    }
}

void ResultsModel::Flush() {
    batch_.stop();
    if (pending_.empty()) {
        return;
    }
    const int first = static_cast<int>(rows_.size());
    beginInsertRows({}, first, first + static_cast<int>(pending_.size()) - 1);
    rows_.insert(rows_.end(), std::make_move_iterator(pending_.begin()),
                 std::make_move_iterator(pending_.end()));
    pending_.clear();
    endInsertRows();
}

int ResultsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ResultsModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QString ResultsModel::StatusText(const ResultRow& row) const {
    switch (row.status) {
        case PhotoStatus::tagged:
            return dryRun_ ? QStringLiteral("würde getaggt") : QStringLiteral("getaggt");
        case PhotoStatus::noMatch:
            return QStringLiteral("ohne Treffer");
        case PhotoStatus::skipped:
            return QStringLiteral("übersprungen");
        case PhotoStatus::failed:
            return QStringLiteral("Fehler");
    }
    return {};
}

QString ResultsModel::StatusTip(const ResultRow& row) {
    if (row.lat.empty()) {
        return ReasonText(row);
    }
    QString tip = QStringLiteral("Position: ") + Utf8(row.lat) + QStringLiteral(", ") + Utf8(row.lon);
    if (row.distanceSeconds) {
        tip += QStringLiteral(", Abstand zum Trackpunkt: ") + QString::number(*row.distanceSeconds) +
               QStringLiteral(" s");
    }
    return tip;
}

QString ResultsModel::ReasonText(const ResultRow& row) {
    QString text = Utf8(row.reason);
    if (row.status == PhotoStatus::skipped && text.isEmpty()) {
        text = QStringLiteral("hat bereits eine GPS-Position");
    }
    if (row.rematched) {
        // The photo changed after the dry run, so what was shown then is not what was written.
        text =
            text.isEmpty() ? QStringLiteral("neu abgeglichen") : QStringLiteral("neu abgeglichen; ") + text;
    }
    return text;
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) {
        return {};
    }
    const ResultRow& row = rows_[static_cast<std::size_t>(index.row())];
    if (role == kStatusRole) {
        return static_cast<int>(row.status);
    }
    if (role == kPathRole) {
        return Utf8(row.path);
    }
    if (role == Qt::TextAlignmentRole) {
        return index.column() == kDistance ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    }
    if (role == Qt::ToolTipRole) {
        switch (index.column()) {
            case kFile:
                return Utf8(row.path);
            case kShotCamera:
                return row.zoneText.empty() ? QVariant() : QStringLiteral("gelesen in ") + Utf8(row.zoneText);
            case kStatus:
                // The columns right of it need the table scrolled sideways in the window's narrow column;
                // what they hold is at hand on the status itself.
                return StatusTip(row);
            case kReason:
                return ReasonText(row);
            default:
                return {};
        }
    }
    if (role == kSortRole) {
        switch (index.column()) {
            case kShotCamera:
                return row.shotTime;
            case kShotUtc:
                return row.shotUtc;
            case kDistance:
                // A photo without a distance sorts after every one with one.
                return row.distanceSeconds ? static_cast<qlonglong>(*row.distanceSeconds)
                                           : qlonglong{1} << 62;
            default:
                break;
        }
        return data(index, Qt::DisplayRole);
    }
    if (role != Qt::DisplayRole) {
        return {};
    }
    switch (index.column()) {
        case kFile:
            return FileName(row.path);
        case kShotCamera:
            return ResultTimeText(row.shotTime);
        case kShotUtc:
            return ResultTimeText(row.shotUtc);
        case kStatus:
            return StatusText(row);
        case kPosition:
            return row.lat.empty() ? QString() : Utf8(row.lat) + QStringLiteral(", ") + Utf8(row.lon);
        case kDistance:
            return row.distanceSeconds ? QString::number(*row.distanceSeconds) : QString();
        case kReason:
            return ReasonText(row);
        case kPlace:
            return Utf8(row.place);
        default:
            return {};
    }
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kColumns) {
        return {};
    }
    return QString::fromUtf8(kHeaders[static_cast<std::size_t>(section)]);
}

void ResultsFilter::SetStatus(std::optional<PhotoStatus> status) {
    status_ = status;
    invalidateRowsFilter();
}

bool ResultsFilter::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
    if (!status_) {
        return true;
    }
    const QModelIndex index = sourceModel()->index(sourceRow, 0, sourceParent);
    return sourceModel()->data(index, ResultsModel::kStatusRole).toInt() == static_cast<int>(*status_);
}

ResultsArea::ResultsArea(QWidget* parent)
    : QWidget(parent),
      model_(new ResultsModel(this)),
      proxy_(new ResultsFilter(this)),
      table_(new QTableView(this)),
      filter_(new QComboBox(this)),
      summary_(new QLabel(this)),
      write_(new QPushButton(QStringLiteral("&Jetzt schreiben"), this)) {
    setObjectName(QStringLiteral("resultsArea"));
    auto* label = new QLabel(QStringLiteral("Ergebn&isse:"), this);
    label->setObjectName(QStringLiteral("LabelResults"));
    label->adjustSize();
    label->move(98, 14);

    label->setBuddy(table_);  // Alt+I goes to the table, as the labels above go to their fields
    proxy_->setSourceModel(model_);
    proxy_->setSortRole(ResultsModel::kSortRole);
    proxy_->setSortLocaleAware(true);
    table_->setObjectName(QStringLiteral("tvResults"));
    table_->setModel(proxy_);
    table_->setGeometry(175, 11, 442, 178);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setTabKeyNavigation(false);
    table_->setWordWrap(false);
    // The run's order until a header is clicked.
    table_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    table_->setSortingEnabled(true);
    table_->verticalHeader()->hide();
    // Fixed heights and widths: the view never measures its rows, however many there are.
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 4);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    table_->horizontalHeader()->setHighlightSections(false);
    for (int column = 0; column < ResultsModel::kColumns; ++column) {
        table_->setColumnWidth(column, kColumnWidths[static_cast<std::size_t>(column)]);
    }
    table_->setColumnHidden(ResultsModel::kPlace, true);
    connect(table_, &QAbstractItemView::activated, this, [this](const QModelIndex& index) {
        emit PhotoActivated(index.data(ResultsModel::kPathRole).toString());
    });

    filter_->setObjectName(QStringLiteral("cbResultFilter"));
    for (const char* item : kFilterItems) {
        filter_->addItem(QString::fromUtf8(item));
    }
    filter_->setGeometry(175, 197, 130, 21);
    connect(filter_, &QComboBox::currentIndexChanged, this, [this](int index) {
        proxy_->SetStatus(index <= 0 ? std::nullopt
                                     : std::optional(kFilterStatuses[static_cast<std::size_t>(index - 1)]));
    });

    summary_->setObjectName(QStringLiteral("lblSummary"));
    summary_->setGeometry(175, 223, 337, 30);
    summary_->setWordWrap(true);
    summary_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    write_->setObjectName(QStringLiteral("ButtonWrite"));
    write_->setGeometry(522, 225, 95, 25);
    write_->setAutoDefault(false);
    write_->setEnabled(false);
}

QString ResultsArea::SummaryText() const { return summary_->text(); }

void ResultsArea::Begin(bool dryRun, bool places) {
    model_->Reset(dryRun);
    table_->setColumnHidden(ResultsModel::kPlace, !places);
    progressMax_ = 0;
    counting_ = false;
    summary_->clear();
}

void ResultsArea::SetProgressMax(int maximum) {
    progressMax_ = maximum;
    counting_ = true;
    SetProgressPosition(0);
}

void ResultsArea::SetProgressPosition(int position) {
    if (position > 0 || summary_->text().isEmpty()) {
        summary_->setText(QStringLiteral("%1 / %2").arg(position).arg(progressMax_));
    }
}

void ResultsArea::Finish(double seconds) {
    model_->Flush();
    if (!counting_ && model_->Counts().Total() == 0) {
        summary_->clear();  // the input check's box has said what is missing
        return;
    }
    summary_->setText(QString::fromStdString(SummaryLine(model_->Counts(), seconds, model_->DryRun())));
}

void ResultsArea::Clear() {
    model_->Reset(false);
    progressMax_ = 0;
    counting_ = false;
    summary_->clear();
    filter_->setCurrentIndex(0);
    table_->setColumnHidden(ResultsModel::kPlace, true);
}

void ResultsArea::paintEvent(QPaintEvent* /*event*/) {
    // The window's body goes on: white, its frame down both sides and along the bottom, and a faint rule
    // between the commands and the results as the one above the commands.
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    painter.fillRect(98, 0, 519, 1, QColor(225, 225, 225));
    painter.setPen(QPen(QColor(70, 70, 70), 1));
    painter.drawLine(0, 0, 0, height() - 1);
    painter.drawLine(width() - 1, 0, width() - 1, height() - 1);
    painter.drawLine(0, height() - 1, width() - 1, height() - 1);
}

}  // namespace zeloro
