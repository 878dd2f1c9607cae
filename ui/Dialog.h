// A dialog built from a template of resources/: controls found by number,
// fields bound to controls and moved by UpdateData, and commands routed from
// (control number, notification) to member functions through a table.
//
//   class MyDialog : public Dialog {
//   public:
//       MyDialog();
//       std::string inputText;              // code page 936
//   private:
//       void Compute();
//       static const CommandEntry<MyDialog> commandTable[];
//   };
//   // In the .cpp: the table first, so that the constructor sees its size.
//   const CommandEntry<MyDialog> MyDialog::commandTable[] = {
//       {ChecksumIds::IDC_COMPUTE, Notification::Clicked, &MyDialog::Compute},
//   };
//   MyDialog::MyDialog() : Dialog(IDD_MY) {
//       SetCommandTable(commandTable);
//       BindText(ChecksumIds::IDC_INPUT, inputText);  // bindings in field order
//   }
#pragma once

#include <QDialog>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "resources/DialogTemplate.h"
#include "ui/DialogUnits.h"

class QComboBox;

enum class Notification {
    Clicked,  // button, check box, radio button (also Return and Escape as commands 1 and 2)
    SelectionChanged,  // the user chose a combo item
    EditChanged,       // the text of an edit changed (also when the program set it)
};

template <class D>
struct CommandEntry {
    int controlId;
    Notification code;
    void (D::*handler)();
};

class Dialog : public QDialog {
    Q_OBJECT
public:
    // A template without caption (a panel) given a parent becomes a hidden
    // child widget of it; every other dialog is a window owned by parent.
    explicit Dialog(int templateId, QWidget* parent = nullptr);
    ~Dialog() override;

    const DialogTemplate& Template() const { return *dialogTemplate; }
    const DialogUnits& Units() const { return units; }

    // The control with this number in this dialog. A child dialog's controls
    // are never found, though numbers repeat between dialogs. nullptr if none.
    QWidget* Control(int controlId) const;
    template <class W>
    W* ControlAs(int controlId) const {
        return qobject_cast<W*>(Control(controlId));
    }
    // Puts widget in the place of the template's control controlId: its
    // geometry, font, visibility, enabled state, tab and stacking order and
    // number; the template's widget is deleted. The dialog owns widget.
    void SubclassControl(int controlId, QWidget* widget);
    // The number of one of this dialog's controls; 0 for anything else.
    int ControlId(const QWidget* control) const;
    // Every control made from the template, numbered or not, in template order.
    const std::vector<QWidget*>& Controls() const { return allControls; }

    // Window initialisation, once: OnInitDialog, then (for a window) the focus
    // to the first control that takes it unless OnInitDialog answered false. Showing the
    // dialog runs it if nobody has; a panel kept hidden calls it itself.
    void InitDialog();

    // Runs the dialog modally; answers IDOK when it closed with Accepted,
    // IDCANCEL otherwise (Escape, the close box, OnCancel).
    int DoModal() { return exec() == QDialog::Accepted ? IDOK : IDCANCEL; }

    // save true: controls to fields, in binding order, stopping at the first
    // control that holds no acceptable value: its message is shown, the focus
    // goes to it with its text selected, and the answer is false.
    // save false: fields to controls; always true.
    bool UpdateData(bool save = true);

    // Routes a command as if the control had sent it. True when something
    // handled it (a table entry, or OnOK/OnCancel for commands 1 and 2).
    bool SendCommand(int controlId, Notification code = Notification::Clicked);

    // Text of a label, button, edit or combo (an editable combo's edit text,
    // a list's selected item). Setting a drop-down list's text does nothing.
    void SetItemText(int controlId, const QString& text);
    QString ItemText(int controlId) const;
    void EnableItem(int controlId, bool enable);

    // Adds a combo item where the template's style puts it (sorted lists in
    // order, capitals for an upper-case list). Answers its index.
    int AddString(int comboId, const QString& text);
    // Selects the item found by FindStringPrefix; answers its index, or -1
    // and leaves the selection alone.
    int SelectStringPrefix(int comboId, int startAfter, const QString& prefix);
    // The first item after index startAfter (-1: from the top), wrapping
    // around, whose text begins with prefix, letter case ignored. -1 when no
    // item does, and for an empty prefix.
    static int FindStringPrefix(const QComboBox& combo, int startAfter, const QString& prefix);

    void setVisible(bool visible) override;
    // Escape and the close box come here: routed as command 2.
    void reject() override;

protected:
    // Default: UpdateData(false); true.
    virtual bool OnInitDialog();
    // Command 1 without a table entry. Default: UpdateData(true), then close
    // with Accepted when it succeeded.
    virtual void OnOK();
    // Command 2 without a table entry. Default: close with Rejected.
    virtual void OnCancel();

    template <class D, std::size_t N>
    void SetCommandTable(const CommandEntry<D> (&table)[N]) {
        D* self = static_cast<D*>(this);
        for (const CommandEntry<D>& entry : table)
            routes.push_back({entry.controlId, entry.code,
                              [self, handler = entry.handler] { (self->*handler)(); }});
    }

    // Bindings, declared in field order.
    void BindInt(int controlId, int& field);
    void BindInt(int controlId, int& field, int minimum, int maximum);
    void BindUnsigned(int controlId, uint32_t& field);
    // An unsigned field that takes no more than maximum: a larger number gets
    // the range message, from 0 to maximum.
    void BindUnsigned(int controlId, uint32_t& field, uint32_t maximum);
    void BindText(int controlId, std::string& field);
    // A drop-down list's selected item text, or an editable combo's edit
    // text. Loading selects the item that begins with the field (an editable
    // combo shows the text itself when no item does).
    void BindComboText(int controlId, std::string& field);
    void BindComboIndex(int controlId, int& field);
    void BindCheck(int controlId, int& field);
    // A radio group by position: the first button's number; -1 is none checked.
    void BindRadio(int firstControlId, int& field);

    // Return: a focused push button clicks itself; otherwise the default
    // button, if enabled, else command 1. Escape: command 2.
    void keyPressEvent(QKeyEvent* event) override;

private:
    enum class BindingKind {
        Int,
        IntRange,
        Unsigned,
        UnsignedRange,
        Text,
        ComboText,
        ComboIndex,
        Check,
        Radio
    };
    struct Binding {
        BindingKind kind;
        int controlId;
        int* intField = nullptr;
        uint32_t* unsignedField = nullptr;
        std::string* textField = nullptr;
        int64_t minimum = 0;
        int64_t maximum = 0;
    };
    struct Route {
        int controlId;
        Notification code;
        std::function<void()> handler;
    };

    void BuildControls();
    QWidget* MakeControl(const ControlTemplate& control);
    void Connect(int controlId, QWidget* widget);
    void AddBinding(Binding binding);
    bool Load(const Binding& binding);
    bool Save(const Binding& binding);
    // Shows the message, focuses the control with its text selected; false.
    bool Fail(int controlId, const std::string& message);
    // True when value lies in the binding's range; otherwise the range
    // message, as Fail.
    bool InRange(const Binding& binding, int64_t value);
    std::vector<int> RadioGroup(int firstControlId) const;
    int DefaultButtonId() const;

    const DialogTemplate* dialogTemplate;
    DialogUnits units;
    std::map<int, QWidget*> numbered;
    std::vector<QWidget*> allControls;
    std::vector<Binding> bindings;
    std::vector<Route> routes;
    bool initialised = false;
};
