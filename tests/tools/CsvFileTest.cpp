// Saving over users' files: own modes, links, the longest name; data synced before the rename.
#include "tools/CsvFile.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace {
std::set<ino_t> synced;  // the files whose data reached the disk
int renamedUnsynced = 0;
}  // namespace

extern "C" int fsync(int fd) {
    struct stat info {};
    if (fstat(fd, &info) == 0) synced.insert(info.st_ino);
    return reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"))(fd);
}
extern "C" int rename(const char* from, const char* to) {
    struct stat info {};
    renamedUnsynced += stat(from, &info) == 0 && synced.count(info.st_ino) == 0;
    return reinterpret_cast<int (*)(const char*, const char*)>(dlsym(RTLD_NEXT, "rename"))(from,
                                                                                           to);
}

namespace {

TEST(CsvFile, SavedOverWhatIsThere) {
    namespace fs = std::filesystem;
    const std::string longest = std::string(250, 'n') + ".csv";  // NAME_MAX is 255
    const struct {
        const char* name;
        mode_t umask, before, after;  // before: the file there, 0 none
        const char* link;             // the name saved to is a link to this
    } rows[] = {
        {"new.csv", 022, 0, 0644, nullptr},          {"private.csv", 077, 0, 0600, nullptr},
        {"kept.csv", 077, 0600, 0600, nullptr},      {"shared.csv", 077, 0664, 0664, nullptr},
        {"link.csv", 022, 0640, 0640, "d/t.csv"},    {"dangling.csv", 022, 0, 0644, "d/t.csv"},
        {longest.c_str(), 022, 0600, 0600, nullptr},
    };
    for (const auto& row : rows) {
        char pattern[] = "/tmp/csvfile-XXXXXX";
        const fs::path dir = mkdtemp(pattern), path = dir / row.name;
        const fs::path file = row.link ? dir / row.link : path;
        fs::create_directory(dir / "d");
        if (row.link) fs::create_symlink(row.link, path);
        if (row.before)
            std::ofstream(file) << "what was there\n", fs::permissions(file, fs::perms(row.before));
        const mode_t mask = umask(row.umask);
        renamedUnsynced = 0;
        int n = 0;
        EXPECT_EQ(WriteCsvFile(path, {"a", "b"},
                               [&](std::vector<std::string>& cells) {
                                   cells = {std::to_string(n), "x,y"};
                                   return ++n <= 2;
                               }),
                  0);
        umask(mask);
        std::stringstream text;
        text << std::ifstream(path).rdbuf();
        EXPECT_EQ(text.str(), "a,b\r\n0,\"x,y\"\r\n1,\"x,y\"\r\n") << row.name;
        EXPECT_EQ(renamedUnsynced, 0) << row.name;
        EXPECT_EQ(fs::is_symlink(path), row.link != nullptr) << row.name;
        EXPECT_EQ(static_cast<mode_t>(fs::status(file).permissions()), row.after) << row.name;
        // Nothing left beside it.
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}) +
                      std::distance(fs::directory_iterator(dir / "d"), {}),
                  2 + (row.link != nullptr))
            << row.name;
        fs::remove_all(dir);
    }
}

}  // namespace
