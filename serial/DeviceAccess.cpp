#include "serial/DeviceAccess.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string_view>

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

std::string BaseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Parent(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

// The number N of a pseudo-terminal's slave side .../pts/N, else -1.
long PtyIndex(const std::string& device) {
    const std::string name = BaseName(device);
    if (BaseName(Parent(device)) != "pts" || name.empty() ||
        name.find_first_not_of("0123456789") != std::string::npos || name.size() > 9)
        return -1;
    return std::strtol(name.c_str(), nullptr, 10);
}

// The first line of a small text file, without its line end; "" if none.
std::string FirstLine(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

// Does the descriptor <pid dir>/fd/<fd> hold the master side of pseudo-
// terminal ptyIndex? The kernel tells the index in the descriptor's fdinfo.
bool IsMasterOf(const std::string& processDirectory, const std::string& fd, std::string_view target,
                long ptyIndex) {
    if (ptyIndex < 0 || BaseName(std::string(target)) != "ptmx") return false;
    std::ifstream info(processDirectory + "/fdinfo/" + fd);
    const std::string key = "tty-index:";
    for (std::string line; std::getline(info, line);) {
        if (line.compare(0, key.size(), key) != 0) continue;
        return std::strtol(line.c_str() + key.size(), nullptr, 10) == ptyIndex;
    }
    return false;
}

// A process other than this one with a descriptor on the device, not counting
// the creator of a pseudo-terminal. Only the processes this user may look at
// are seen, which covers the usual case: another program of the same user, or
// any program for root.
bool HeldElsewhere(const std::string& device, const std::string& procDirectory) {
    Directory proc(procDirectory);
    if (!proc.handle) return false;
    const std::string self = std::to_string(getpid());
    const long ptyIndex = PtyIndex(device);
    while (dirent* entry = readdir(proc.handle)) {
        const std::string pid = entry->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid == self)
            continue;
        std::string processDirectory = procDirectory;
        processDirectory.append("/").append(pid);
        Directory fds(processDirectory + "/fd");
        if (!fds.handle) continue;
        bool holdsDevice = false, created = false;
        while (dirent* fd = readdir(fds.handle)) {
            char target[PATH_MAX];
            const std::string link = processDirectory + "/fd/" + fd->d_name;
            const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
            if (n <= 0) continue;
            const std::string_view held(target, static_cast<size_t>(n));
            holdsDevice = holdsDevice || held == device;
            created = created || IsMasterOf(processDirectory, fd->d_name, held, ptyIndex);
        }
        if (holdsDevice && !created) return true;
    }
    return false;
}

// The link in `directory` that leads to `device`; "" when none does.
std::string LinkTo(const std::string& device, const std::string& directory) {
    Directory links(directory);
    while (links.handle) {
        const dirent* entry = readdir(links.handle);
        if (!entry) break;
        std::string link = directory + "/" + entry->d_name;
        if (entry->d_name[0] != '.' && Resolved(link) == device) return link;
    }
    return {};
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

UsbIdentity DescribeUsbAdapter(const std::string& path, const std::string& deviceDirectory,
                               const std::string& ttyClassDirectory) {
    UsbIdentity identity;
    const std::string device = Resolved(path);
    if (device.empty()) return identity;
    // The tty's device is the adapter's port or interface; the USB device
    // with the descriptors is a few levels up.
    std::string node = Resolved(ttyClassDirectory + "/" + BaseName(device) + "/device");
    for (int level = 0; level < 4 && !node.empty(); ++level, node = Parent(node)) {
        identity.vendorId = FirstLine(node + "/idVendor");
        if (identity.vendorId.empty()) continue;
        identity.productId = FirstLine(node + "/idProduct");
        identity.manufacturer = FirstLine(node + "/manufacturer");
        identity.product = FirstLine(node + "/product");
        identity.serialNumber = FirstLine(node + "/serial");
        break;
    }
    identity.byIdPath = LinkTo(device, deviceDirectory + "/serial/by-id");
    identity.byPathPath = LinkTo(device, deviceDirectory + "/serial/by-path");
    return identity;
}

int AdapterLatencyMs(const std::string& path, const std::string& ttyClassDirectory) {
    const std::string device = Resolved(path);
    if (device.empty()) return -1;
    const std::string text =
        FirstLine(ttyClassDirectory + "/" + BaseName(device) + "/device/latency_timer");
    char* end = nullptr;
    const long ms = std::strtol(text.c_str(), &end, 10);
    return text.empty() || *end != '\0' || ms < 0 || ms > 255 ? -1 : static_cast<int>(ms);
}
