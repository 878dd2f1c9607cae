#include "ui/Dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>

#include "tools/MessageBox.h"
#include "ui/GbkText.h"
#include "ui/IntegerText.h"
#include "ui/LineEdit.h"
#include "ui/ResourceLoader.h"
#include "ui/TextEdit.h"

namespace {

// The toolkit's own data-exchange messages.
constexpr std::string_view kParseInt = "请键入一个整数。";
constexpr std::string_view kParseUnsigned = "“请填入一个正整数。”";
constexpr std::string_view kParseIntRange = "“请填入一个在%1和%2之间的整数。”";

const DialogTemplate& RequireTemplate(int templateId) {
    const DialogTemplate* found = FindDialogTemplate(templateId);
    if (!found) qFatal("no dialog template %d", templateId);
    return *found;
}

Qt::WindowFlags WindowFlagsFor(const DialogTemplate& t) {
    if (t.Has(DialogStyle::Popup)) return Qt::Tool | Qt::FramelessWindowHint;
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint;
    if (t.Has(DialogStyle::Caption)) flags |= Qt::WindowTitleHint;
    if (t.Has(DialogStyle::SystemMenu))
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    return flags;
}

// Multi-line edits hold line breaks as CR LF, as the program's text always has.
QString ToControlLines(QString text) {
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}
QString FromControlLines(QString text) {
    return text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
}

}  // namespace

Dialog::Dialog(int templateId, QWidget* parent)
    : QDialog(parent, WindowFlagsFor(RequireTemplate(templateId))),
      dialogTemplate(&RequireTemplate(templateId)),
      units(DialogUnits::TemplateFont(dialogTemplate->fontFace, dialogTemplate->pointSize)) {
    setFont(DialogUnits::TemplateFont(dialogTemplate->fontFace, dialogTemplate->pointSize));
    setWindowTitle(FromUtf8(dialogTemplate->caption));
    setFixedSize(units.X(dialogTemplate->width), units.Y(dialogTemplate->height));
    BuildControls();
    // A caption-less panel given a parent is a child widget over its owner's
    // panel area, hidden until the owner places and shows it. (QDialog makes
    // every widget it constructs a window, hence the flags set afterwards.)
    if (dialogTemplate->Has(DialogStyle::Popup) && parent) {
        setWindowFlags(Qt::Widget);
        hide();
    }
}

// The derived part is gone by now; children destroyed after this point must
// not reach its handlers.
Dialog::~Dialog() { routes.clear(); }

void Dialog::BuildControls() {
    std::map<int, QButtonGroup*> groups;
    QButtonGroup* radioGroup = nullptr;
    for (const ControlTemplate& control : dialogTemplate->controls) {
        QWidget* widget = MakeControl(control);
        widget->setGeometry(units.ToPixels(control.x, control.y, control.w, control.h));
        if (control.kind == ControlKind::ComboBox) {
            // The template gives the height with the list dropped down.
            const int closed = fontMetrics().height() + 8;
            widget->resize(widget->width(), closed);
            const int listRows = (units.Y(control.h) - closed) / fontMetrics().height();
            static_cast<QComboBox*>(widget)->setMaxVisibleItems(std::max(1, listRows));
        }
        if (control.kind == ControlKind::Line)
            widget->resize(widget->width(), std::max(2, widget->height()));
        if (control.kind == ControlKind::GroupBox || control.kind == ControlKind::Frame)
            widget->lower();
        if (control.Has(ControlStyle::Hidden)) widget->hide();
        if (control.Has(ControlStyle::Disabled)) widget->setEnabled(false);

        // Radio buttons form a group from a GroupStart up to the next control
        // that is not a radio button or starts a group of its own.
        if (control.kind == ControlKind::RadioButton) {
            if (!radioGroup || control.Has(ControlStyle::GroupStart)) {
                radioGroup = new QButtonGroup(this);
                radioGroup->setExclusive(true);
            }
            radioGroup->addButton(static_cast<QRadioButton*>(widget));
        } else {
            radioGroup = nullptr;
        }

        widget->setProperty("controlId", control.id);
        if (control.id != 0) {
            widget->setObjectName(QStringLiteral("control%1").arg(control.id));
            numbered[control.id] = widget;
            Connect(control.id, widget);
        }
        allControls.push_back(widget);

        if (control.kind == ControlKind::ComboBox) {
            for (std::string_view item : control.items) AddString(control.id, FromUtf8(item));
            static_cast<QComboBox*>(widget)->setCurrentIndex(-1);
        }
    }
}

