// What the port dialog tells about a device without opening it.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>

#include "PtyPair.h"
#include "serial/DeviceAccess.h"

namespace {

// A child process that opens `path` and keeps it until the pipe closes;
// `terminal`: a terminal program, with a pseudo-terminal of its own.
class Holder {
public:
    explicit Holder(const std::string& path, bool terminal = false) {
        int ready[2], release[2];
        if (pipe(ready) != 0 || pipe(release) != 0) return;
        child = fork();
        if (child == 0) {
            // Nothing inherited: with the pty's master side it would be
            // the pty's creator, which does not count as another holder.
            for (int fd = 3; fd < 1024; ++fd)
                if (fd != ready[1] && fd != release[0]) close(fd);
            if (terminal) (void)posix_openpt(O_RDWR | O_NOCTTY);
            const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
            char c = fd >= 0 ? 1 : 0;
            (void)!write(ready[1], &c, 1);
            (void)!read(release[0], &c, 1);
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        char c = 0;
        held = read(ready[0], &c, 1) == 1 && c == 1;
        close(ready[0]);
        releaseFd = release[1];
    }
    ~Holder() {
        close(releaseFd);
        if (child > 0) waitpid(child, nullptr, 0);
    }
    bool held = false;

private:
    pid_t child = -1;
    int releaseFd = -1;
};

TEST(DeviceAccess, TellsWhatItSeesWithoutOpening) {
    PtyPair pty;
    const std::string device = pty.SlavePath();
    const std::string dangling = testing::TempDir() + "/talvenor-dangling";
    std::remove(dangling.c_str());
    ASSERT_EQ(symlink("/dev/talvenor-no-such-device", dangling.c_str()), 0);

    EXPECT_EQ(ProbeDeviceAccess("/dev/talvenor-no-such-device"), DeviceAccess::Missing);
    EXPECT_EQ(ProbeDeviceAccess(dangling), DeviceAccess::Missing);
    EXPECT_EQ(ProbeDeviceAccess(""), DeviceAccess::Missing);
    // This process's own descriptors do not count.
    EXPECT_EQ(ProbeDeviceAccess(device), DeviceAccess::Ready);
    for (const bool terminal : {false, true}) {
        Holder other(device, terminal);
        ASSERT_TRUE(other.held);
        EXPECT_EQ(ProbeDeviceAccess(device), DeviceAccess::Busy) << terminal;
    }
    EXPECT_EQ(ProbeDeviceAccess(device), DeviceAccess::Ready);
    std::remove(dangling.c_str());
}

// A device this user may not both read and write cannot be opened. Root
// opens anything: the test runs again as nobody, where it takes the checks.
TEST(DeviceAccess, DeviceNotReadableAndWritableIsNoPermission) {
    if (geteuid() == 0) {
        char self[PATH_MAX] = {};
        ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
        const testing::TestInfo& test = *testing::UnitTest::GetInstance()->current_test_info();
        const std::string command =
            std::string("exec setpriv --reuid=65534 --regid=65534 ") + "--clear-groups '" + self +
            "' --gtest_filter=" + test.test_suite_name() + "." + test.name() + " 2>&1";
        FILE* child = popen(command.c_str(), "r");
        ASSERT_NE(child, nullptr);
        std::string output(1 << 16, '\0');
        output.resize(fread(output.data(), 1, output.size(), child));
        const int status = pclose(child);
        if (output.starts_with("setpriv:") || WEXITSTATUS(status) == 127)
            GTEST_SKIP() << "no way to run as another user: " << output;
        EXPECT_TRUE(status == 0 && output.find("[  PASSED  ] 1 test.") != std::string::npos)
            << output;
        return;
    }
    const std::string file = testing::TempDir() + "/talvenor-forbidden-" + std::to_string(getpid());
    for (mode_t mode : {0000, 0444, 0222}) {
        const int fd = open(file.c_str(), O_CREAT | O_EXCL | O_WRONLY, mode);
        ASSERT_GE(fd, 0);
        close(fd);
        EXPECT_EQ(ProbeDeviceAccess(file), DeviceAccess::NoPermission) << std::oct << mode;
        std::remove(file.c_str());
    }
}

}  // namespace

// The latency timer an FTDI driver publishes under its port; a pty has none,
// nor has a driver that publishes nonsense.
TEST(DeviceAccess, AdapterLatencyAsTheDriverPublishesIt) {
    char dir[] = "/tmp/latencyXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string root = dir;
    const std::string port = root + "/devices/usb1/1-1/1-1:1.0/ttyUSB0";
    for (const std::string& made : {port, root + "/class/ttyUSB0", root + "/dev"})
        ASSERT_EQ(system(("mkdir -p " + made).c_str()), 0);
    ASSERT_EQ(symlink(port.c_str(), (root + "/class/ttyUSB0/device").c_str()), 0);
    std::FILE* node = std::fopen((root + "/dev/ttyUSB0").c_str(), "w");
    ASSERT_NE(node, nullptr);
    std::fclose(node);
    for (const auto& [published, ms] : {std::pair{"16\n", 16}, {"1\n", 1}, {"fast\n", -1}}) {
        std::FILE* timer = std::fopen((port + "/latency_timer").c_str(), "w");
        ASSERT_NE(timer, nullptr);
        std::fputs(published, timer);
        std::fclose(timer);
        EXPECT_EQ(AdapterLatencyMs(root + "/dev/ttyUSB0", root + "/class"), ms) << published;
    }
    PtyPair pty;
    EXPECT_EQ(AdapterLatencyMs(pty.SlavePath(), root + "/class"), -1);
    EXPECT_EQ(system(("rm -rf " + root).c_str()), 0);
}
