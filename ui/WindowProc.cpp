#include "ui/WindowProc.h"

#include <QContextMenuEvent>
#include <QPointer>
#include <QWidget>
#include <unordered_map>
#include <unordered_set>

namespace {

// Turns a widget's Qt events into messages for its procedure.
class MessageFilter final : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

struct Entry {
    WindowProc proc;
    MessageFilter* filter;
    QMetaObject::Connection destroyedConnection;
};

std::unordered_map<const QObject*, Entry>& Procs() {
    static std::unordered_map<const QObject*, Entry> procs;
    return procs;
}

// Widgets whose WM_NCDESTROY is being handled: gone as widgets already.
std::unordered_set<const QObject*>& Dying() {
    static std::unordered_set<const QObject*> dying;
    return dying;
}

thread_local CurrentMessage current;

// Sends with the record of the message being handled saved and restored.
LRESULT Dispatch(WindowProc proc, const CurrentMessage& message) {
    const CurrentMessage saved = current;
    current = message;
    const LRESULT result = proc(message.window, message.message, message.wParam, message.lParam);
    current = saved;
    return result;
}

void WindowDestroyed(QObject* object) {
    auto it = Procs().find(object);
    if (it == Procs().end()) return;
    const WindowProc proc = it->second.proc;
    MessageFilter* filter = it->second.filter;
    Procs().erase(it);
    auto* window = static_cast<QWidget*>(object);
    Dying().insert(object);
    Dispatch(proc, {window, WindowMessages::WM_NCDESTROY, 0, 0, nullptr});
    Dying().erase(object);
    delete filter;
}

bool MessageFilter::eventFilter(QObject* watched, QEvent* event) {
    auto* window = static_cast<QWidget*>(watched);
    auto it = Procs().find(watched);
    if (it == Procs().end()) return false;
    // The Qt events that are messages of the chain.
    if (event->type() == QEvent::ContextMenu) {
        auto* menu = static_cast<QContextMenuEvent*>(event);
        const bool keyboard = menu->reason() == QContextMenuEvent::Keyboard;
        const LPARAM where = keyboard ? MakeLParam(-1, -1)
                                      : MakeLParam(menu->globalPos().x(), menu->globalPos().y());
        Dispatch(it->second.proc, {window, WindowMessages::WM_CONTEXTMENU,
                                   reinterpret_cast<WPARAM>(window), where, event});
        return true;
    }
    return false;
}

}  // namespace

CurrentMessage& CurrentWindowMessage() { return current; }

WindowProc GetWindowProc(QWidget* window) {
    const auto it = Procs().find(window);
    return it == Procs().end() ? &DefaultWindowProc : it->second.proc;
}

WindowProc SetWindowProc(QWidget* window, WindowProc proc) {
    const WindowProc previous = GetWindowProc(window);
    if (Dying().count(window)) return previous;
    auto it = Procs().find(window);
    if (proc == &DefaultWindowProc) {
        if (it != Procs().end()) {
            window->removeEventFilter(it->second.filter);
            QObject::disconnect(it->second.destroyedConnection);
            delete it->second.filter;
            Procs().erase(it);
        }
        return previous;
    }
    if (it != Procs().end()) {
        it->second.proc = proc;
        return previous;
    }
    auto* filter = new MessageFilter;
    window->installEventFilter(filter);
    const auto connection = QObject::connect(window, &QObject::destroyed, WindowDestroyed);
    Procs()[window] = Entry{proc, filter, connection};
    return previous;
}

LRESULT SendWindowMessage(QWidget* window, UINT message, WPARAM wParam, LPARAM lParam) {
    return Dispatch(GetWindowProc(window), {window, message, wParam, lParam, nullptr});
}

LRESULT DefaultWindowProc(QWidget* window, UINT message, WPARAM, LPARAM) {
    if (Dying().count(window)) return 0;
    if (current.event && current.window == window && current.message == message) {
        // Delivered once, straight to the widget's handlers (QObject::event
        // is public), so the filter does not see it again.
        QEvent* event = current.event;
        current.event = nullptr;
        static_cast<QObject*>(window)->event(event);
        return 1;
    }
    return 0;
}
