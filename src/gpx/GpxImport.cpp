// src/gpx/GpxImport.cpp: the import of a GPX file's timed points into the track table.
#include "gpx/GpxImport.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/AsciiText.h"
#include "common/Error.h"
#include "trackstore/ImportSavepoint.h"
#include "trackstore/TrackDetails.h"
#include "trackstore/TrackLookup.h"
#include "trackstore/TrackRows.h"
#include "xml/XmlDateTime.h"
#include "xml/XmlDocument.h"

namespace zeloro {

namespace {

constexpr std::array<std::string_view, 3> kPointNames{"wpt", "trkpt", "rtept"};

void RollbackQuietly(Connection& uniCon) noexcept {
    try {
        if (uniCon.InTransaction()) {
            uniCon.Rollback();
        }
    } catch (...) {  // NOLINT(bugprone-empty-catch): the import has already failed; nothing more to report
    }
}

// A stop request seen between points; it ends the import as a failed one.
struct ImportStopped {};

// True for a coordinate text that is a number beyond limit, read as the lookup reads it. A text that is
// no number is stored as written, as always: the lookup reports it for the photo that meets it.
bool BeyondLimit(const std::string& text, long double limit) {
    try {
        return !(std::fabs(StrToCoordinate(text)) <= limit);
    } catch (const ConvertError&) {
        return false;
    }
}

void CheckOnGlobe(const std::string& lat, const std::string& lon) {
    if (BeyondLimit(lat, 90.0L) || BeyondLimit(lon, 180.0L)) {
        throw RangeError(kPointOffGlobe);
    }
}

// "trkpt Nr. 3 (lat "91", lon "8.5", time "2024-06-15T08:00:00Z")": the point as its file shows it, so
// that it can be found there.
std::string PointText(std::size_t kind, std::uint64_t number, const std::string& lat, const std::string& lon,
                      const std::string& time) {
    return std::string(kPointNames[kind]) + " Nr. " + std::to_string(number) + " (lat \"" + LogSafeText(lat) +
           "\", lon \"" + LogSafeText(lon) + "\", time \"" + LogSafeText(time) + "\")";
}

// What failed at a point, for the caller: a point's own texts, not the database, which fails the same for
// every file.
void NoteFailure(std::string* failure, const std::string& gpxPath, const std::string& point) {
    if (failure == nullptr) {
        return;
    }
    try {
        throw;
    } catch (const DatabaseError&) {  // NOLINT(bugprone-empty-catch): not the file's fault
    } catch (const std::exception& e) {
        *failure = LogSafeText(gpxPath) + ": " + point + ": " + e.what();
    } catch (...) {  // NOLINT(bugprone-empty-catch): a stop, no error
    }
}

// The loader's error with the file's name in front; the open error names the file itself.
GpxLoadError LoadError(const std::string& gpxPath, const std::exception& e) {
    if (dynamic_cast<const FileError*>(&e) != nullptr) {
        return GpxLoadError(e.what());
    }
    return GpxLoadError(LogSafeText(gpxPath) + ": " + e.what());
}

// The elevation as the text of a number SQLite stores as REAL; false for no <ele> or one that is no number.
bool ElevationNumber(const std::optional<std::string>& elevation, std::string& number) {
    if (!elevation) {
        return false;
    }
    try {
        const auto metres = static_cast<double>(StrToCoordinate(*elevation));
        std::array<char, 32> text{};
        const auto written = std::to_chars(text.data(), text.data() + text.size(), metres);
        number.assign(text.data(), static_cast<std::size_t>(written.ptr - text.data()));
        return true;
    } catch (const ConvertError&) {  // NOLINT(bugprone-empty-catch): an unreadable elevation is none
    }
    return false;
}

std::optional<std::string> ElevationText(const TXmlNode& point) {
    const TXmlNode* node = point.NodeByName("ele");
    return node != nullptr ? std::optional<std::string>(node->ValueAsString()) : std::nullopt;
}

// A point's texts, kept for an insert after the rest of the document has been read.
struct LaterPoint {
    std::string lat;
    std::string lon;
    std::string time;
    std::optional<std::string> ele;  // with the details only
    std::uint64_t parent = 0;        // the element around it
    std::uint64_t number = 0;        // among the file's rtept, from 1
};

// Fills and inserts the row of one timed point through TrackRows, the same way for the tree and the
// streamed import. Points of one trkseg (or rte) share their parent element, named by a key; segment
// numbers go up in the order of the points.
class PointWriter {
public:
    PointWriter(Query& query, bool withDetails, std::int64_t firstSegment, long long& counter)
        : rows_(query, withDetails, counter), withDetails_(withDetails), nextSegment_(firstSegment) {}

