// The capture's writer on real destinations: a file it keeps up to date while
// it runs, and the ways a write fails (a full disk, a pipe whose reader went
// away, a file size limit), each reported once, with the file ending after
// its last whole record.
#include "serial/LineCapture.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "PcapFile.h"

namespace {

using namespace std::chrono_literals;

template <typename Condition>
bool WaitFor(Condition done, std::chrono::milliseconds timeout = 5s) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

struct TempFile {
    TempFile() {
        char name[] = "/tmp/talvenor-capture-XXXXXX";
        fd = mkstemp(name);
        path = name;
    }
    ~TempFile() { unlink(path.c_str()); }
    int fd;
    std::string path;
};

TEST(LineCapture, RecordsAreInTheFileWhileTheCaptureRuns) {
    TempFile file;
    LineCapture capture(file.fd, file.path);
    const std::vector<uint8_t> request = {1, 3, 0, 0, 0, 1, 0x84, 0x0a};
    const int64_t start = capture.Now();
    capture.Sent(start, 0, request);
    capture.Received(start + 5000, start + 5000, LINE_CTS, std::vector<uint8_t>{1, 3, 2}, false);
    // The reply stays open until the writer sees the line silent: no end is forced here.
    ASSERT_TRUE(WaitFor([&] { return CaptureFile::Read(file.path).records.size() == 2; }));
    const CaptureFile read = CaptureFile::Read(file.path);
    EXPECT_TRUE(read.headerOk && read.wellFormed);
    EXPECT_EQ(read.records[0].bytes, request);
    EXPECT_EQ(read.records[1].stampUs, start + 5000);
    EXPECT_EQ(read.records[1].lines, LINE_CTS);
    EXPECT_FALSE(capture.Failed());
}

TEST(LineCapture, AFailedWriteStopsTheCaptureAndIsReportedOnce) {
    enum Kind { DiskFull, ReaderGone, SizeLimit };
    for (const Kind kind : {DiskFull, ReaderGone, SizeLimit}) {
        SCOPED_TRACE(kind);
        TempFile file;
        int fd = -1, expected = 0;
        rlimit previous{};
        getrlimit(RLIMIT_FSIZE, &previous);
        if (kind == DiskFull) {
            fd = open("/dev/full", O_WRONLY | O_CLOEXEC);
            expected = ENOSPC;
        } else if (kind == ReaderGone) {
            int ends[2];
            ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
            close(ends[0]);
            fd = ends[1];
            expected = EPIPE;
        } else {
            // The header and two records of 100 bytes, and half of a third.
            const rlimit limit{24 + 2 * 128 + 64, previous.rlim_max};
            setrlimit(RLIMIT_FSIZE, &limit);
            fd = dup(file.fd);
            expected = EFBIG;
        }
        std::atomic<int> reports{0}, error{0};
        {
            LineCapture capture(fd, "capture");
            capture.OnFailure([&](int number) {
                ++reports;
                error = number;
            });
            for (int i = 0; i < 5; ++i)
                capture.Sent(capture.Now(), 0, std::vector<uint8_t>(100, 7));
            EXPECT_TRUE(WaitFor([&] { return capture.Failed(); }));
            capture.Sent(capture.Now(), 0, std::vector<uint8_t>(100, 7));
        }
        setrlimit(RLIMIT_FSIZE, &previous);
        EXPECT_EQ(reports, 1);
        EXPECT_EQ(error, expected);
        if (kind == SizeLimit) {
            const CaptureFile read = CaptureFile::Read(file.path);
            EXPECT_TRUE(read.headerOk && read.wellFormed);
            EXPECT_EQ(read.records.size(), 2u);
        }
    }
}

TEST(LineCapture, AHandlerSetAfterTheFailureIsCalledAtOnce) {
    LineCapture capture(open("/dev/full", O_WRONLY | O_CLOEXEC), "/dev/full");
    ASSERT_TRUE(WaitFor([&] { return capture.Failed(); }));
    int reports = 0;
    capture.OnFailure([&](int error) { reports += error == ENOSPC; });
    capture.OnFailure([&](int) { ++reports; });
    EXPECT_EQ(reports, 1);
}

}  // namespace
