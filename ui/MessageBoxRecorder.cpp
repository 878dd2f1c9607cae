#include "ui/MessageBoxRecorder.h"

MessageBoxRecorder::MessageBoxRecorder() : previous(InstallMessageBoxSink(this)) {}

MessageBoxRecorder::~MessageBoxRecorder() { InstallMessageBoxSink(previous); }

void MessageBoxRecorder::Show(std::string_view text, std::string_view caption, MessageIcon icon) {
    messages.push_back({std::string(text), std::string(caption), icon});
    if (onShow) onShow(messages.back());
}

std::vector<std::string> MessageBoxRecorder::Texts() const {
    std::vector<std::string> texts;
    for (const Message& m : messages) texts.push_back(m.text);
    return texts;
}
