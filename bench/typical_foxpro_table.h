// The FoxPro free table the copy benchmarks read: ten typical columns (int, two varchars,
// decimal, date, datetime, int, double, numeric, a memo with quotes and a line break), made
// through the engine in `folder` as bench.DBF.
#pragma once

#include <memory>
#include <string>

#include "vfp/database.h"

namespace bench {

inline void MakeTypicalFoxproTable(const std::string& folder, long rows) {
  vfp::Session s(std::make_shared<vfp::FolderCatalog>(folder));
  s.execute(
      "CREATE TABLE bench (id I, name V(20), city V(40), amount N(12,2), day D, stamp T, qty I, "
      "ratio B, flag N(3,0), note M)");
  for (long r = 0; r < rows; ++r) {
    std::string n = std::to_string(r);
    s.execute("INSERT INTO bench VALUES (" + n + ", 'Customer " + std::to_string(r % 977) +
              "', 'Berlin', '" + std::to_string(r % 100000) + ".25', {^2021-08-31}, " +
              "{^2021-08-31 12:34:56}, " + std::to_string(r % 50) + ", " + std::to_string(r) +
              ".5, " + std::to_string(r % 128) +
              ", 'A sixty character note, it''s \"quoted\"' + CHR(13) + CHR(10) + 'and broken.')");
  }
  s.flush();
}

}  // namespace bench
