// The real message box behind ShowMessageBox: modal, with an OK button.
// The application installs one at start; tests install a MessageBoxRecorder.
#pragma once

#include "tools/MessageBox.h"

class QtMessageBoxSink final : public MessageBoxSink {
public:
    void Show(std::string_view text, std::string_view caption, MessageIcon icon) override;
};
