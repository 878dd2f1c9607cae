// Stands in for the message box in tests: records every box and answers OK
// at once. Installed for its lifetime, the previous sink restored after.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tools/MessageBox.h"

class MessageBoxRecorder final : public MessageBoxSink {
public:
    struct Message {
        std::string text;  // UTF-8
        std::string caption;
        MessageIcon icon;
    };

    MessageBoxRecorder();
    ~MessageBoxRecorder() override;
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    void Show(std::string_view text, std::string_view caption, MessageIcon icon) override;

    const std::vector<Message>& Messages() const { return messages; }
    std::vector<std::string> Texts() const;
    void Clear() { messages.clear(); }

    // Runs while the "box" is open, as a user would act before pressing OK.
    std::function<void(const Message&)> onShow;

private:
    std::vector<Message> messages;
    MessageBoxSink* previous;
};
