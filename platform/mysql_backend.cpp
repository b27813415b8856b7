#include "platform/dataaccess.h"

namespace ado {
// Scaffolding until the Connector/C backend lands.
std::unique_ptr<Backend> makeMySqlBackend() {
  throw DataAccessError("The MySQL backend is not built yet.");
}
}  // namespace ado
