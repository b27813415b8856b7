// The connection strings of the connection window's current fields, for the windows: they reach
// the fields through the application object, which the transfers themselves never use.
#include "core/connection_strings.h"
#include "core/error.h"
#include "platform/application.h"

namespace platform {

ConnectionFields CurrentConnectionFields() {
  auto& app = Application::current();
  if (!app.connectionFields) {
    throw Error(QStringLiteral("The connection window is not loaded."));
  }
  return app.connectionFields();
}

}  // namespace platform

std::string FoxproConnectionString() {
  return platform::FoxproConnectionString(platform::CurrentConnectionFields());
}

std::string MySQLConnectionString() {
  return platform::MySQLConnectionString(platform::CurrentConnectionFields());
}

int UnmarkedFoxproCodePage() {
  return platform::UnmarkedFoxproCodePage(platform::CurrentConnectionFields());
}
