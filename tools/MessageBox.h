// The core layers have no toolkit, yet a few of their operations tell the user
// something (the LRC of an odd number of digits). They go through this one
// function; the toolkit layer installs the real box, tests install a recorder.
#pragma once

#include <string>
#include <string_view>

enum class MessageIcon { None, Information, Warning, Error };

class MessageBoxSink {
public:
    virtual ~MessageBoxSink() = default;
    // text and caption are UTF-8. Blocks until the user has closed the box.
    virtual void Show(std::string_view text, std::string_view caption, MessageIcon icon) = 0;
    // Closes an open box showing `text`, as OK would; its Show returns then.
    // A sink without boxes that stay open has nothing to close.
    virtual void Close(std::string_view /*text*/) {}
};

// Installs the sink used by ShowMessageBox; answers the previous one.
// nullptr restores the default, which writes the text to standard error.
MessageBoxSink* InstallMessageBoxSink(MessageBoxSink* sink);

// A box with an OK button. An empty caption means the application's name.
void ShowMessageBox(std::string_view text, std::string_view caption = {},
                    MessageIcon icon = MessageIcon::None);

// Closes the open box that shows `text`, if there is one: a message about a
// state that has passed (a line that is back) should not wait for a click.
void CloseMessageBox(std::string_view text);
