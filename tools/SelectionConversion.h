// The receive pane's two selection conversions, as pure functions over the
// selected text, so that the pane only reads its selection and shows what
// they answer.
#pragma once

#include <string>
#include <string_view>

// The two conversions of a pane selection to the data conversion dialog.
// Texts are code page 936; the selection is taken whole (not yet trimmed).
struct SelectionConversion {
    std::string message;  // UTF-8; empty for none. Shown before the dialog opens.
    bool openDialog = false;
    std::string hexText;  // the dialog's hex data text when it opens
};

// The selected hex bytes as they are (trimmed); a count above 2 that is odd
// warns first. More than 100 bytes, or none, still opens the dialog.
SelectionConversion ConvertHexSelection(std::string_view selected);
// The dump of a Modbus ASCII frame's characters ("30 31" for "01"), each pair
// of decimal digits the code of one hex digit character, back to hex bytes.
SelectionConversion ConvertModbusAsciiSelection(std::string_view selected);

// A selection quoted in a message: its start, marked "..." where it is cut,
// never splitting a double-byte character. Code page 936 in and out.
std::string QuoteSelection(std::string_view text);
// Trims ASCII white space at both ends.
std::string_view TrimAsciiSpace(std::string_view text);
