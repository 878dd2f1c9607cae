// The test side of the FakeUart LD_PRELOAD aid: its functions, found in the
// running process. Each is null when the aid is not preloaded.
#pragma once

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

struct FakeUart {
    using SetInputs = int (*)(const char* path, int tiocmBits);
    using CountErrors = int (*)(const char* path, int frame, int parity, int overrun, int breaks);
    using Query = int (*)(const char* path);

    SetInputs setInputs = Find<SetInputs>("FakeUartSetInputs");
    CountErrors countErrors = Find<CountErrors>("FakeUartCountErrors");
    Query lowLatency = Find<Query>("FakeUartLowLatency");
    Query rs485Flags = Find<Query>("FakeUartRs485Flags");
    // Call for each new pty: its number may be that of one gone.
    Query forget = Find<Query>("FakeUartForget");

    bool Loaded() const { return setInputs && countErrors && lowLatency && rs485Flags && forget; }

    // Runs this program again with the aid preloaded, unless it is; for a
    // static initialiser, so that every way of running the tests gets it.
    // AddressSanitizer's runtime would refuse to come second: it is told not to.
    static bool Preload(const char* library) {
        if (FakeUart().Loaded()) return true;
        std::ifstream file("/proc/self/cmdline");
        const std::string all((std::istreambuf_iterator<char>(file)), {});
        std::vector<std::string> words;
        for (size_t at = 0; at < all.size();) {
            const size_t end = all.find('\0', at);
            words.push_back(all.substr(at, end - at));
            at = end == std::string::npos ? all.size() : end + 1;
        }
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        setenv("LD_PRELOAD", library, 1);
        const char* options = std::getenv("ASAN_OPTIONS");
        const std::string value = options ? std::string(options) + ":" : std::string();
        setenv("ASAN_OPTIONS", (value + "verify_asan_link_order=0").c_str(), 1);
        execv("/proc/self/exe", argv.data());
        return false;
    }

private:
    template <typename F>
    static F Find(const char* name) {
        return reinterpret_cast<F>(dlsym(RTLD_DEFAULT, name));
    }
};
