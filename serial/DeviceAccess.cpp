#include "serial/DeviceAccess.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

namespace {

struct Directory {
    explicit Directory(const std::string& path) : handle(opendir(path.c_str())) {}
    ~Directory() {
        if (handle) closedir(handle);
    }
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;
    DIR* handle;
};

std::string Resolved(const std::string& path) {
    std::unique_ptr<char, decltype(&free)> real(realpath(path.c_str(), nullptr), &free);
    return real ? std::string(real.get()) : std::string();
}

// A process other than this one with a descriptor on the device. Only the
// processes this user may look at are seen, which covers the usual case:
// another program of the same user, or any program for root.
bool HeldElsewhere(const std::string& device, const std::string& procDirectory) {
    Directory proc(procDirectory);
    if (!proc.handle) return false;
    const std::string self = std::to_string(getpid());
    while (dirent* entry = readdir(proc.handle)) {
        const std::string pid = entry->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid == self)
            continue;
        std::string fdDirectory = procDirectory;
        fdDirectory.append("/").append(pid).append("/fd");
        Directory fds(fdDirectory);
        if (!fds.handle) continue;
        while (dirent* fd = readdir(fds.handle)) {
            char target[PATH_MAX];
            const std::string link = fdDirectory + "/" + fd->d_name;
            const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
            if (n > 0 && device.compare(0, std::string::npos, target, static_cast<size_t>(n)) == 0)
                return true;
        }
    }
    return false;
}

}  // namespace

DeviceAccess ProbeDeviceAccess(const std::string& path, const std::string& procDirectory) {
    struct stat info {};
    if (path.empty() || stat(path.c_str(), &info) != 0) return DeviceAccess::Missing;
    if (access(path.c_str(), R_OK | W_OK) != 0)
        return errno == ENOENT ? DeviceAccess::Missing : DeviceAccess::NoPermission;
    const std::string device = Resolved(path);
    if (!device.empty() && HeldElsewhere(device, procDirectory)) return DeviceAccess::Busy;
    return DeviceAccess::Ready;
}
