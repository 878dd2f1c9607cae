#include "tools/CsvFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

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
    // A link keeps leading where it led: the file it names is replaced.
    std::string target = path;
    if (char* resolved = realpath(path.c_str(), nullptr)) {
        target = resolved;
        free(resolved);
    }
    std::string temporary = target + ".XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return errno;
    // A file for the user to open and share, not a private one.
    fchmod(fd, 0644);
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
    if (written) return 0;
    unlink(temporary.c_str());
    return problem ? problem : EIO;
}
