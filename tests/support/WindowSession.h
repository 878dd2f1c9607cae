// The real main window for the window suites: a port directory of its own,
// where COM3 leads to a pty, the receive clock under the test's control, and
// opening through the real settings dialog.
#pragma once

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>

#include "PtyPair.h"
#include "RecordingMessageBoxSink.h"
#include "app/MainWindow.h"
#include "app/PortSettingsDialog.h"
#include "app/ReceiveEdit.h"
#include "app/StringPanel.h"
#include "serial/PosixComm.h"

struct Session {
    explicit Session(std::unique_ptr<CommLayer> comm = nullptr) {
        const std::string ports = (root.path() + "/ports").toStdString();
        std::filesystem::create_directory(ports);
        std::filesystem::create_symlink(pty.SlavePath(), ports + "/COM3");
        const ComNames names({ports, ports, ports});
        window = std::make_unique<MainWindow>(
            comm ? std::move(comm) : std::make_unique<PosixComm>(names), names,
            [this] { return now; });
        window->show();
    }
    void Link(int number, const std::string& target) const {
        std::filesystem::create_symlink(
            target, (root.path() + "/ports/COM").toStdString() + std::to_string(number));
    }

    // Runs the settings dialog as the user would; a dialog still open
    // afterwards is cancelled, so a failing check never blocks the test.
    bool Open(int port = 3, const QString& stopBits = "1", bool ok = true,
              const QString& baud = {}) {
        bool seen = false;
        QTimer::singleShot(0, window.get(), [&] {
            auto* dialog = qobject_cast<PortSettingsDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            seen = true;
            for (auto [id, item] : {std::pair{PortSettingsIds::IDC_PORT, QString::number(port)},
                                    std::pair{PortSettingsIds::IDC_STOP_BITS, stopBits},
                                    std::pair{PortSettingsIds::IDC_BAUD, baud}}) {
                auto* list = dialog->ControlAs<QComboBox>(id);
                if (!item.isEmpty()) list->setCurrentIndex(list->findText(item));
            }
            if (ok) QTest::mouseClick(dialog->Control(IDOK), Qt::LeftButton);
            if (dialog->isVisible()) dialog->done(QDialog::Rejected);
        });
        window->SendCommand(MainIds::IDC_SETTINGS);
        return seen;
    }
    void UseStringPanel(bool hex, const QString& text) const {
        window->ControlAs<QRadioButton>(MainIds::IDC_STRING_MODE)->click();
        StringPanel& panel = *window->GetStringPanel();
        panel.ControlAs<QRadioButton>(hex ? StringPanelIds::IDC_HEX : StringPanelIds::IDC_ASCII)
            ->click();
        panel.SetItemText(StringPanelIds::IDC_SEND_TEXT, text);
    }

    QString Pane() const { return window->ReceivePane().Text(); }
    QCheckBox* TimedSend() const { return window->ControlAs<QCheckBox>(MainIds::IDC_TIMED_SEND); }
    bool SendEnabled() const { return window->Control(MainIds::IDC_SEND)->isEnabled(); }
    QString LastBox() const {
        const auto texts = boxes.Texts();
        return texts.empty() ? QString() : QString::fromStdString(texts.back());
    }

    RecordingMessageBoxSink boxes;
    QTemporaryDir root;
    PtyPair pty;
    uint32_t now = 1;
    std::unique_ptr<MainWindow> window;
};
