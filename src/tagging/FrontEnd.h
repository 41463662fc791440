// src/tagging/FrontEnd.h: what a front end (window or command line) takes from the subsystems below the
// run. A front end includes tagging/ and common/ only; the names it needs from further down come through
// here, each from the one place that defines it, so none of their logic moves up.
#pragma once

// The zone list (ZoneItems, kZoneCount), the item preselected at start-up (DefaultZoneIndex), and a
// zone beyond the list (CameraZone::Parse, ListIndex).
#include "time/CameraZone.h"
#include "time/TimeRules.h"

// The data folder and its database: ResolveDataFolder, DatabasePath, kDatabaseNotFoundMessage, and
// DataFolderBusyError when another process holds the folder.
#include "trackstore/TrackStore.h"

// A stored coordinate text as the number the photo was tagged with (CoordinateNumber).
#include "trackstore/TrackLookup.h"

// GpxLoadError: a GPX file that cannot be loaded ends the run with it.
#include "gpx/GpxImport.h"

// A track read from the standard input goes to a temporary file first (CopyToTemporaryFile); the
// extensions of the track files the import reads (TrackFileExtensions), for a file dialog's filter.
#include "trackimport/TemporaryTrackFile.h"
#include "trackimport/TrackFormat.h"