    // The points wait in batches (see TrackRows::UseBatch).
    void UseBatch(Connection& connection, std::size_t rows) { rows_.UseBatch(connection, rows); }
    // Each point goes in on its own again; call Flush first to keep the ones waiting.
    void Direct() { rows_.Direct(); }

    // Throws as the time's conversion and the insert do.
    void Write(const TXmlNode& point, const TXmlNode& time, bool waypoint, std::uint64_t parent) {
        try {
            point.AttributeTextInto("lat", rows_.Text(kTrackLat));
            point.AttributeTextInto("lon", rows_.Text(kTrackLon));
            CheckOnGlobe(rows_.Text(kTrackLat), rows_.Text(kTrackLon));
            std::string& utctime = rows_.Text(kTrackUtctime);
            utctime.clear();
            time.AppendValueAsDateTimeText(utctime);
        } catch (...) {
            Flush();  // the points before this one go in before its error counts
            throw;
        }
        if (withDetails_) {
            Details(ElevationText(point), waypoint, parent);
        }
        rows_.Add();
    }

    // A route point, after the rest of the document.
    void Write(const LaterPoint& point) {
        CheckOnGlobe(point.lat, point.lon);
        rows_.Text(kTrackLat) = point.lat;
        rows_.Text(kTrackLon) = point.lon;
        std::string& utctime = rows_.Text(kTrackUtctime);
        utctime.clear();
        AppendDateTimeText(utctime, DateTimeFromText(point.time, false));  // as the node's ValueAsDateTime
        if (withDetails_) {
            Details(point.ele, false, point.parent);
        }
        rows_.Add();
    }

    // Puts in the points waiting in the batch. Throws as the first failing insert does; the points after
    // it are dropped.
    void Flush() { rows_.Flush(); }

private:
    void Details(const std::optional<std::string>& elevation, bool waypoint, std::uint64_t parent) {
        rows_.SetNull(kTrackEle, !ElevationNumber(elevation, rows_.Text(kTrackEle)));
        rows_.SetNull(kTrackSegment, !Segment(waypoint, parent, rows_.Text(kTrackSegment)));
    }

    // The segment number as text; false for a waypoint, which stands alone.
    bool Segment(bool waypoint, std::uint64_t parent, std::string& number) {
        if (waypoint) {
            return false;
        }
        const auto [entry, added] = segments_.try_emplace(parent, nextSegment_);
        nextSegment_ += added ? 1 : 0;
        number = std::to_string(entry->second);
        return true;
    }

