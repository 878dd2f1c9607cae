#include "ui/QtMessageBoxSink.h"

#include <QApplication>
#include <QClipboard>
#include <QMessageBox>
#include <QShortcut>
#include <QThread>
#include <cstdio>

#include "ui/GbkText.h"

namespace {

QMessageBox::Icon BoxIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Information:
            return QMessageBox::Information;
        case MessageIcon::Warning:
            return QMessageBox::Warning;
        case MessageIcon::Error:
            return QMessageBox::Critical;
        case MessageIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

void QtMessageBoxSink::Show(std::string_view text, std::string_view caption, MessageIcon icon) {
    // Widgets live on the user-interface thread only. The serial engine hands
    // its boxes over to that thread itself; anything else that slips through
    // is written out rather than crashing the program.
    if (!qApp || QThread::currentThread() != qApp->thread()) {
        std::fprintf(stderr, "[%.*s] %.*s\n", static_cast<int>(caption.size()), caption.data(),
                     static_cast<int>(text.size()), text.data());
        return;
    }
    const QString title =
        caption.empty() ? QApplication::applicationDisplayName() : FromUtf8(caption);
    QWidget* owner = QApplication::activeModalWidget();
    if (!owner) owner = QApplication::activeWindow();
    QMessageBox box(BoxIcon(icon), title, FromUtf8(text), QMessageBox::Ok, owner);
    // Ctrl+C copies the caption and the text, as the system's boxes do
    // elsewhere: an error can be pasted into a report.
    const QShortcut copy(QKeySequence::Copy, &box, [&box] {
        QGuiApplication::clipboard()->setText(box.windowTitle() + QLatin1Char('\n') + box.text());
    });
    openBoxes.emplace_back(&box, std::string(text));
    box.exec();
    std::erase_if(openBoxes, [&box](const auto& open) { return open.first == &box; });
}

void QtMessageBoxSink::Close(std::string_view text) {
    if (!qApp || QThread::currentThread() != qApp->thread()) return;
    for (const auto& [box, shown] : openBoxes)
        if (shown == text) box->done(QMessageBox::Ok);
}
