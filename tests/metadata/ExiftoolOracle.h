// tests/metadata/ExiftoolOracle.h: exiftool, an independent reader, as the judge of a tagged photo:
// what it reads before and after must differ only by what tagging writes.
#pragma once
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace zeloro::test {

// Every tag exiftool reads in a file ("Group:Tag" -> values in report order), warnings included as
// "ExifTool:Warning".
using TagReport = std::multimap<std::string, std::string>;

// One exiftool process answers every command (options, then the file), each in the -args form: its
// start-up costs more than reading a small photo.
[[nodiscard]] std::vector<TagReport> RunExiftool(const std::vector<std::vector<std::string>>& commands);

// For each file, every tag `exiftool -a -G1 -s -u -api validate=1` reads, maker notes and their
// sub-directories included, the validation's findings among the warnings; binary data (thumbnails,
// previews) also as its bytes, under "Group:Tag (data)".
[[nodiscard]] std::vector<TagReport> FullReports(const std::vector<std::filesystem::path>& files);

// Whether exiftool read a GPS directory in the file (a tag of the GPS group).
[[nodiscard]] bool HadGpsDirectory(const TagReport& report);

// The changes between the reports of a photo before and after tagging that tagging may not make.
// Allowed: the six GPS tags the run writes and GPSVersionID in a GPS directory the photo did not have
// (both checked by the caller), the XMP properties mirrored from the GPS tags where they were, the byte
// order of an EXIF block the photo did not have, file offsets that move with the segments in front of
// them while the data they lead to stays, what exiftool derives from the file itself, and the few
// validation findings that follow from what the run writes (an IFD0 it creates without resolution tags,
// a GPS date under an older version the photo's GPS directory declares, IFD1 measured against a grown
// IFD0). Anything else (a tag lost, changed or added, the pixel size among them, a new warning of the
// reader or of the validation) is listed.
[[nodiscard]] std::vector<std::string> UnexpectedChanges(const TagReport& before, const TagReport& after);

// The segments in front of the image data other than EXIF and XMP (the IPTC and other Adobe segments
// too) come back byte for byte in their order (APP0 segments move to the front), and so does everything
// from the first SOS on, but for the file offsets an AFCP trailer at the end stores (exiftool judges
// them).
[[nodiscard]] ::testing::AssertionResult SegmentsAndImageDataKept(const Bytes& original, const Bytes& saved);

// An XMP packet that holds none of the properties the run writes (the GPS position and time) comes back
// byte for byte; one that holds them is judged tag by tag through UnexpectedChanges.
[[nodiscard]] ::testing::AssertionResult XmpPacketKeptWhereUnwritten(const Bytes& original,
                                                                     const Bytes& saved);

}  // namespace zeloro::test
