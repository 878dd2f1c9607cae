// The one error the protocol raises: a refused request, an exception reply or
// a response that fails its check. The caller shows what() to the user.
#pragma once

#include <stdexcept>
#include <string>

class ProtocolError : public std::runtime_error {
public:
    // text is UTF-8.
    explicit ProtocolError(const std::string& text) : std::runtime_error(text) {}
};
