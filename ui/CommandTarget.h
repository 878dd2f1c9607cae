// Command routing for widgets that are not dialogs: a widget that takes menu
// commands implements CommandTarget, a table from command number to handler,
// and a command-update request asks the table for an item's state.
#pragma once

class QAction;
class QWidget;

// One menu item's update request.
class CommandUpdate {
public:
    CommandUpdate(QAction* item, int id) : item(item), id(id) {}
    int Id() const { return id; }
    void Enable(bool enable);
    // True once a handler has set the item's state.
    bool StateSet() const { return stateSet; }

private:
    QAction* item;
    int id;
    bool stateSet = false;
};

class CommandTarget {
public:
    virtual ~CommandTarget() = default;
    // True when the table had a handler for the command.
    virtual bool OnCommand(int id) = 0;
    // True when the table had an update handler for the request's number.
    virtual bool OnCommandUpdate(CommandUpdate& update) = 0;
    virtual bool HasCommandHandler(int id) const = 0;
};

// Delivers a chosen menu command to window once the current event is done,
// as a posted command: its CommandTarget first, then (unhandled) its hook
// chain as WM_COMMAND. Nothing happens if the window is gone by then.
void PostCommand(QWidget* window, int id);