    TrackRows rows_;
    bool withDetails_;
    std::int64_t nextSegment_;
    std::unordered_map<std::uint64_t, std::int64_t> segments_;
};

// The import after the start line, over the whole tree.
bool ImportTree(const std::string& gpxPath, Connection& uniCon, Query& query, LogSink& log,
                const std::function<void()>& processMessages, ImportDetails details,
                const std::function<bool()>& stopRequested, std::string* failure) {
    const bool withDetails = details == ImportDetails::elevationAndSegments;
    bool result = true;
    long long counter = 0;
    query.Close();
    query.SetSQL(withDetails ? kGpxInsertWithDetailsStatement : kGpxInsertStatement);
    {
        TXmlNodeList list;
        TXmlDocument document;
        // Loading lies outside the error trap: a file that cannot be read ends the caller's run.
        try {
            document.LoadFromFile(gpxPath);
        } catch (const std::exception& e) {
            // Still outside the trap and with the loader's text; the type tells a front end it was the
            // import.
            throw LoadError(gpxPath, e);
        }
        document.SetXmlFormat(TXmlFormatType::xfReadable);
        if (processMessages) {
            processMessages();
        }
        bool startedHere = false;
        try {
            const TXmlNode* root = document.Root();
            if (root != nullptr) {
                std::int64_t nextSegment = 0;
                if (withDetails) {
                    EnsureTrackDetailColumns(uniCon);
                    nextSegment = NextTrackSegment(uniCon);
                }
                if (!uniCon.InTransaction()) {
                    uniCon.StartTransaction();
                    startedHere = true;
                }
                PointWriter writer(query, withDetails, nextSegment, counter);
                for (std::size_t kind = 0; kind < kPointNames.size(); ++kind) {
                    list.Clear();
                    root->FindNodes(kPointNames[kind], list);
                    for (int i = 0; i < list.Count(); ++i) {
                        if (stopRequested && stopRequested()) {
                            throw ImportStopped();  // into the trap below, like any failure of the import
                        }
                        const TXmlNode* point = list[i];
                        const TXmlNode* time = point->NodeByName("time");
                        if (time == nullptr) {
                            continue;  // an untimed point is of no use to the lookup
                        }
                        try {
                            writer.Write(*point, *time, kind == 0,
                                         reinterpret_cast<std::uintptr_t>(point->Parent()));
                        } catch (...) {
                            NoteFailure(failure, gpxPath,
                                        PointText(kind, static_cast<std::uint64_t>(i) + 1,
                                                  point->AttributeTextByName("lat"),
                                                  point->AttributeTextByName("lon"), time->ValueAsString()));
                            throw;
                        }
                    }
                }
                uniCon.Commit();
            }
        } catch (...) {
            result = false;
            LogLine(log, kLogImportFailed);
            // Rows of a failed import must not become permanent with a later commit, and "Leeren" must
            // find no transaction open: undo the transaction this import began. One the caller began
            // belongs to the caller.
            if (startedHere) {
                RollbackQuietly(uniCon);
            }
        }
    }
    LogLine(log, " - " + std::to_string(counter) + kLogImportCountSuffix);
    return result;
}

// The tree import takes every wpt, then every trkpt, then every rtept. Route points are kept aside until
// the end of the document; a waypoint after a track point sends the import over to the tree.
struct OutOfOrder {};

constexpr const char* kSavepoint = "gpx_import";

// The streamed import's points go in this many at a time.
constexpr std::size_t kBatchRows = 64;

// Inserts each point as soon as the reader has read it, then lets the tree drop it. The file's own
// errors come at its end, so a file that fails anywhere leaves the table as the tree import leaves it:
// every row of the read lies in a savepoint that is rolled back when the document turns out not to load.
// After an error of a point the rest is still read, since a later load error or an earlier kind of point
// would change the outcome.
class StreamedImport final : public XmlNodeSink {
public:
    StreamedImport(Connection& uniCon, Query& query, bool withDetails,
                   const std::function<void()>& processMessages, const std::function<bool()>& stopRequested,
                   const std::string& gpxPath, std::string* failure)
        : uniCon_(uniCon),
          query_(query),
          withDetails_(withDetails),
          processMessages_(processMessages),
          stopRequested_(stopRequested),
          gpxPath_(gpxPath),
          failure_(failure),
          transaction_(uniCon, kSavepoint) {}

    bool NodeRead(const TXmlNode& node, bool underRoot) override {
        if (!underRoot) {
            return false;  // the import reads the first element only
        }
        for (const TXmlNode* up = node.Parent(); IsBelowRoot(up); up = up->Parent()) {
            if (Kind(*up) >= 0) {
                return true;  // read with the point around it
            }
        }
        TakePoints(node);
        return false;
    }

    // After the whole document has loaded; hasRoot: it has an element.
    void Finish(bool hasRoot) {
        if (!begun_) {
            Begin(hasRoot);
        }
        Settle();
        if (writer_) {
            // The stop is asked before each route point only until one fails, as the tree import asks:
            // so each one goes in on its own.
            writer_->Direct();
        }
        for (const LaterPoint& point : later_) {
            if (failedKind_) {
                return;
            }
            StopIfRequested();
            try {
                writer_->Write(point);
            } catch (...) {
                failedKind_ = kRoutePoint;
                NoteFailure(failure_, gpxPath_,
                            PointText(kRoutePoint, point.number, point.lat, point.lon, point.time));
            }
        }
        later_ = {};
        if (failedKind_) {
            return;
        }
        try {
            // As the tree import does, also a transaction the caller had open is committed.
            transaction_.Commit();
        } catch (...) {
            failedKind_ = -1;
        }
    }

