// src/gpx/GpxImport.cpp: the import of a GPX file's timed points into the track table.
#include "gpx/GpxImport.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <string_view>
#include <unordered_map>

#include "common/Error.h"
#include "trackstore/TrackDetails.h"
#include "trackstore/TrackLookup.h"
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

// The elevation as a number SQLite stores as REAL; nothing for an <ele> that is no number.
void BindElevation(const TXmlNode& point, Param& ele) {
    ele.Clear();
    const TXmlNode* node = point.NodeByName("ele");
    if (node == nullptr) {
        return;
    }
    try {
        const auto metres = static_cast<double>(StrToCoordinate(node->ValueAsString()));
        std::array<char, 32> text{};
        const auto written = std::to_chars(text.data(), text.data() + text.size(), metres);
        ele.SetAsString(std::string_view(text.data(), static_cast<std::size_t>(written.ptr - text.data())));
    } catch (const ConvertError&) {  // NOLINT(bugprone-empty-catch): an unreadable elevation is none
    }
}

}  // namespace

bool importGpx(const std::string& gpxPath, Connection& uniCon, Query& query, LogSink& log,
               const std::function<void()>& processMessages, ImportDetails details) {
    const bool withDetails = details == ImportDetails::elevationAndSegments;
    LogLine(log, kLogImportStart);
    bool result = true;
    long long counter = 0;
    query.Close();
    query.SetSQL(withDetails ? kGpxInsertWithDetailsStatement : kGpxInsertStatement);
    {
        TXmlNodeList list;
        TXmlDocument document;
        // Loading lies outside the error trap: a file that cannot be read ends the caller's run.
        document.LoadFromFile(gpxPath);
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
                // Points of one trkseg (or rte) share their parent element; numbers go up in document order.
                std::unordered_map<const TXmlNode*, std::int64_t> segments;
                if (!uniCon.InTransaction()) {
                    uniCon.StartTransaction();
                    startedHere = true;
                }
                Param& lat = query.ParamByName("lat");
                Param& lon = query.ParamByName("lon");
                Param& utctime = query.ParamByName("utctime");
                for (const std::string_view name : kPointNames) {
                    list.Clear();
                    root->FindNodes(name, list);
                    for (int i = 0; i < list.Count(); ++i) {
                        const TXmlNode* point = list[i];
                        const TXmlNode* time = point->NodeByName("time");
                        if (time == nullptr) {
                            continue;  // an untimed point is of no use to the lookup
                        }
                        lat.SetAsString(point->AttributeTextByName("lat"));
                        lon.SetAsString(point->AttributeTextByName("lon"));
                        utctime.SetAsDateTime(time->ValueAsDateTime());
                        if (withDetails) {
                            BindElevation(*point, query.ParamByName("ele"));
                            Param& segment = query.ParamByName("segment");
                            segment.Clear();  // a waypoint stands alone
                            if (name != "wpt") {
                                const auto [entry, added] =
                                    segments.try_emplace(point->Parent(), nextSegment);
                                nextSegment += added ? 1 : 0;
                                segment.SetAsString(std::to_string(entry->second));
                            }
                        }
                        query.ExecSQL();
                        ++counter;
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

}  // namespace zeloro
