// src/tagging/MissReason.cpp: the reason a photo missed, told from the track table's range and its nearest
// point; the stop message of a run.
#include "tagging/MissReason.h"

#include <cmath>
#include <cstdlib>
#include <optional>

#include "metadata/ExifData.h"
#include "tagging/PhotoLocator.h"
#include "tagging/TaggingRun.h"
#include "trackstore/Database.h"
#include "trackstore/TrackLookup.h"

namespace zeloro {
namespace {

constexpr const char* kTrackRangeSql = "SELECT min(utctime) AS first, max(utctime) AS last FROM gpx";

// The table's texts compare as times: four-digit years, fixed-width fields.
struct TrackRange {
    std::string first;
    std::string last;
};

std::optional<TrackRange> ReadTrackRange(Query& query) {
    query.SetSQL(kTrackRangeSql);
    query.Open();
    TrackRange range{query.FieldByName("first").AsString(), query.FieldByName("last").AsString()};
    const bool empty = query.FieldByName("first").IsNull();
    query.Close();
    if (empty) {
        return std::nullopt;
    }
    return range;
}

// The nearest point of the whole table: the lookup's own nearest-in-window statement over the table's
// range, so "nearest" means here what it means to the lookup.
std::string NearestPointTime(Query& query, DateTimeValue utc, const TrackRange& range) {
    query.SetSQL(kWindowLookupSql);
    query.ParamByName("utctime").SetAsDateTime(utc);
    query.ParamByName("timelow").SetAsString(range.first);
    query.ParamByName("timehigh").SetAsString(range.last);
    query.Open();
    std::string nearest = query.Eof() ? std::string() : query.FieldByName("utctime").AsString();
    query.Close();
    return nearest;
}

}  // namespace

std::string MissReason(const TCustomExifData& exif, const RunInputs& inputs, const RunSettings& settings,
                       Query& query) {
    const DateTimeValue shot = exif.DateTimeOriginal();
    if (shot == 0) {
        return "Grund: das Foto hat keine lesbare Aufnahmezeit (DateTimeOriginal)";
    }
    const std::optional<int> stored = settings.photoZone ? StoredPhotoOffset(exif) : std::nullopt;
    return MissReasonAt(ShotTimeToUtc(shot, stored, inputs.zoneIndex, settings), inputs, query);
}

std::string MissReasonAt(DateTimeValue utc, const RunInputs& inputs, Query& query) {
    const std::string utcText = DateTimeText(utc);
    const std::optional<TrackRange> range = ReadTrackRange(query);
    if (!range) {
        return "Grund: die Tracktabelle enthält keinen Punkt mit Zeit";
    }
    if (utcText < range->first || utcText > range->last) {
        return "Grund: Aufnahmezeit " + utcText + " UTC liegt außerhalb der Tracks (" + range->first +
               " bis " + range->last + " UTC)";
    }
    const std::string nearest = NearestPointTime(query, utc, *range);
    const std::optional<DateTimeValue> nearestTime = ParseDateTimeText(nearest);
    if (!nearestTime) {
        return "Grund: kein Trackpunkt innerhalb von " + std::to_string(inputs.toleranceSeconds) + " s um " +
               utcText + " UTC";
    }
    const long long seconds = std::llabs(std::llround((*nearestTime - utc) * kSecsPerDay));
    return "Grund: kein Trackpunkt innerhalb von " + std::to_string(inputs.toleranceSeconds) +
           " s; der nächste (" + nearest + " UTC) liegt " + std::to_string(seconds) +
           " s von der Aufnahmezeit " + utcText + " UTC entfernt";
}

std::string PathBelowFolder(const std::string& path, const std::string& folder) {
    if (!folder.empty() && path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0) {
        return path.substr(folder.size());
    }
    return PhotoFileName(path);
}

std::string StoppedRunMessage(std::size_t done, std::size_t total) {
    return "Lauf abgebrochen: " + std::to_string(done) + " von " + std::to_string(total) +
           (total == 1 ? " Bild bearbeitet." : " Bildern bearbeitet.");
}

}  // namespace zeloro
