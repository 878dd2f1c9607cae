// The built simulator on its pseudo-terminal, asked by masters this project
// did not write: mbpoll (libmodbus) in RTU, pymodbus in ASCII framing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "SimProcess.h"

namespace {

// What a command printed on its standard output and standard error.
std::string Output(const std::string& command) {
    std::string text;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return "cannot run " + command;
    char chunk[512];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) text.append(chunk, n);
    pclose(pipe);
    return text;
}

struct MasterCase {
    const char* name;
    std::vector<std::string> simArgs;
    bool ascii;                         // pymodbus in ASCII framing, else mbpoll in RTU
    std::vector<std::string> expected;  // each appears in the master's output
};

TEST(Simulator, AnswersIndependentMasters) {
    const std::filesystem::path ports =
        std::filesystem::temp_directory_path() / ("talvenor-sim-test-" + std::to_string(getpid()));
    // Station 2's holding registers start at 2000; --period 0 keeps them there.
    const MasterCase cases[] = {
        {"MbpollReadsRegisters", {"--stations", "1,2"}, false, {"[1]: \t2000", "[2]: \t2001"}},
        {"MbpollReadsFifoPieces",
         {"--stations", "2", "--deliver", "fifo"},
         false,
         {"[1]: \t2000", "[2]: \t2001"}},
        {"MbpollSeesTheException",
         {"--stations", "2", "--exception", "2"},
         false,
         {"Illegal data address"}},
        {"PymodbusReadsRegisters", {"--stations", "1,2"}, true, {"registers 2000 2001"}},
        {"PymodbusSeesTheException",
         {"--stations", "2", "--exception", "2"},
         true,
         {"exception 2"}},
    };
    for (const MasterCase& c : cases) {
        std::vector<std::string> args = c.simArgs;
        args.insert(args.end(), {"--period", "0", "--port-dir", ports.string()});
        SimProcess sim(args);
        const std::string device = sim.DevicePath();
        const std::string output =
            c.ascii ? Output(std::string(TALVENOR_PYTHON) + " " + TALVENOR_SOURCE_DIR +
                             "/tests/sim/ascii_master.py " + device + " 2 0 2")
                    : Output("mbpoll -m rtu -b 9600 -P none -a 2 -r 1 -c 2 -t 4 -1 -o 2 " + device);
        for (const std::string& text : c.expected)
            EXPECT_NE(output.find(text), std::string::npos) << c.name << " printed:\n" << output;
        // Ctrl-C removes the link.
        const auto link = ports / ("COM" + std::to_string(sim.ComNumber()));
        EXPECT_TRUE(std::filesystem::is_symlink(link)) << c.name;
        EXPECT_EQ(sim.Interrupt(), 0) << c.name;
        EXPECT_FALSE(std::filesystem::is_symlink(link)) << c.name;
    }
    std::filesystem::remove_all(ports);
}

}  // namespace
