// src/tagging/MissReason.h: why a photo got no track point, and how a run names its photos in the log
// when the user asked for details.
#pragma once
#include <cstddef>
#include <string>

#include "common/DateTime.h"
#include "tagging/RunInputs.h"

namespace zeloro {

class Query;
class TCustomExifData;

// The reason behind "keine Koordinaten gefunden" for the photo whose EXIF data is loaded in exif, as the
// log's second line (without stamp and " - "): no shot time; an empty track table; a UTC time before
// the first or after the last point (with those times and the photo's); or the nearest point and how
// many seconds it lies from the photo's UTC time. The UTC time is the one the run matched with (zone,
// clock offset and the photo's own offset as set). The query is left closed. Throws DatabaseError.
[[nodiscard]] std::string MissReason(const TCustomExifData& exif, const RunInputs& inputs,
                                     const RunSettings& settings, Query& query);

// The same reason for a shot the run matched at the UTC time utc (a file of any kind whose shot time was
// read).
[[nodiscard]] std::string MissReasonAt(DateTimeValue utc, const RunInputs& inputs, Query& query);

// The photo's path below the chosen folder (folder ends with "/"), so copies in subfolders can be told
// apart; the bare file name for a path outside it.
[[nodiscard]] std::string PathBelowFolder(const std::string& path, const std::string& folder);

// The log message of a run the user stopped: "Lauf abgebrochen: 12 von 300 Bildern bearbeitet."
[[nodiscard]] std::string StoppedRunMessage(std::size_t done, std::size_t total);

}  // namespace zeloro
