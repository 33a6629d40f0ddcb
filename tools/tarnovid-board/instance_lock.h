#pragma once
// One emulator per gadget name. A second one would take the first one's configfs tree for a
// leftover of a crashed run and tear it down under it; the lock tells the two cases apart.

#include <string>

namespace tarnovid::board {

class InstanceLock {
public:
    // Tries to take the lock for `name` in `directory`, without waiting; see held().
    InstanceLock(const std::string& directory, const std::string& name);
    ~InstanceLock(); // lets it go
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    bool held() const { return fd_ >= 0; }
    // Why the lock was not taken, naming its file; empty while it is held.
    const std::string& error() const { return error_; }

private:
    int fd_ = -1;
    std::string error_;
};

// Where the locks live: /run/lock, or /tmp on systems without it (the test kernel's initramfs).
std::string lockDirectory();

} // namespace tarnovid::board
