// Names of the data-access field type codes. Both transfer directions choose target column
// types by searching words ("char", "int", "date", ...) in the lower-cased name, so the names
// must be spelled exactly as the type enumeration spells them.
#pragma once

#include <cstdint>
#include <string>

namespace Datatype {

// The enumeration name of a field type code ("adVarChar" for 200), or the empty text for a
// code that has no name (the enumeration's array flag 8192 among them).
std::string DataTypeName(std::int16_t code);

}  // namespace Datatype
