#include "tagging/InputPaths.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "trackimport/TrackFormat.h"

namespace zeloro {

namespace {

std::string LowerExtension(const std::filesystem::path& path) {
    std::string extension = path.extension().string();
    if (!extension.empty()) {
        extension.erase(0, 1);  // the dot
    }
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

}  // namespace

bool IsTrackFile(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        return false;
    }
    // The content check takes a file it cannot open for GPX, so that the import names the reason; a
    // drop must not fill the field with a file no run could read.
    if (!std::ifstream(path, std::ios::binary).is_open()) {
        return false;
    }
    const std::string extension = LowerExtension(path);
    const auto known = TrackFileExtensions();
    if (!extension.empty() && std::find(known.begin(), known.end(), extension) != known.end()) {
        return true;
    }
    return DetectTrackFormat(path).format != TrackFormat::none;
}

std::optional<DroppedInputs> SortDroppedPaths(const std::vector<std::string>& paths) {
    DroppedInputs inputs;
    for (const std::string& path : paths) {
        std::error_code error;
        if (path.empty()) {
            return std::nullopt;
        }
        if (std::filesystem::is_directory(path, error)) {
            if (!inputs.photoFolder.empty()) {
                return std::nullopt;
            }
            inputs.photoFolder = path;
        } else if (IsTrackFile(path)) {
            if (!inputs.trackFile.empty()) {
                return std::nullopt;
            }
            inputs.trackFile = path;
        } else {
            return std::nullopt;
        }
    }
    if (inputs == DroppedInputs{}) {
        return std::nullopt;
    }
    return inputs;
}

std::string WithDefaultExtension(const std::string& path, std::string_view extension) {
    const std::filesystem::path name = std::filesystem::path(path).filename();
    const std::string text = name.string();
    if (text.empty() || std::all_of(text.begin(), text.end(), [](char c) { return c == '.'; })) {
        return path;
    }
    if (name.has_extension() && name.extension() != ".") {
        return path;
    }
    // "log." ends in a dot but names no extension: the dot is kept, the extension follows it.
    return text.back() == '.' ? path + std::string(extension) : path + "." + std::string(extension);
}

}  // namespace zeloro
