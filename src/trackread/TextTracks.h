// src/trackread/TextTracks.h: the readers of track files written as text (KML and its zipped KMZ, TCX,
// GeoJSON, CSV, the two Google location exports). Each hands the file's timed points to the sink as
// it reads them, so the memory a read takes does not grow with the file; a point without a time is no
// track point and is left out. Positions go to the sink as read (the import refuses one off the globe,
// naming it); times are UTC, kept to the millisecond. A damaged file, or one not of the format read,
// throws TrackFormatError with a German text naming the place in the file.
#pragma once
#include <istream>
#include <string>

#include "trackread/TrackPoint.h"

namespace zeloro {

// KML: every timed Placemark Point (TimeStamp/when) and every gx:Track (when paired in order with
// gx:coord "lon lat [alt]"), gx:MultiTrack's too. Each gx:Track is a segment; Point placemarks in a
// row between them are one. A when of a day alone, or empty, is no moment: its point is left out.
void ReadKml(std::istream& in, TrackPointSink& sink);
// KMZ: the zip's doc.kml, or else its first .kml entry, read as ReadKml reads it, straight from the
// archive.
void ReadKmz(const std::string& path, TrackPointSink& sink);
// TCX: every Trackpoint with Time and Position (LatitudeDegrees, LongitudeDegrees), AltitudeMeters as
// its elevation. A segment per Track (a lap may hold several; the track is the unbroken recording).
void ReadTcx(std::istream& in, TrackPointSink& sink);
// GeoJSON: Point features with a time property (time, timestamp, when, ...); LineString and
// MultiLineString features with properties.coordTimes or properties.coordinateProperties.times (ISO
// texts or Unix seconds or milliseconds). A segment per line; Point features in a row are one. The
// positions of one feature are held until it ends (its members come in any order).
void ReadGeoJson(std::istream& in, TrackPointSink& sink);
// CSV: a header row naming the time (time, date + time, timestamp, datetime, ...), lat/latitude,
// lon/lng/longitude and optionally ele/alt/altitude; separated by ',', ';' or tab; quoted fields.
// Times in ISO 8601 (with a zone or Z; none is UTC; also "dd.mm.yyyy" and "yyyy/mm/dd" dates) or Unix
// seconds or milliseconds; with ';' or tab a decimal comma is read too. One segment.
void ReadCsv(std::istream& in, TrackPointSink& sink);
// Google's Records.json: locations[] with latitudeE7, longitudeE7, timestamp (ISO) or timestampMs,
// altitude (an E7 value written as unsigned 32 bits is read as the signed one it is). One segment.
void ReadGoogleRecords(std::istream& in, TrackPointSink& sink);
// Google's on-device timeline export: semanticSegments[].timelinePath[] with point "48.1°, 11.5°" and a
// time with its offset. One segment.
void ReadGoogleTimeline(std::istream& in, TrackPointSink& sink);

}  // namespace zeloro
