// The About box (dialog 100): the icon, the version and an OK button.
#pragma once

#include "ui/Dialog.h"

class AboutDialog : public Dialog {
    Q_OBJECT

public:
    explicit AboutDialog(QWidget* owner = nullptr) : Dialog(IDD_ABOUTBOX, owner) {}
};
