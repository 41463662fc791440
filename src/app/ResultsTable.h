// src/app/ResultsTable.h: the window's results area: one row per photo a run handled, a status filter, the
// run's summary line and "Jetzt schreiben" for a dry run's plan.
#pragma once
#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QTimer>
#include <QWidget>
#include <optional>
#include <string>
#include <vector>

#include "common/DateTime.h"
#include "tagging/RunObserver.h"
#include "tagging/RunSummary.h"

class QComboBox;
class QLabel;
class QPushButton;
class QTableView;

namespace zeloro {

// What the table keeps of one photo's report.
struct ResultRow {
    std::string path;
    PhotoStatus status = PhotoStatus::noMatch;
    bool rematched = false;
    DateTimeValue shotTime = 0;
    DateTimeValue shotUtc = 0;
    std::string zoneText;
    std::string lat;
    std::string lon;
    std::optional<long long> distanceSeconds;
    std::string reason;
    std::string place;
};

// "dd.mm.yyyy hh:nn:ss", the form of the log's stamps with the time always shown; empty for 0.
[[nodiscard]] QString ResultTimeText(DateTimeValue value);

// The rows of the last run. Reports are taken one by one but reach the view in batches, so a run of
// many thousand photos does not make the view lay itself out once per photo.
class ResultsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { kFile, kShotCamera, kShotUtc, kStatus, kPosition, kDistance, kReason, kPlace, kColumns };
    // The value a column is sorted by: numbers for times and distances, else the shown text.
    static constexpr int kSortRole = Qt::UserRole;
    // The photo's status as an int, for the filter.
    static constexpr int kStatusRole = Qt::UserRole + 1;
    // The photo's full path.
    static constexpr int kPathRole = Qt::UserRole + 2;

    explicit ResultsModel(QObject* parent = nullptr);

    // Empties the table for a run; dryRun: a tagged photo only would be.
    void Reset(bool dryRun);
    // Queues a report; it is shown at the next batch.
    void Add(const PhotoReport& report);
    // Shows every queued report now.
    void Flush();
    [[nodiscard]] bool DryRun() const noexcept { return dryRun_; }
    // Every report taken, queued ones included.
    [[nodiscard]] const RunCounts& Counts() const noexcept { return counts_; }

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role = Qt::DisplayRole) const override;

    [[nodiscard]] QString StatusText(const ResultRow& row) const;
    [[nodiscard]] static QString ReasonText(const ResultRow& row);
    // The status cell's tip: the position and its distance to the track point, or why there is none.
    [[nodiscard]] static QString StatusTip(const ResultRow& row);

private:
    std::vector<ResultRow> rows_;
    std::vector<ResultRow> pending_;
    QTimer batch_;
    RunCounts counts_;
    bool dryRun_ = false;
};

// The rows of one status, or all.
class ResultsFilter : public QSortFilterProxyModel {
    Q_OBJECT
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    void SetStatus(std::optional<PhotoStatus> status);

protected:
    [[nodiscard]] bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    std::optional<PhotoStatus> status_;
};

inline constexpr int kResultsAreaHeight = 260;

// Below the window's 640x400 body: "Ergebnisse:", the table, the filter, the summary line and "Jetzt
// schreiben", on a white body framed like the window's.
class ResultsArea : public QWidget {
    Q_OBJECT
public:
    explicit ResultsArea(QWidget* parent);

    [[nodiscard]] ResultsModel& Model() noexcept { return *model_; }
    [[nodiscard]] QTableView* Table() const noexcept { return table_; }
    [[nodiscard]] QPushButton* WriteButton() const noexcept { return write_; }
    [[nodiscard]] QComboBox* Filter() const noexcept { return filter_; }
    [[nodiscard]] QString SummaryText() const;

    // A run that fills the table starts: rows and summary go. places: the run writes place names, so
    // the "Ort" column is shown.
    void Begin(bool dryRun, bool places);
    void SetProgressMax(int maximum);
    // The run's progress as "412 / 1000" in the summary's place (the bar itself shows no text).
    void SetProgressPosition(int position);
    void Add(const PhotoReport& report) { model_->Add(report); }
    // The run has ended: the last rows and the summary line.
    void Finish(double seconds);
    // "Leeren": no rows, no summary.
    void Clear();

signals:
    // Double-click or Enter on a row: the photo's path.
    void PhotoActivated(const QString& path);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    ResultsModel* model_;
    ResultsFilter* proxy_;
    QTableView* table_;
    QComboBox* filter_;
    QLabel* summary_;
    QPushButton* write_;
    int progressMax_ = 0;
    bool counting_ = false;  // the run has found its photos; one that ended at an input check has not
};

}  // namespace zeloro
