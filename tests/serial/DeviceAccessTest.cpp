// What the port dialog tells about a device without opening it.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "PtyPair.h"
#include "serial/DeviceAccess.h"

namespace {

// A child process that opens `path` and keeps it until the pipe closes.
class Holder {
public:
    explicit Holder(const std::string& path) {
        int ready[2], release[2];
        if (pipe(ready) != 0 || pipe(release) != 0) return;
        child = fork();
        if (child == 0) {
            // Nothing inherited: with the pty's master side it would be
            // the pty's creator, which does not count as another holder.
            for (int fd = 3; fd < 1024; ++fd)
                if (fd != ready[1] && fd != release[0]) close(fd);
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
    {
        Holder other(device);
        ASSERT_TRUE(other.held);
        EXPECT_EQ(ProbeDeviceAccess(device), DeviceAccess::Busy);
    }
    EXPECT_EQ(ProbeDeviceAccess(device), DeviceAccess::Ready);
    std::remove(dangling.c_str());
}

TEST(DeviceAccess, ForbiddenDeviceIsNoPermission) {
    if (geteuid() == 0) GTEST_SKIP() << "root may open any device";
    const std::string file = testing::TempDir() + "/talvenor-forbidden";
    const int fd = open(file.c_str(), O_CREAT | O_WRONLY, 0000);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_EQ(ProbeDeviceAccess(file), DeviceAccess::NoPermission);
    std::remove(file.c_str());
}

}  // namespace
