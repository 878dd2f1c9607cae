// The real message box behind ShowMessageBox: modal, with an OK button.
// The application installs one at start; tests install a MessageBoxRecorder.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tools/MessageBox.h"

class QMessageBox;

class QtMessageBoxSink final : public MessageBoxSink {
public:
    void Show(std::string_view text, std::string_view caption, MessageIcon icon) override;
    void Close(std::string_view text) override;

private:
    // The boxes open now, innermost last, with their texts.
    std::vector<std::pair<QMessageBox*, std::string>> openBoxes;
};