QWidget* Dialog::MakeControl(const ControlTemplate& control) {
    const QString text = FromUtf8(control.text);
    switch (control.kind) {
        case ControlKind::Label: {
            auto* label = new QLabel(text, this);
            label->setTextFormat(Qt::PlainText);
            label->setWordWrap(true);
            Qt::Alignment align = Qt::AlignLeft;
            if (control.Has(ControlStyle::Centered)) align = Qt::AlignHCenter;
            if (control.Has(ControlStyle::RightAligned)) align = Qt::AlignRight;
            label->setAlignment(align | Qt::AlignTop);
            return label;
        }
        case ControlKind::Button: {
            auto* button = new QPushButton(text, this);
            button->setAutoDefault(true);
            button->setDefault(control.Has(ControlStyle::DefaultButton));
            return button;
        }
        case ControlKind::CheckBox:
            return new QCheckBox(text, this);
        case ControlKind::RadioButton:
            return new QRadioButton(text, this);
        case ControlKind::Edit:
            if (control.Has(ControlStyle::Multiline)) return new TextEdit(control.style, this);
            return new LineEdit(control.style, this);
        case ControlKind::ComboBox: {
            auto* combo = new QComboBox(this);
            combo->setEditable(control.Has(ControlStyle::EditableCombo));
            combo->setInsertPolicy(QComboBox::NoInsert);
            return combo;
        }
        case ControlKind::GroupBox:
            return new QGroupBox(text, this);
        case ControlKind::Frame: {
            auto* frame = new QFrame(this);
            frame->setFrameStyle(
                QFrame::Panel |
                (control.Has(ControlStyle::Sunken) ? QFrame::Sunken : QFrame::Plain));
            return frame;
        }
        case ControlKind::Line: {
            auto* line = new QFrame(this);
            line->setFrameStyle(QFrame::HLine | QFrame::Sunken);
            return line;
        }
        case ControlKind::ProgressBar: {
            auto* bar = new QProgressBar(this);
            bar->setTextVisible(false);
            bar->setRange(0, 100);
            bar->setValue(0);
            return bar;
        }
        case ControlKind::Icon: {
            auto* label = new QLabel(this);
            label->setPixmap(LoadApplicationIcon().pixmap(32, 32));
            label->setFixedSize(32, 32);
            return label;
        }
    }
    return new QWidget(this);
}

void Dialog::Connect(int controlId, QWidget* widget) {
    auto send = [this, controlId](Notification code) {
        return [this, controlId, code] { SendCommand(controlId, code); };
    };
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        connect(button, &QAbstractButton::clicked, this, send(Notification::Clicked));
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        connect(combo, &QComboBox::activated, this, send(Notification::SelectionChanged));
        if (combo->lineEdit())
            connect(combo->lineEdit(), &QLineEdit::textEdited, this,
                    send(Notification::EditChanged));
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        connect(edit, &QLineEdit::textChanged, this, send(Notification::EditChanged));
    } else if (auto* text = qobject_cast<QPlainTextEdit*>(widget)) {
        connect(text, &QPlainTextEdit::textChanged, this, send(Notification::EditChanged));
    }
}

QWidget* Dialog::Control(int controlId) const {
    const auto it = numbered.find(controlId);
    return it == numbered.end() ? nullptr : it->second;
}

void Dialog::SubclassControl(int controlId, QWidget* widget) {
    QWidget* old = Control(controlId);
    if (!old || !widget || old == widget) qFatal("cannot attach a widget to control %d", controlId);
    widget->setParent(this);
    widget->setGeometry(old->geometry());
    widget->setFont(old->font());
    widget->setEnabled(old->isEnabled());
    widget->setVisible(!old->isHidden());
    widget->setProperty("controlId", controlId);
    widget->setObjectName(old->objectName());
    widget->stackUnder(old);
    QWidget::setTabOrder(old, widget);
    numbered[controlId] = widget;
    std::replace(allControls.begin(), allControls.end(), old, widget);
    Connect(controlId, widget);
    delete old;
}

