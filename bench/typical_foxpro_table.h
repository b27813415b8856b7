// The FoxPro free table the copy benchmarks read, shaped like the users' own: the ten fields of
// the table users reported (I, C(40), V(80), N(12,2), D, T, I, B, L, M) and four more, so every
// field type a table usually holds is there: a float, currency, a binary character field and a
// nullable varchar. Every tenth date is blank, every fifth varchar NULL, the memo has quotes and
// a line break. Made through the engine in `source` (a folder, or a database container) as
// bench.DBF.
#pragma once

#include <memory>
#include <string>

#include "vfp/database.h"
#include "vfp/session.h"

namespace bench {

inline void MakeTypicalFoxproTable(const std::string& source, long rows) {
  vfp::Session s(vfp::openCatalog(source));
  s.execute(
      "CREATE TABLE bench (id I, name C(40), city V(80), amount N(12,2), day D, stamp T, qty I, "
      "ratio B, flag L, note M, rate F(10,4), cost Y, code C(4) NOCPTRANS, tag V(20) NULL)");
  static const char* const kHex = "0123456789ABCDEF";
  for (long r = 0; r < rows; ++r) {
    const std::string n = std::to_string(r);
    std::string code = "0h";
    for (int b = 0; b < 4; ++b) {
      const unsigned byte = unsigned(r >> (8 * b)) & 0xFF;
      code += kHex[byte >> 4];
      code += kHex[byte & 15];
    }
    s.execute("INSERT INTO bench VALUES (" + n + ", 'Customer " + std::to_string(r % 977) +
              "', 'Berlin, " + std::to_string(r % 100) + " Unter den Linden', '" +
              std::to_string(r % 100000) + ".25', " + (r % 10 ? "{^2021-08-31}" : "{}") + ", " +
              "{^2021-08-31 12:34:56}, " + std::to_string(r % 50) + ", " + n + ".5, " +
              (r % 2 ? ".T." : ".F.") +
              ", 'A sixty character note, it''s \"quoted\"' + CHR(13) + CHR(10) + 'and broken.', " +
              std::to_string(r % 1000) + ".125, '" + std::to_string(r % 5000) + ".1250', " + code +
              ", " + (r % 5 ? "'tag " + std::to_string(r % 31) + "'" : "NULL") + ")");
  }
  s.flush();
}

// The keys of such a table, made once its rows are in: in a container the primary key on id,
// in a free folder (which has no primary keys) a candidate tag on it; and a regular tag on name.
inline void AddTypicalKeys(const std::string& source, bool container) {
  vfp::Session s(vfp::openCatalog(source));
  s.execute(container ? "ALTER TABLE bench ADD PRIMARY KEY id TAG id"
                      : "INDEX ON id TAG id CANDIDATE");
  s.execute("USE bench");  // INDEX ON indexes the table in use
  s.execute("INDEX ON name TAG name");
  s.flush();
}

}  // namespace bench
