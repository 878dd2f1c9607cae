#include "serial/ComNames.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <fstream>
#include <string_view>

namespace {

// Device families in the order their numbers are handed out. ttyS ports are
// there for every possible UART slot; only those with a UART count.
struct Family {
    const char* prefix;
    bool needsUart;
};

constexpr Family kFamilies[] = {
    {"ttyUSB", false}, {"ttyACM", false}, {"ttyAMA", false}, {"rfcomm", false}, {"ttyS", true},
};

// The number after `prefix` in `name`, or -1.
long NumberAfter(std::string_view name, std::string_view prefix) {
    if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) return -1;
    std::string_view digits = name.substr(prefix.size());
    if (digits.size() > 9) return -1;
    long value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::vector<std::string> DirectoryNames(const std::string& directory) {
    std::vector<std::string> names;
    DIR* dir = opendir(directory.c_str());
    if (!dir) return names;
    while (const dirent* entry = readdir(dir)) names.emplace_back(entry->d_name);
    closedir(dir);
    return names;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Links in a directory that others can write to could point a port number at
// any file, so such a directory is not used at all.
bool IsPrivateDirectory(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

std::string ComNames::DefaultPortDirectory() {
    const std::string uid = std::to_string(getuid());
    const std::string runtime = "/run/user/" + uid;
    if (IsDirectory(runtime)) return runtime + "/talvenor";
    return "/tmp/talvenor-" + uid;
}

bool ComNames::EnsurePortDirectory(const std::string& directory) {
    if (mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) return false;
    return IsPrivateDirectory(directory);
}

ComNames::ComNames() : ComNames(Places{DefaultPortDirectory()}) {}

ComNames::ComNames(Places places) : places(std::move(places)) {}

int ComNames::PortNumber(const std::string& name) {
    if (name.size() < 4) return 0;
    for (size_t i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
    if (name[3] == '0') return 0;
    long number = NumberAfter(name, name.substr(0, 3));
    return number > 0 && number <= INT_MAX ? static_cast<int>(number) : 0;
}

std::map<int, std::string> ComNames::PinnedPorts() const {
    std::map<int, std::string> pinned;
    if (places.portDirectory.empty() || !IsPrivateDirectory(places.portDirectory)) return pinned;
    for (const std::string& name : DirectoryNames(places.portDirectory)) {
        const int number = PortNumber(name);
        if (number == 0) continue;
        const std::string link = places.portDirectory + "/" + name;
        struct stat st {};
        if (lstat(link.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) continue;
        std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : PATH_MAX), '\0');
        ssize_t length = readlink(link.c_str(), target.data(), target.size());
        if (length <= 0) continue;
        target.resize(static_cast<size_t>(length));
        pinned[number] = target.front() == '/' ? target : places.portDirectory + "/" + target;
    }
    return pinned;
}

bool ComNames::HasUart(const std::string& ttyName) const {
    // The serial core publishes the UART type; 0 is PORT_UNKNOWN, an empty
    // slot. Reading it avoids opening the port, which would raise DTR.
    const std::string base = places.ttyClassDirectory + "/" + ttyName;
    std::ifstream typeFile(base + "/type");
    if (typeFile) {
        long type = 0;
        return static_cast<bool>(typeFile >> type) && type != 0;
    }
    struct stat st {};
    return stat((base + "/device/driver").c_str(), &st) == 0;
}

std::vector<std::string> ComNames::DevicesInOrder() const {
    const std::vector<std::string> names = DirectoryNames(places.deviceDirectory);
    std::vector<std::string> ordered;
    for (const Family& family : kFamilies) {
        std::vector<std::pair<long, std::string>> members;
        for (const std::string& name : names) {
            long number = NumberAfter(name, family.prefix);
            if (number >= 0 && (!family.needsUart || HasUart(name)))
                members.emplace_back(number, name);
        }
        std::sort(members.begin(), members.end());
        for (const auto& member : members)
            ordered.push_back(places.deviceDirectory + "/" + member.second);
    }
    return ordered;
}

std::map<int, std::string> ComNames::Ports() const {
    std::map<int, std::string> ports = PinnedPorts();
    int number = 1;
    for (const std::string& path : DevicesInOrder()) {
        while (ports.count(number)) ++number;
        ports[number] = path;
    }
    return ports;
}

std::string ComNames::PathForPort(int number) const {
    if (number <= 0) return {};
    const std::map<int, std::string> ports = Ports();
    auto found = ports.find(number);
    return found == ports.end() ? std::string() : found->second;
}
