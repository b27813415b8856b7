// The failure the program's own code raises, and the one way a caught exception is described to
// the user. Qt Core only: the transfers throw it without any window.
#pragma once

#include <QString>
#include <stdexcept>
#include <string>

namespace platform {

// A failure raised by the program's own code, carrying a message for the user (UTF-8).
class Error : public std::runtime_error {
 public:
  explicit Error(const QString& message) : std::runtime_error(message.toStdString()) {}
  explicit Error(const std::string& message) : std::runtime_error(message) {}
};

// The description of the exception being handled (call inside a catch block): the message of a
// std::exception as UTF-8, or a generic text for anything else.
QString CurrentExceptionDescription();

}  // namespace platform
