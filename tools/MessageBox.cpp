#include "tools/MessageBox.h"

#include <atomic>
#include <cstdio>

namespace {

class StderrSink final : public MessageBoxSink {
public:
    void Show(std::string_view text, std::string_view caption, MessageIcon) override {
        std::fprintf(stderr, "[%.*s] %.*s\n", static_cast<int>(caption.size()), caption.data(),
                     static_cast<int>(text.size()), text.data());
    }
};

StderrSink stderrSink;
std::atomic<MessageBoxSink*> currentSink{&stderrSink};

}  // namespace

MessageBoxSink* InstallMessageBoxSink(MessageBoxSink* sink) {
    return currentSink.exchange(sink ? sink : &stderrSink);
}

void ShowMessageBox(std::string_view text, std::string_view caption, MessageIcon icon) {
    currentSink.load()->Show(text, caption, icon);
}

void CloseMessageBox(std::string_view text) { currentSink.load()->Close(text); }
