// The system's text for an error number: the one place errno becomes words.
#pragma once

#include <string>

// UTF-8, never empty.
std::string SystemErrorText(int error);
