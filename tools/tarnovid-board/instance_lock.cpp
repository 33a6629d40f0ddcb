// The gadget name's lock: an flock on a file that is never removed, so the kernel drops the lock
// with the process however it ends, and no unlink can race a second emulator's open.

#include "instance_lock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnovid::board {

InstanceLock::InstanceLock(const std::string& directory, const std::string& name) {
    const std::string path = directory + "/tarnovid-board." + name + ".lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error_ = "cannot open the lock " + path + ": " + std::strerror(errno);
        return;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        error_ = error == EWOULDBLOCK
                     ? "another tarnovid-board serves the gadget \"" + name + "\" (it holds " +
                           path + "); stop that one first or choose another --name"
                     : "cannot lock " + path + ": " + std::strerror(error);
        return;
    }
    fd_ = fd;
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0)
        ::close(fd_);
}

std::string lockDirectory() {
    struct stat info {};
    return ::stat("/run/lock", &info) == 0 && S_ISDIR(info.st_mode) ? "/run/lock" : "/tmp";
}

} // namespace tarnovid::board
