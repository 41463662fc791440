// src/trackimport/TrackFormat.h: which track format a file holds, told by its content, its name's
// extension serving only where the content leaves a choice.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zeloro {

enum class TrackFormat : std::uint8_t {
    gpx,
    kml,
    kmz,
    nmea,
    tcx,
    igc,
    csv,
    geoJson,
    googleRecords,
    googleTimeline,
    fit,
    none,  // no track file: what describes the content
};

struct DetectedTrack {
    TrackFormat format = TrackFormat::none;
    std::string what;  // for none: the kind of content in German ("JPEG-Bild", "leere Datei")
};

// The short name a message gives the format ("FIT", "NMEA", "Google Timeline").
[[nodiscard]] std::string_view TrackFormatName(TrackFormat format);

// The format of a file from its first bytes (head) and its name. XML whose root is kml or
// TrainingCenterDatabase is KML or TCX, any other XML is GPX, whose root is not examined; a file whose
// content names no format but whose name ends in .gpx is GPX too, so that it is read and refused as GPX.
[[nodiscard]] DetectedTrack DetectTrackFormat(std::span<const std::uint8_t> head, std::string_view fileName);

// The same for a file on disk, reading its head. A file that cannot be opened or is no regular file is
// GPX: the GPX import then reports it as it always has.
[[nodiscard]] DetectedTrack DetectTrackFormat(const std::string& path);

// The extensions of the track files the import reads, lower case without the dot ("gpx", "fit", ...).
[[nodiscard]] std::span<const std::string_view> TrackFileExtensions();

}  // namespace zeloro
