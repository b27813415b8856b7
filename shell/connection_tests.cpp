#include "shell/connection_tests.h"

#include "platform/connection_strings.h"
#include "ado/dataaccess.h"

namespace Foxpro {

bool CanConnectFoxpro() {
  try {
    ado::Connection cn;
    cn.setCursorLocation(ado::adUseServer);
    cn.open(FoxproConnectionString());
    return true;
  } catch (...) {
    return false;
  }
}

bool CanConnectMySQL(const ado::Waiting& waiting) {
  try {
    ado::Connection cn;
    cn.setWaiting(waiting);
    cn.open(MySQLConnectionString());
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace Foxpro
