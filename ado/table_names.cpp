#include "ado/table_names.h"

namespace ado {

std::vector<std::string> FoxproTableNames(const std::string& connectionString) {
  Connection cn;
  cn.open(connectionString);
  RecordSet rs(cn.openSchema(adSchemaTables));
  const int nameColumn = rs.fieldIndex("TABLE_NAME");
  const int typeColumn = rs.fieldIndex("TABLE_TYPE");
  std::vector<std::string> names;
  for (; !rs.eof(); rs.moveNext()) {
    // Views and system tables are not tables to send or delete; the type must match exactly.
    if (rs.value(typeColumn).toText() == "TABLE") names.push_back(rs.value(nameColumn).toText());
  }
  rs.close();
  cn.close();
  return names;
}

std::vector<std::string> MySqlTableNames(const std::string& connectionString,
                                         const Waiting& waiting) {
  Connection cn;
  cn.setWaiting(waiting);
  cn.open(connectionString);
  RecordSet rs(cn.execute("SHOW TABLES;"));
  std::vector<std::string> names;
  for (; rs.state() == adStateOpen && !rs.eof(); rs.moveNext())
    names.push_back(rs.value(0).toText());
  rs.close();
  cn.close();
  return names;
}

}  // namespace ado
