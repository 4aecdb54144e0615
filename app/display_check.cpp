#include "app/display_check.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <string>

namespace app {
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

}  // namespace

std::string DisplayProblem() {
  const std::string platform = Environment("QT_QPA_PLATFORM");
  // A platform chosen by the user (offscreen, wayland, vnc) is Qt's to check.
  if (!platform.empty() && platform.rfind("xcb", 0) != 0) return {};
  const std::string display = Environment("DISPLAY");
  if (display.empty()) {
    if (platform.empty() && !Environment("WAYLAND_DISPLAY").empty()) return {};
    return "no display is available (DISPLAY is not set)";
  }
  xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
  const bool reachable = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);
  if (!reachable) return "the display \"" + display + "\" cannot be reached";
  return {};
}

}  // namespace app
