// src/tagging/WindowInstanceLock.h: one window per user and data folder.
#pragma once
#include <sys/types.h>

#include <string>

#include "common/FileDescriptor.h"

namespace zeloro {

// The name one user's window on one data folder goes by: 16 hex digits of a hash over the user id and the
// folder as the system resolves it (links followed, "." and ".." taken out), so that every spelling of one
// folder gives one name. A folder that cannot be resolved is taken as written.
[[nodiscard]] std::string WindowInstanceKey(const std::string& dataFolder, uid_t user);

// The folder of the user's window files, without a trailing "/": runtimeDir (the value of XDG_RUNTIME_DIR,
// may be null) when it is an absolute path, short enough for a socket name, to a folder of the running
// user that no one else may enter; else "/tmp".
[[nodiscard]] std::string WindowInstanceFolder(const char* runtimeDir);

// Held by the process whose window serves one data folder, for as long as it lives: an flock on
// "<folder>/zeloro-<key>.lock", so the hold ends with the process however that ends, and a killed window
// leaves nothing that keeps the next one out.
class WindowInstanceLock {
public:
    enum class State {
        held,           // this process holds it
        heldElsewhere,  // another process (or another hold of this one) holds it
        unavailable,    // no lock file of the user's own can be had there: nothing is guarded
    };

    // Tries once, without waiting. A lock file that is not a regular file of the running user (one another
    // user put into /tmp) is never used.
    WindowInstanceLock(const std::string& folder, const std::string& key);

    [[nodiscard]] State state() const noexcept { return state_; }
    // "<folder>/zeloro-<key>.socket": where the holder listens for the starts that come after it.
    [[nodiscard]] const std::string& SocketPath() const noexcept { return socketPath_; }

private:
    FileDescriptor fd_;
    State state_ = State::unavailable;
    std::string socketPath_;
};

}  // namespace zeloro
