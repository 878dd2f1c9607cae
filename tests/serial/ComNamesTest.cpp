// Port numbers to device paths, on a made-up port directory, device listing
// and tty class directory.
#include <gtest/gtest.h>
#include <unistd.h>

#include <sys/stat.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "serial/ComNames.h"

namespace {

namespace fs = std::filesystem;

class ComNamesTree : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/comnames-XXXXXX";
        root = mkdtemp(pattern);
        fs::create_directory(root + "/ports");
        fs::permissions(root + "/ports", fs::perms::owner_all, fs::perm_options::replace);
        fs::create_directory(root + "/dev");
        for (const char* name :
             {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyAMA0", "rfcomm1", "ttyS0", "ttyS1", "ttyS2",
              "ttyS3", "tty", "tty1", "ttyUSB", "ttyUSBx", "ttyprintk", "console"})
            std::ofstream(root + "/dev/" + name);
        // ttyS0 has a 16550A, ttyS1 is an empty slot, ttyS2 is bound to a
        // driver without a type, ttyS3 is not known to the class at all.
        fs::create_directories(root + "/sys/ttyS0");
        std::ofstream(root + "/sys/ttyS0/type") << "4\n";
        fs::create_directories(root + "/sys/ttyS1/device/driver");
        std::ofstream(root + "/sys/ttyS1/type") << "0\n";
        fs::create_directories(root + "/sys/ttyS2/device/driver");
    }
    void TearDown() override { fs::remove_all(root); }

    ComNames Names() const { return ComNames({root + "/ports", root + "/dev", root + "/sys"}); }
    std::string Dev(const char* name) const { return root + "/dev/" + name; }

    std::string root;
};

}  // namespace

TEST(ComNames, PortNumberOfAName) {
    const std::map<std::string, int> rows = {
        {"COM1", 1}, {"COM30", 30}, {"com12", 12}, {"Com7", 7},  {"COM0", 0}, {"COM01", 0},
        {"COM", 0},  {"COM1x", 0},  {"COM-1", 0},  {"COM+1", 0}, {"LPT1", 0}, {"COM99999999999", 0},
        {"", 0},
    };
    for (const auto& [name, number] : rows) EXPECT_EQ(ComNames::PortNumber(name), number) << name;
}

TEST_F(ComNamesTree, DevicesAreNumberedByFamilyThenNumber) {
    const std::map<int, std::string> expected = {
        {1, Dev("ttyUSB2")}, {2, Dev("ttyUSB10")}, {3, Dev("ttyACM0")}, {4, Dev("ttyAMA0")},
        {5, Dev("rfcomm1")}, {6, Dev("ttyS0")},    {7, Dev("ttyS2")},
    };
    EXPECT_EQ(Names().Ports(), expected);
    EXPECT_EQ(Names().PathForPort(3), Dev("ttyACM0"));
    EXPECT_EQ(Names().PathForPort(8), "");
    EXPECT_EQ(Names().PathForPort(0), "");
}

TEST_F(ComNamesTree, LinksPinTheirNumbersAndTheRestSkipThem) {
    fs::create_symlink("/dev/pts/42", root + "/ports/COM2");
    fs::create_symlink("../dev/ttyACM0", root + "/ports/COM4");  // relative to the port directory
    fs::create_symlink("/dev/pts/43", root + "/ports/COM01");    // not a port name
    fs::create_symlink("/dev/pts/44", root + "/ports/notes");
    std::ofstream(root + "/ports/COM9");  // a plain file pins nothing
    const std::map<int, std::string> expected = {
        {1, Dev("ttyUSB2")},  {2, "/dev/pts/42"},
        {3, Dev("ttyUSB10")}, {4, root + "/ports/../dev/ttyACM0"},
        {5, Dev("ttyACM0")},  {6, Dev("ttyAMA0")},
        {7, Dev("rfcomm1")},  {8, Dev("ttyS0")},
        {9, Dev("ttyS2")},
    };
    EXPECT_EQ(Names().Ports(), expected);
}

TEST_F(ComNamesTree, DirectoryOthersCanWriteIsIgnored) {
    fs::create_symlink("/dev/pts/42", root + "/ports/COM1");
    struct Row {
        const char* name;
        fs::perms perms;
        bool used;
        bool others = false;  // the directory belongs to another user
    };
    const Row rows[] = {
        {"Private", fs::perms::owner_all, true},
        {"GroupReadable", fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec,
         true},
        {"GroupWritable", fs::perms::owner_all | fs::perms::group_all, false},
        {"WorldWritable", fs::perms::owner_all | fs::perms::others_all, false},
        {"AnotherUsers", fs::perms::owner_all, false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // Only root can give a directory away (CI runs as root).
        if (row.others && geteuid() != 0) continue;
        fs::permissions(root + "/ports", row.perms, fs::perm_options::replace);
        ASSERT_EQ(lchown((root + "/ports").c_str(), row.others ? 65534 : geteuid(), -1), 0);
        EXPECT_EQ(Names().PathForPort(1), row.used ? "/dev/pts/42" : Dev("ttyUSB2"));
        EXPECT_EQ(ComNames::EnsurePortDirectory(root + "/ports"), row.used);
    }
}

TEST_F(ComNamesTree, LinkInPlaceOfTheDirectoryIsIgnored) {
    fs::create_symlink("/dev/pts/42", root + "/ports/COM1");
    fs::create_directory_symlink(root + "/ports", root + "/alias");
    EXPECT_EQ(ComNames({root + "/alias", root + "/dev", root + "/sys"}).PathForPort(1),
              Dev("ttyUSB2"));
    EXPECT_EQ(ComNames({root + "/missing", root + "/dev", root + "/sys"}).PathForPort(1),
              Dev("ttyUSB2"));
    // Made when missing, private; a link in its place is never taken.
    EXPECT_FALSE(ComNames::EnsurePortDirectory(root + "/alias"));
    ASSERT_TRUE(ComNames::EnsurePortDirectory(root + "/missing"));
    EXPECT_EQ(fs::status(root + "/missing").permissions(), fs::perms::owner_all);
}
