// src/trackimport/TemporaryTrackFile.cpp
#include "trackimport/TemporaryTrackFile.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>

#include "common/Error.h"
#include "common/ReasonText.h"

namespace zeloro {

TemporaryTrackFile::TemporaryTrackFile(const std::string& suffix, const std::string& stem) {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
    if (folder.back() != '/') {
        folder += '/';
    }
    std::string pattern = folder + stem + "XXXXXX" + suffix;
    fd_.reset(::mkostemps(pattern.data(), static_cast<int>(suffix.size()), O_CLOEXEC));
    if (!fd_) {
        throw FileError("Temporäre Datei in " + folder + " kann nicht angelegt werden: " + ReasonText(errno));
    }
    path_ = pattern;
}

TemporaryTrackFile::~TemporaryTrackFile() {
    if (!path_.empty()) {
        ::unlink(path_.c_str());
    }
}

std::unique_ptr<TemporaryTrackFile> CopyToTemporaryFile(int fd) {
    auto file = std::make_unique<TemporaryTrackFile>("", "zeloro-standardeingabe-");
    std::array<char, 65536> buffer{};
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            throw StreamError(std::string(kStreamReadError) + ": " + ReasonText(errno));
        }
        if (n == 0) {
            break;
        }
        std::size_t done = 0;
        while (done < static_cast<std::size_t>(n)) {
            const ssize_t w =
                ::write(file->Descriptor(), buffer.data() + done, static_cast<std::size_t>(n) - done);
            if (w < 0 && errno == EINTR) {
                continue;
            }
            if (w < 0) {
                throw StreamError(std::string(kStreamWriteError) + ": " + ReasonText(errno));
            }
            done += static_cast<std::size_t>(w);
        }
    }
    return file;
}

}  // namespace zeloro
