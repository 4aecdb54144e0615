#include "player/x11_child_window.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>

namespace player {

namespace {

struct ReplyFree {
  void operator()(void* reply) const { std::free(reply); }
};
template <class T>
using Reply = std::unique_ptr<T, ReplyFree>;

std::string ErrorText(const char* operation, const xcb_generic_error_t& error) {
  return std::string(operation) + " failed: X error " + std::to_string(error.error_code);
}

}  // namespace

void XcbConnectionCloser::operator()(xcb_connection_t* connection) const {
  xcb_disconnect(connection);
}

bool TX11ChildWindow::Create(std::uint64_t host_window, int width, int height, std::string& error,
                             bool show) {
  Destroy();
  if (host_window == 0 || host_window > 0xFFFFFFFFU) {
    error = "the host window " + std::to_string(host_window) + " is no X window";
    return false;
  }
  // A connection in error still has to be disconnected: the owner takes it either way.
  XcbConnectionPtr connection(xcb_connect(nullptr, nullptr));
  if (xcb_connection_has_error(connection.get()) != 0) {
    error = "cannot connect to the X display";
    return false;
  }
  const auto host = static_cast<xcb_window_t>(host_window);
  xcb_generic_error_t* raw_error = nullptr;
  const Reply<xcb_get_geometry_reply_t> geometry(
      xcb_get_geometry_reply(connection.get(), xcb_get_geometry(connection.get(), host), &raw_error));
  const Reply<xcb_generic_error_t> geometry_error(raw_error);
  if (geometry == nullptr) {
    error =
        "the host window " + std::to_string(host_window) + " is no X window" +
        (geometry_error != nullptr ? " (X error " + std::to_string(geometry_error->error_code) + ")" : "");
    return false;
  }
  const xcb_window_t window = xcb_generate_id(connection.get());
  // Black where nothing is drawn yet; only exposures are selected, so every input event goes on to the host.
  const std::uint32_t value_mask = XCB_CW_BACK_PIXEL | XCB_CW_BORDER_PIXEL | XCB_CW_EVENT_MASK;
  const std::uint32_t values[] = {0, 0, XCB_EVENT_MASK_EXPOSURE};
  const xcb_void_cookie_t created = xcb_create_window_checked(
      connection.get(), XCB_COPY_FROM_PARENT, window, host, 0, 0,
      static_cast<std::uint16_t>(std::max(width, 1)), static_cast<std::uint16_t>(std::max(height, 1)), 0,
      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, value_mask, values);
  if (const Reply<xcb_generic_error_t> failed(xcb_request_check(connection.get(), created));
      failed != nullptr) {
    error = ErrorText("creating the picture window", *failed);
    return false;
  }
  // Waits until the server has done both, so SDL's own connection finds the window (the check of the
  // creation has waited for that already when the window stays hidden).
  if (const Reply<xcb_generic_error_t> failed(
          show ? xcb_request_check(connection.get(), xcb_map_window_checked(connection.get(), window))
               : nullptr);
      failed != nullptr) {
    xcb_destroy_window(connection.get(), window);
    xcb_flush(connection.get());
    error = ErrorText("showing the picture window", *failed);
    return false;
  }
  connection_ = std::move(connection);
  window_ = window;
  return true;
}

bool TX11ChildWindow::TakeExposed() {
  if (connection_ == nullptr) return false;
  bool exposed = false;
  while (const Reply<xcb_generic_event_t> event{xcb_poll_for_event(connection_.get())})
    exposed = exposed || (event->response_type & 0x7F) == XCB_EXPOSE;
  return exposed;
}

void TX11ChildWindow::Destroy() {
  if (connection_ == nullptr) return;
  // The host may have destroyed its window (and ours with it) already: the error reply is simply dropped.
  xcb_destroy_window(connection_.get(), window_);
  xcb_flush(connection_.get());
  connection_.reset();
  window_ = 0;
}

}  // namespace player
