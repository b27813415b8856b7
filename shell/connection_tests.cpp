#include "shell/connection_tests.h"

#include "ado/dataaccess.h"
#include "core/connection_strings.h"
#include "platform/application.h"
#include "platform/ui.h"

namespace Foxpro {

bool OpenFoxpro(ado::Connection& cn) {
  try {
    cn.setCursorLocation(ado::adUseServer);
    cn.open(FoxproConnectionString());
    return true;
  } catch (...) {
    return false;
  }
}

bool OpenMySQL(ado::Connection& cn, const ado::Waiting& waiting) {
  try {
    cn.setWaiting(waiting);
    cn.open(MySQLConnectionString());
    return true;
  } catch (const platform::ProgramEnding&) {
    throw;
  } catch (...) {
    return false;
  }
}

bool CanConnectFoxpro() {
  try {
    ado::Connection cn;
    return OpenFoxpro(cn);
  } catch (...) {
    return false;
  }
}

bool CanConnectMySQL(const ado::Waiting& waiting) {
  try {
    ado::Connection cn;
    return OpenMySQL(cn, waiting);
  } catch (...) {
    return false;
  }
}

}  // namespace Foxpro