int Dialog::ControlId(const QWidget* control) const {
    for (const auto& [id, widget] : numbered)
        if (widget == control) return id;
    return 0;
}

void Dialog::InitDialog() {
    if (initialised) return;
    initialised = true;
    // A child panel must not pull its owner's focus into itself.
    if (!OnInitDialog() || !isWindow()) return;
    for (QWidget* widget : allControls) {
        if (widget->focusPolicy() & Qt::TabFocus && widget->isEnabled() && !widget->isHidden()) {
            widget->setFocus(Qt::TabFocusReason);
            break;
        }
    }
}

bool Dialog::OnInitDialog() { return UpdateData(false); }

void Dialog::setVisible(bool visible) {
    if (visible) InitDialog();
    QDialog::setVisible(visible);
}

void Dialog::OnOK() {
    if (UpdateData(true)) accept();
}

void Dialog::OnCancel() { QDialog::reject(); }

void Dialog::reject() { SendCommand(IDCANCEL); }

bool Dialog::SendCommand(int controlId, Notification code) {
    for (const Route& route : routes) {
        if (route.controlId == controlId && route.code == code) {
            // Copied: a handler may change the table or close the dialog.
            const std::function<void()> handler = route.handler;
            handler();
            return true;
        }
    }
    if (code != Notification::Clicked) return false;
    if (controlId == IDOK) {
        OnOK();
        return true;
    }
    if (controlId == IDCANCEL) {
        OnCancel();
        return true;
    }
    return false;
}

int Dialog::DefaultButtonId() const {
    for (const ControlTemplate& control : dialogTemplate->controls)
        if (control.kind == ControlKind::Button && control.Has(ControlStyle::DefaultButton))
            return control.id;
    return 0;
}

void Dialog::keyPressEvent(QKeyEvent* event) {
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        event->accept();
        if (auto* focused = qobject_cast<QPushButton*>(focusWidget());
            focused && ControlId(focused) != 0) {
            focused->click();
            return;
        }
        const int defaultId = DefaultButtonId();
        auto* button = qobject_cast<QPushButton*>(Control(defaultId));
        if (button && button->isEnabled() && !button->isHidden()) {
            button->click();
            return;
        }
        SendCommand(IDOK);
        return;
    }
    if (plain && event->key() == Qt::Key_Escape) {
        event->accept();
        SendCommand(IDCANCEL);
        return;
    }
    QDialog::keyPressEvent(event);
}

// ---- Item helpers

void Dialog::SetItemText(int controlId, const QString& text) {
    QWidget* widget = Control(controlId);
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(text);
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        const ControlTemplate* row = dialogTemplate->Find(controlId);
        edit->setText(row && row->Has(ControlStyle::Uppercase) ? UpperAsciiLetters(text) : text);
    } else if (auto* multi = qobject_cast<QPlainTextEdit*>(widget)) {
        multi->setPlainText(ToControlLines(text));
    } else if (auto* combo = qobject_cast<QComboBox*>(widget); combo && combo->isEditable()) {
        combo->setEditText(text);
    }
}

QString Dialog::ItemText(int controlId) const {
    QWidget* widget = Control(controlId);
    if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text();
    if (auto* multi = qobject_cast<QPlainTextEdit*>(widget))
        return FromControlLines(multi->toPlainText());
    if (auto* combo = qobject_cast<QComboBox*>(widget)) return combo->currentText();
    return {};
}

void Dialog::EnableItem(int controlId, bool enable) {
    if (QWidget* widget = Control(controlId)) widget->setEnabled(enable);
}

