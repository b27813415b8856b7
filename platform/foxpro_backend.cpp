#include "platform/dataaccess.h"

namespace ado {
// Scaffolding until the FoxPro engine's backend lands.
std::unique_ptr<Backend> makeFoxProBackend() {
  throw DataAccessError("The FoxPro backend is not built yet.");
}
}  // namespace ado
