// src/tagging/InputPaths.h: paths a front end takes from the user besides typing them: dropped onto the
// window, or named in a save dialog.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zeloro {

// What a drop gives the window's two path inputs; an empty member leaves that input as it is.
struct DroppedInputs {
    std::string trackFile;    // a file the track import reads
    std::string photoFolder;  // a folder
    friend bool operator==(const DroppedInputs&, const DroppedInputs&) = default;
};

// Whether a path names a track file: a readable regular file whose name ends in one of the track
// extensions, or whose content the import would take whatever its name.
[[nodiscard]] bool IsTrackFile(const std::string& path);

// Sorts dropped local paths into the inputs: at most one folder and one track file. nullopt when the
// drop holds nothing, a path of neither kind, or two of one kind: the window then takes none of it,
// rather than guess which one was meant.
[[nodiscard]] std::optional<DroppedInputs> SortDroppedPaths(const std::vector<std::string>& paths);

// The path with "." and extension appended when its file name has no extension of its own ("log" ->
// "log.txt", "log.old" unchanged). A name that is only dots, or a path ending in "/", is left alone.
[[nodiscard]] std::string WithDefaultExtension(const std::string& path, std::string_view extension);

}  // namespace zeloro