int Dialog::AddString(int comboId, const QString& text) {
    auto* combo = ControlAs<QComboBox>(comboId);
    if (!combo) return -1;
    const ControlTemplate* row = dialogTemplate->Find(comboId);
    const QString item = row && row->Has(ControlStyle::Uppercase) ? UpperAsciiLetters(text) : text;
    int index = combo->count();
    if (row && row->Has(ControlStyle::Sorted)) {
        index = 0;
        while (index < combo->count() &&
               QString::compare(combo->itemText(index), item, Qt::CaseInsensitive) <= 0)
            ++index;
    }
    const int current = combo->currentIndex();
    combo->insertItem(index, item);
    // Inserting into an empty list must not select the new item.
    if (current < 0) combo->setCurrentIndex(-1);
    return index;
}

int Dialog::FindStringPrefix(const QComboBox& combo, int startAfter, const QString& prefix) {
    const int count = combo.count();
    if (prefix.isEmpty() || count == 0) return -1;
    const int start = startAfter < 0 || startAfter >= count ? 0 : startAfter + 1;
    for (int k = 0; k < count; ++k) {
        const int index = (start + k) % count;
        if (combo.itemText(index).startsWith(prefix, Qt::CaseInsensitive)) return index;
    }
    return -1;
}

int Dialog::SelectStringPrefix(int comboId, int startAfter, const QString& prefix) {
    auto* combo = ControlAs<QComboBox>(comboId);
    if (!combo) return -1;
    const int index = FindStringPrefix(*combo, startAfter, prefix);
    if (index >= 0) combo->setCurrentIndex(index);
    return index;
}

// ---- Data exchange

void Dialog::AddBinding(Binding binding) {
    if (!Control(binding.controlId)) qFatal("binding to missing control %d", binding.controlId);
    bindings.push_back(binding);
}

void Dialog::BindInt(int controlId, int& field) {
    AddBinding({BindingKind::Int, controlId, &field});
}

void Dialog::BindInt(int controlId, int& field, int minimum, int maximum) {
    AddBinding({BindingKind::IntRange, controlId, &field, nullptr, nullptr, minimum, maximum});
}

void Dialog::BindUnsigned(int controlId, uint32_t& field) {
    AddBinding({BindingKind::Unsigned, controlId, nullptr, &field});
}

void Dialog::BindUnsigned(int controlId, uint32_t& field, uint32_t maximum) {
    AddBinding({BindingKind::UnsignedRange, controlId, nullptr, &field, nullptr, 0, maximum});
}

void Dialog::BindText(int controlId, std::string& field) {
    AddBinding({BindingKind::Text, controlId, nullptr, nullptr, &field});
}

void Dialog::BindComboText(int controlId, std::string& field) {
    AddBinding({BindingKind::ComboText, controlId, nullptr, nullptr, &field});
}

void Dialog::BindComboIndex(int controlId, int& field) {
    AddBinding({BindingKind::ComboIndex, controlId, &field});
}

void Dialog::BindCheck(int controlId, int& field) {
    AddBinding({BindingKind::Check, controlId, &field});
}

void Dialog::BindRadio(int firstControlId, int& field) {
    AddBinding({BindingKind::Radio, firstControlId, &field});
}

std::vector<int> Dialog::RadioGroup(int firstControlId) const {
    std::vector<int> group;
    const auto& controls = dialogTemplate->controls;
    for (auto it = controls.begin(); it != controls.end(); ++it) {
        if (it->id != firstControlId) continue;
        for (auto member = it; member != controls.end() && member->kind == ControlKind::RadioButton;
             ++member) {
            if (member != it && member->Has(ControlStyle::GroupStart)) break;
            group.push_back(member->id);
        }
        break;
    }
    return group;
}

bool Dialog::UpdateData(bool save) {
    for (const Binding& binding : bindings) {
        if (!(save ? Save(binding) : Load(binding))) return false;
    }
    return true;
}