    // The import failed: the rows stay as the tree import's failure leaves them.
    void KeepFailure() {
        Settle();  // the points read before a stop go in, as they went in one by one
        const bool startedHere = transaction_.StartedHere();
        transaction_.KeepFailure();
        // The tree import adds the columns before its transaction, so they stay.
        if (startedHere && withDetails_ && !detailsFailed_) {
            try {
                EnsureTrackDetailColumns(uniCon_);
            } catch (...) {  // NOLINT(bugprone-empty-catch): the import has already failed
            }
        }
    }

    // The document did not load, or is read again on the tree: nothing of this read stays.
    void Undo() noexcept { transaction_.Undo(); }

    [[nodiscard]] bool Failed() const noexcept { return failedKind_.has_value(); }
    [[nodiscard]] bool MessagesProcessed() const noexcept { return begun_; }
    [[nodiscard]] long long Count() const noexcept { return counter_; }

private:
    static bool IsBelowRoot(const TXmlNode* node) noexcept {
        // The root's parent is the list of top-level nodes, which has none.
        return node != nullptr && node->Parent() != nullptr && node->Parent()->Parent() != nullptr;
    }

    // The index in kPointNames, -1 for another name. Names are stored once per document, so a name's
    // address stands for its text.
    int Kind(const TXmlNode& node) {
        const std::string_view name = node.Name();
        for (const auto& [known, kind] : kinds_) {
            if (known == name.data()) {
                return kind;
            }
        }
        int kind = -1;
        for (std::size_t i = 0; i < kPointNames.size(); ++i) {
            if (SameTextAscii(name, kPointNames[i])) {
                kind = static_cast<int>(i);
            }
        }
        kinds_.emplace_back(name.data(), kind);
        return kind;
    }

    // The points of a subtree no point encloses, in the tree import's order: a point before those
    // inside it.
    void TakePoints(const TXmlNode& top) {
        const TXmlNode* node = &top;
        for (;;) {
            const int kind = Kind(*node);
            if (kind >= 0) {
                TakePoint(*node, kind);
            }
            if (node->FirstChild() != nullptr) {
                node = node->FirstChild();
                continue;
            }
            // Every node climbed out of is done: the tree drops it with top, and its storage may serve
            // another element.
            for (;;) {
                if (!serials_.empty()) {
                    serials_.erase(node);
                }
                if (node == &top) {
                    return;
                }
                if (node->NextSibling() != nullptr) {
                    node = node->NextSibling();
                    break;
                }
                node = node->Parent();
            }
        }
    }

    void TakePoint(const TXmlNode& point, int kind) {
        StopIfRequested();
        // Counted as the tree import counts them: every point of the name, timed or not.
        const std::uint64_t number = ++seen_[static_cast<std::size_t>(kind)];
        const TXmlNode* time = point.NodeByName("time");
        if (time == nullptr) {
            return;  // an untimed point is of no use to the lookup, wherever it lies
        }
        if (kind < kRoutePoint && (kind < lastKind_ || (failedKind_ && kind < *failedKind_))) {
            throw OutOfOrder{};
        }
        if (!begun_) {
            Begin(true);
        }
        if (failedKind_) {
            return;  // the tree import stops at its first error
        }
        const std::uint64_t parent = withDetails_ ? Serial(point.Parent()) : 0;
        if (kind == kRoutePoint) {
            later_.push_back(LaterPoint{point.AttributeTextByName("lat"), point.AttributeTextByName("lon"),
                                        time->ValueAsString(),
                                        withDetails_ ? ElevationText(point) : std::nullopt, parent, number});
            return;
        }
        lastKind_ = kind;
        try {
            writer_->Write(point, *time, kind == 0, parent);
        } catch (...) {
            failedKind_ = kind;
            NoteFailure(failure_, gpxPath_,
                        PointText(static_cast<std::size_t>(kind), number, point.AttributeTextByName("lat"),
                                  point.AttributeTextByName("lon"), time->ValueAsString()));
        }
    }

    // Between points, as the tree import asks; the rest of the file is not read then. The import has begun
    // first, so that the stop leaves the table as the tree import's stop does.
    void StopIfRequested() {
        if (stopRequested_ && stopRequested_()) {
            if (!begun_) {
                Begin(true);
            }
            throw ImportStopped{};
        }
    }

    // Puts in the points waiting in the batch; an error there is the import's first error.
    void Settle() noexcept {
        if (!writer_ || failedKind_) {
            return;
        }
        try {
            writer_->Flush();
        } catch (...) {
            failedKind_ = lastKind_;
        }
    }

