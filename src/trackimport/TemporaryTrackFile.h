// src/trackimport/TemporaryTrackFile.h: a private file for a track that has no file of its own to be read
// from (standard input, gpsbabel's output), removed with the object.
#pragma once
#include <memory>
#include <string>

#include "common/FileDescriptor.h"

namespace zeloro {

class TemporaryTrackFile {
public:
    // A new empty file, mode 0600, in $TMPDIR (when absolute) or /tmp, named stem, six random characters
    // and suffix (".gpx"). Throws FileError naming the folder and the reason.
    explicit TemporaryTrackFile(const std::string& suffix, const std::string& stem = "zeloro-track-");
    ~TemporaryTrackFile();
    TemporaryTrackFile(const TemporaryTrackFile&) = delete;
    TemporaryTrackFile& operator=(const TemporaryTrackFile&) = delete;

    [[nodiscard]] const std::string& Path() const noexcept { return path_; }
    [[nodiscard]] int Descriptor() const noexcept { return fd_.get(); }

private:
    std::string path_;
    FileDescriptor fd_;
};

// Copies everything the descriptor gives up to its end (standard input: 0) into a new temporary file,
// named "zeloro-standardeingabe-XXXXXX" so that a message naming it says where the track came from.
// Throws FileError (the temporary file) or StreamError "Stream-Lesefehler: REASON".
[[nodiscard]] std::unique_ptr<TemporaryTrackFile> CopyToTemporaryFile(int fd);

}  // namespace zeloro