bool Dialog::Load(const Binding& b) {
    QWidget* widget = Control(b.controlId);
    switch (b.kind) {
        case BindingKind::Int:
        case BindingKind::IntRange:
            SetItemText(b.controlId, QString::number(*b.intField));
            break;
        case BindingKind::Unsigned:
        case BindingKind::UnsignedRange:
            SetItemText(b.controlId, QString::number(*b.unsignedField));
            break;
        case BindingKind::Text:
            SetItemText(b.controlId, FromGbk(*b.textField));
            break;
        case BindingKind::ComboText:
            if (SelectStringPrefix(b.controlId, -1, FromGbk(*b.textField)) < 0)
                SetItemText(b.controlId, FromGbk(*b.textField));
            break;
        case BindingKind::ComboIndex: {
            auto* combo = static_cast<QComboBox*>(widget);
            combo->setCurrentIndex(*b.intField >= 0 && *b.intField < combo->count() ? *b.intField
                                                                                    : -1);
            break;
        }
        case BindingKind::Check:
            if (auto* box = qobject_cast<QCheckBox*>(widget)) {
                box->setTristate(*b.intField == 2 || box->isTristate());
                box->setCheckState(*b.intField == 1   ? Qt::Checked
                                   : *b.intField == 2 ? Qt::PartiallyChecked
                                                      : Qt::Unchecked);
            }
            break;
        case BindingKind::Radio: {
            const std::vector<int> group = RadioGroup(b.controlId);
            for (size_t i = 0; i < group.size(); ++i) {
                auto* radio = ControlAs<QRadioButton>(group[i]);
                // An exclusive group refuses to uncheck its checked button.
                const bool exclusive = radio->group() && radio->group()->exclusive();
                if (exclusive) radio->group()->setExclusive(false);
                radio->setChecked(static_cast<int>(i) == *b.intField);
                if (exclusive) radio->group()->setExclusive(true);
            }
            break;
        }
    }
    return true;
}

bool Dialog::Save(const Binding& b) {
    QWidget* widget = Control(b.controlId);
    switch (b.kind) {
        case BindingKind::Int: {
            const auto value = ParseIntText(ToGbk(ItemText(b.controlId)));
            if (!value) return Fail(b.controlId, std::string(kParseInt));
            *b.intField = *value;
            break;
        }
        case BindingKind::IntRange: {
            const auto value = ParseIntText(ToGbk(ItemText(b.controlId)));
            if (!value) return Fail(b.controlId, std::string(kParseInt));
            if (!InRange(b, *value)) return false;
            *b.intField = *value;
            break;
        }
        case BindingKind::Unsigned:
        case BindingKind::UnsignedRange: {
            const auto value = ParseUnsignedText(ToGbk(ItemText(b.controlId)));
            if (!value) return Fail(b.controlId, std::string(kParseUnsigned));
            if (b.kind == BindingKind::UnsignedRange && !InRange(b, *value)) return false;
            *b.unsignedField = *value;
            break;
        }
        case BindingKind::Text:
        case BindingKind::ComboText:
            *b.textField = ToGbk(ItemText(b.controlId));
            break;
        case BindingKind::ComboIndex:
            *b.intField = static_cast<QComboBox*>(widget)->currentIndex();
            break;
        case BindingKind::Check:
            if (auto* box = qobject_cast<QCheckBox*>(widget))
                *b.intField = box->checkState() == Qt::Checked            ? 1
                              : box->checkState() == Qt::PartiallyChecked ? 2
                                                                          : 0;
            break;
        case BindingKind::Radio: {
            const std::vector<int> group = RadioGroup(b.controlId);
            *b.intField = -1;
            for (size_t i = 0; i < group.size(); ++i)
                if (ControlAs<QRadioButton>(group[i])->isChecked())
                    *b.intField = static_cast<int>(i);
            break;
        }
    }
    return true;
}

bool Dialog::InRange(const Binding& b, int64_t value) {
    if (value >= b.minimum && value <= b.maximum) return true;
    const QString text = FromUtf8(kParseIntRange).arg(b.minimum).arg(b.maximum);
    return Fail(b.controlId, text.toStdString());
}

bool Dialog::Fail(int controlId, const std::string& message) {
    ShowMessageBox(message, {}, MessageIcon::Warning);
    QWidget* widget = Control(controlId);
    if (!widget) return false;
    widget->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) edit->selectAll();
    if (auto* multi = qobject_cast<QPlainTextEdit*>(widget)) multi->selectAll();
    return false;
}
