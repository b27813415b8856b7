// What the FoxPro backend offers beyond the data-access contract, for the transfers that read a
// whole table and need every bit of speed: the engine's rows behind a record set, read straight
// from the record bytes, and the data-access value of an engine value.
//
//   ado::RecordSet rs;  rs.open("SELECT * FROM \"t\"", foxproConnection);
//   if (vfp::QueryResult* rows = ado::foxproResultOf(rs)) { ... rows->record() ... }
//
// Moving the record set moves the engine's rows with it; values read through the record set
// and through the engine agree (fromEngineValue is what the record set hands out).
#pragma once

#include "ado/dataaccess.h"

namespace vfp {
class QueryResult;
struct Value;
}  // namespace vfp

namespace ado {

// The engine's rows behind a record set opened on a FoxPro connection; nullptr for any other.
vfp::QueryResult* foxproResultOf(RecordSet& rs);
// The data-access value of an engine value, as the FoxPro record set hands it out.
Value fromEngineValue(const vfp::Value& v);

}  // namespace ado