    // A number for an element that stays its own while the element is read, unlike its address.
    std::uint64_t Serial(const TXmlNode* element) {
        const auto [entry, added] = serials_.try_emplace(element, nextSerial_);
        nextSerial_ += added ? 1 : 0;
        return entry->second;
    }

    // What the tree import does between the load and its first point.
    void Begin(bool hasRoot) {
        begun_ = true;
        if (processMessages_) {
            processMessages_();
        }
        if (!hasRoot) {
            return;
        }
        try {
            transaction_.Begin();
            std::int64_t nextSegment = 0;
            if (withDetails_) {
                detailsFailed_ = true;
                EnsureTrackDetailColumns(uniCon_);
                nextSegment = NextTrackSegment(uniCon_);
                detailsFailed_ = false;
            }
            writer_.emplace(query_, withDetails_, nextSegment, counter_);
        } catch (...) {
            failedKind_ = -1;  // before the first point: no point is imported
            return;
        }
        try {
            writer_->UseBatch(uniCon_, kBatchRows);
        } catch (const Error&) {  // NOLINT(bugprone-empty-catch): then each point goes in on its own
        }
    }

    Connection& uniCon_;
    Query& query_;
    bool withDetails_;
    const std::function<void()>& processMessages_;
    const std::function<bool()>& stopRequested_;
    const std::string& gpxPath_;
    std::string* failure_;
    std::array<std::uint64_t, 3> seen_{};  // the points of each name read so far
    std::vector<std::pair<const char*, int>> kinds_;
    static constexpr int kRoutePoint = 2;
    ImportSavepoint transaction_;
    std::optional<PointWriter> writer_;
    std::vector<LaterPoint> later_;
    std::unordered_map<const TXmlNode*, std::uint64_t> serials_;
    std::uint64_t nextSerial_ = 0;
    long long counter_ = 0;
    int lastKind_ = 0;
    std::optional<int> failedKind_;  // the kind of the point whose error ended the inserts; -1: none
    bool begun_ = false;
    bool detailsFailed_ = false;
};

}  // namespace

bool importGpxTree(const std::string& gpxPath, Connection& uniCon, Query& query, LogSink& log,
                   const std::function<void()>& processMessages, ImportDetails details,
                   const std::function<bool()>& stopRequested, std::string* failure) {
    LogLine(log, kLogImportStart);
    return ImportTree(gpxPath, uniCon, query, log, processMessages, details, stopRequested, failure);
}

bool importGpx(const std::string& gpxPath, Connection& uniCon, Query& query, LogSink& log,
               const std::function<void()>& processMessages, ImportDetails details,
               const std::function<bool()>& stopRequested, std::string* failure) {
    const bool withDetails = details == ImportDetails::elevationAndSegments;
    LogLine(log, kLogImportStart);
    query.Close();
    query.SetSQL(withDetails ? kGpxInsertWithDetailsStatement : kGpxInsertStatement);
    // A point's error of this read counts only if the import ends with it; a read the tree takes over
    // says nothing.
    std::string pointFailure;
    StreamedImport import(uniCon, query, withDetails, processMessages, stopRequested, gpxPath, &pointFailure);
    bool stopped = false;
    try {
        TXmlDocument document;
        document.StreamFromFile(gpxPath, import);
        import.Finish(document.Root() != nullptr);
    } catch (const ImportStopped&) {
        stopped = true;
    } catch (const OutOfOrder&) {
        import.Undo();
        return ImportTree(gpxPath, uniCon, query, log,
                          import.MessagesProcessed() ? std::function<void()>() : processMessages, details,
                          stopRequested, failure);
    } catch (const std::exception& e) {
        import.Undo();
        // With the loader's text; the type tells a front end it was the import.
        throw LoadError(gpxPath, e);
    } catch (...) {
        import.Undo();
        throw;
    }
    if (stopped || import.Failed()) {
        LogLine(log, kLogImportFailed);
        import.KeepFailure();
        if (!stopped && failure != nullptr && !pointFailure.empty()) {
            *failure = std::move(pointFailure);
        }
    }
    LogLine(log, " - " + std::to_string(import.Count()) + kLogImportCountSuffix);
    return !stopped && !import.Failed();
}

}  // namespace zeloro
