#include "ado/connection_strings.h"

#include "ado/dataaccess.h"

namespace ado {

std::string FoxproConnectionString(const ConnectionFields& f) {
  if (f.useDbcFile) {
    return "Provider=vfpoledb.1;" + ConnectionString::pair("Data Source", f.dbcFile) +
           "Collating Sequence=machine;";
  }
  return "Provider=vfpoledb.1;" + ConnectionString::pair("Data Source", f.freeTableFolder) +
         "Collating Sequence=general;";
}

std::string MySQLConnectionString(const ConnectionFields& f) {
  std::string cs = "DRIVER={MySQL ODBC 5.1 Driver};" + ConnectionString::pair("SERVER", f.server) +
                   ConnectionString::pair("PORT", f.port) + ConnectionString::pair("USER", f.user) +
                   ConnectionString::pair("DATABASE", f.database) +
                   ConnectionString::pair("PASSWORD", f.password);
  // Keys the user stored as connection-string text go on as written.
  const auto isSpace = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  std::string_view more = f.mysqlOptions;
  while (!more.empty() && isSpace(more.front())) more.remove_prefix(1);
  while (!more.empty() && isSpace(more.back())) more.remove_suffix(1);
  if (!more.empty()) {
    cs += more;
    if (more.back() != ';') cs += ';';
  }
  return cs;
}

}  // namespace ado
