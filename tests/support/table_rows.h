// Counting a table's rows through the data-access layer, for tests that check what a script left.
#pragma once

#include <string>

#include "ado/dataaccess.h"

namespace testing_support {

// Rows of a table, or -1 when the table cannot be read.
inline long long RowCount(ado::Connection& cn, const std::string& table) {
  try {
    ado::RecordSet rs(cn.execute("SELECT * FROM " + table));
    long long n = 0;
    for (; !rs.eof(); rs.moveNext()) ++n;
    return n;
  } catch (const ado::DataAccessError&) {
    return -1;
  }
}

}  // namespace testing_support
