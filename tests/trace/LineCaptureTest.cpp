// The capture's writer when a write fails partway: a pipe whose reader went
// away, a file that reaches its size limit. Each is reported once, the
// program lives on, and the file ends after its last whole record. A reader
// that stopped reading holds the end only as long as its bound.
#include "trace/LineCapture.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "PcapFile.h"

TEST(LineCapture, AFailedWriteStopsTheCaptureAndIsReportedOnce) {
    for (const bool pipeEnd : {true, false}) {
        char name[] = "/tmp/talvenor-capture-XXXXXX";
        const int file = mkstemp(name);
        int ends[2] = {-1, -1};
        rlimit previous{};
        getrlimit(RLIMIT_FSIZE, &previous);
        if (pipeEnd) {
            ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
            close(ends[0]);
        } else {
            // The header, two records of 100 bytes, and half of a third.
            const rlimit limit{24 + 2 * 128 + 64, previous.rlim_max};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        std::atomic<int> reports{0}, error{0};
        {
            LineCapture capture(pipeEnd ? ends[1] : file, name);
            capture.OnFailure([&](int number) {
                ++reports;
                error = number;
            });
            LineFrame frame;
            frame.sent = true;
            frame.bytes.assign(100, 7);
            for (int i = 0; i < 6; ++i) capture.Take({&frame, 1});
            for (int i = 0; i < 500 && !capture.Failed(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            capture.Take({&frame, 1});
        }
        setrlimit(RLIMIT_FSIZE, &previous);
        EXPECT_EQ(reports, 1);
        EXPECT_EQ(error, pipeEnd ? EPIPE : EFBIG);
        const CaptureFile read = CaptureFile::Read(name);
        EXPECT_TRUE(pipeEnd || (read.wellFormed && read.records.size() == 2))
            << read.records.size();
        if (pipeEnd) close(file);
        unlink(name);
    }
}

// A reader that keeps reading (a live Wireshark on a FIFO) gets every record
// of a line that goes on past the capture's first sync.
TEST(LineCapture, AReaderThatKeepsReadingGetsEveryRecord) {
    int ends[2] = {-1, -1};
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    std::vector<uint8_t> got;
    std::thread reader([&] {
        uint8_t bytes[4096];
        for (ssize_t n; (n = read(ends[0], bytes, sizeof bytes)) > 0;)
            got.insert(got.end(), bytes, bytes + n);
    });
    {
        LineCapture capture(ends[1], "fifo");
        LineFrame frame;
        frame.bytes.assign(100, 7);
        for (int i = 0; i < 15; ++i) {
            capture.Take({&frame, 1});
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        EXPECT_FALSE(capture.Failed());
    }
    reader.join();
    close(ends[0]);
    EXPECT_EQ(CaptureFile::Parse(got).records.size(), 15u);
}

TEST(LineCapture, AReaderThatStoppedHoldsTheEndNoLongerThanItsBound) {
    int ends[2] = {-1, -1};
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    ASSERT_GT(fcntl(ends[0], F_SETPIPE_SZ, 4096), 0);  // the reader never reads
    LineCapture capture(ends[1], "pipe");
    LineFrame frame;
    frame.bytes.assign(1000, 7);
    for (int i = 0; i < 20; ++i) capture.Take({&frame, 1});
    const LineCapture::Outcome outcome = capture.Finish(std::chrono::milliseconds(300));
    EXPECT_TRUE(outcome.timedOut && outcome.error == 0);
    // Lost: what a reader that came back would not find whole.
    std::vector<uint8_t> held(8192);
    fcntl(ends[0], F_SETFL, O_NONBLOCK);
    held.resize(static_cast<size_t>(std::max<ssize_t>(read(ends[0], held.data(), held.size()), 0)));
    EXPECT_EQ(outcome.lostBytes, 20000u - 1000u * CaptureFile::Parse(held).records.size());
    close(ends[0]);
}
