#include "ui/CommandTarget.h"

#include <QAction>
#include <QPointer>
#include <QWidget>

#include "ui/WindowMessages.h"
#include "ui/WindowProc.h"

void CommandUpdate::Enable(bool enable) {
    item->setEnabled(enable);
    stateSet = true;
}

void PostCommand(QWidget* window, int id) {
    QMetaObject::invokeMethod(
        window,
        [target = QPointer<QWidget>(window), id] {
            if (!target) return;
            auto* commands = dynamic_cast<CommandTarget*>(target.data());
            if (commands && commands->OnCommand(id)) return;
            SendWindowMessage(target, WindowMessages::WM_COMMAND, static_cast<WPARAM>(id), 0);
        },
        Qt::QueuedConnection);
}
