// The engine's one exception type. what() is a message meant for the user, worded the way
// FoxPro words its own ("File 'orders.dbf' does not exist."), with the table, record or field
// it concerns.
#pragma once

#include <stdexcept>
#include <string>

namespace vfp {

class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace vfp
