#include "tools/CsvFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <random>

std::string CsvRecord(const std::vector<std::string>& fields) {
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) line += ',';
        const std::string& field = fields[i];
        if (field.find_first_of(",\"\r\n") == std::string::npos) {
            line += field;
            continue;
        }
        line += '"';
        for (char c : field) {
            if (c == '"') line += '"';
            line += c;
        }
        line += '"';
    }
    return line + "\r\n";
}

namespace {

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Where a link leads, through every link on the way; a link to a file not
// there yet leads to where that file would be.
std::string LinkTarget(const std::string& path) {
    std::string target = path;
    for (int hops = 0; hops < 40; ++hops) {
        if (char* resolved = realpath(target.c_str(), nullptr)) {
            target = resolved;
            free(resolved);
            return target;
        }
        std::string link(PATH_MAX, '\0');
        const ssize_t n = readlink(target.c_str(), link.data(), link.size());
        if (n <= 0) return target;
        link.resize(static_cast<size_t>(n));
        // A relative link leads from the directory it stands in.
        const size_t slash = target.rfind('/');
        if (link.front() == '/' || slash == std::string::npos)
            target = link;
        else
            target.replace(slash + 1, std::string::npos, link);
    }
    return target;
}

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A new file in `directory` under a short name of its own, made with the
// mode any new file gets (0666 less the umask): a name beside the target's
// would be longer than the longest a directory takes when the target's is.
int CreateBeside(const std::string& directory, std::string& name) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char leaf[24];
        std::snprintf(leaf, sizeof leaf, "/.csv-%08x", static_cast<unsigned>(random()));
        name = directory + leaf;
        const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

std::string Table(const std::vector<std::string>& header,
                  const std::function<bool(std::vector<std::string>&)>& next) {
    std::string text = CsvRecord(header);
    std::vector<std::string> fields;
    while (next(fields)) text += CsvRecord(fields);
    return text;
}

}  // namespace

int WriteCsvFile(const std::string& path, const std::vector<std::string>& header,
                 const std::function<bool(std::vector<std::string>&)>& next) {
    // A device or a pipe is written as it is: renaming a file over it would
    // replace it.
    struct stat existing {};
    if (stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd < 0) return errno;
        const bool written = WriteAll(fd, Table(header, next));
        const int problem = written ? 0 : errno;
        close(fd);
        return problem;
    }
    const std::string target = LinkTarget(path);
    const bool replaces = stat(target.c_str(), &existing) == 0;
    const std::string directory = DirectoryOf(target);
    std::string temporary;
    const int fd = CreateBeside(directory, temporary);
    if (fd < 0) return errno;
    // The file it replaces keeps its owner and its mode; a new one has the
    // mode the umask and the directory give it, as any new file.
    if (replaces) {
        if (fchown(fd, existing.st_uid, existing.st_gid) != 0) {
            // Only root may give a file away; the file stays the user's.
        }
        fchmod(fd, existing.st_mode & 07777);
    }
    // Its data on the disk before its name: a crash leaves the old file or
    // the new one whole, never a name on an empty file.
    bool written = WriteAll(fd, Table(header, next)) && fsync(fd) == 0;
    int problem = written ? 0 : errno;
    if (close(fd) != 0 && written) {
        written = false;
        problem = errno;
    }
    if (written && rename(temporary.c_str(), target.c_str()) != 0) {
        written = false;
        problem = errno;
    }
    if (!written) {
        unlink(temporary.c_str());
        return problem ? problem : EIO;
    }
    // The new name itself on the disk.
    const int dirFd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return 0;
}
