// What every fuzz target shares: a quiet message box (the default one writes
// to standard error, which would flood the fuzzer's output), and a check that
// stops the run with a readable line when a property does not hold.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "tools/MessageBox.h"

class QuietMessageBox final : public MessageBoxSink {
public:
    QuietMessageBox() { InstallMessageBoxSink(this); }
    void Show(std::string_view, std::string_view, MessageIcon) override {}
};

#define FUZZ_CHECK(condition)                                                                     \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                         \
        }                                                                                         \
    } while (0)
