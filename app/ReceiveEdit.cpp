#include "app/ReceiveEdit.h"

#include "resources/DialogTemplate.h"

ReceiveEdit::ReceiveEdit(QWidget* parent)
    : EditControl(ControlStyle::Multiline | ControlStyle::VScroll | ControlStyle::WantReturn,
                  parent) {}

ReceiveEdit::~ReceiveEdit() = default;
