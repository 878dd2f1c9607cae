// Stands in for the message box while it lives: records every box instead of
// showing it, and puts the previous sink back when it goes.
#pragma once

#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tools/MessageBox.h"

class RecordingMessageBoxSink final : public MessageBoxSink {
public:
    struct Box {
        std::string text;
        std::string caption;
        MessageIcon icon;
    };

    RecordingMessageBoxSink() : previous(InstallMessageBoxSink(this)) {}
    ~RecordingMessageBoxSink() override { InstallMessageBoxSink(previous); }
    RecordingMessageBoxSink(const RecordingMessageBoxSink&) = delete;
    RecordingMessageBoxSink& operator=(const RecordingMessageBoxSink&) = delete;

    // Runs while a box is "open", before Show returns: the place for a test to
    // act as the user would with a modal box up (timers firing, and so on).
    std::function<void(const Box&)> whileOpen;
    // Runs when the program closes a box by its text (CloseMessageBox):
    // where a whileOpen that keeps its box open ends it.
    std::function<void(std::string_view text)> onClose;

    void Show(std::string_view text, std::string_view caption, MessageIcon icon) override {
        // Qt shows a box on the windows' thread only.
        if (std::this_thread::get_id() != home) std::abort();
        Box box{std::string(text), std::string(caption), icon};
        {
            std::lock_guard lock(mutex);
            boxes.push_back(box);
        }
        if (whileOpen) whileOpen(box);
    }

    void Close(std::string_view text) override {
        {
            std::lock_guard lock(mutex);
            closed.emplace_back(text);
        }
        if (onClose) onClose(text);
    }

    // The texts CloseMessageBox was asked to close, in order.
    std::vector<std::string> Closed() const {
        std::lock_guard lock(mutex);
        return closed;
    }

    std::vector<Box> Boxes() const {
        std::lock_guard lock(mutex);
        return boxes;
    }

    std::vector<std::string> Texts() const {
        std::lock_guard lock(mutex);
        std::vector<std::string> texts;
        for (const Box& box : boxes) texts.push_back(box.text);
        return texts;
    }

    void Clear() {
        std::lock_guard lock(mutex);
        boxes.clear();
    }

private:
    MessageBoxSink* previous;
    const std::thread::id home = std::this_thread::get_id();
    mutable std::mutex mutex;
    std::vector<Box> boxes;
    std::vector<std::string> closed;
};
