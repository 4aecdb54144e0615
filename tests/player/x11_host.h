// An X server of the test's own (Xvfb on a display it picks itself) and a plain X window on it that behaves
// like the preview panel's native widget: it selects button, key, expose and structure events before the
// player gets it, paints itself magenta on every expose, and counts the clicks it receives.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace x11_test {

// Xvfb started with -displayfd; DISPLAY names it while the object lives. SDL binds its video to one display
// per process, so the tests of a process share one screen (Screen()).
class VirtualScreen {
 public:
  VirtualScreen() {
    int fds[2];
    if (::pipe(fds) != 0) return;
    const std::string fd = std::to_string(fds[1]);  // made before fork: the child only calls what is safe
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // gone with the test, also when it aborts
      ::close(fds[0]);
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
               "-noreset", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    std::string number;
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n')
      number += c;
    ::close(fds[0]);
    if (number.empty()) return;
    display_ = ":" + number;
    ::setenv("DISPLAY", display_.c_str(), 1);
  }
  ~VirtualScreen() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  VirtualScreen(const VirtualScreen&) = delete;
  VirtualScreen& operator=(const VirtualScreen&) = delete;
  const std::string& Display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

inline const VirtualScreen& Screen() {
  static const VirtualScreen screen;
  return screen;
}

struct Rgb {
  int Red = -1;
  int Green = -1;
  int Blue = -1;
};

class HostWindow {
 public:
  static constexpr std::uint32_t kMagenta = 0xFF00FF;

  HostWindow(int width, int height) {
    connection_ = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection_) != 0) return;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    window_ = xcb_generate_id(connection_);
    const std::uint32_t mask = XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK;
    const std::uint32_t values[] = {kMagenta, XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_KEY_PRESS |
                                                  XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    const xcb_void_cookie_t created =
        xcb_create_window_checked(connection_, XCB_COPY_FROM_PARENT, window_, screen->root, 0, 0,
                                  static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height), 0,
                                  XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, mask, values);
    gc_ = xcb_generate_id(connection_);
    const std::uint32_t foreground[] = {kMagenta};
    xcb_create_gc(connection_, gc_, window_, XCB_GC_FOREGROUND, foreground);
    xcb_map_window(connection_, window_);
    if (xcb_generic_error_t* error = xcb_request_check(connection_, created)) {
      std::free(error);
      window_ = 0;
      return;
    }
    width_ = width;
    height_ = height;
    // Mapped and exposed once before the player comes (a generous bound: the X server may be slow to start
    // on a busy machine).
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (exposures_ == 0 && std::chrono::steady_clock::now() < end) {
      Serve();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  ~HostWindow() {
    if (connection_ != nullptr) xcb_disconnect(connection_);
  }
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;

  bool Valid() const { return window_ != 0 && exposures_ > 0; }
  std::uint32_t Id() const { return window_; }

  // Handles what has arrived: every expose is painted over in magenta, as a host that paints itself does.
  void Serve() {
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
      switch (event->response_type & 0x7F) {
        case XCB_EXPOSE: {
          ++exposures_;
          const auto* expose = reinterpret_cast<const xcb_expose_event_t*>(event);
          const xcb_rectangle_t area{static_cast<std::int16_t>(expose->x),
                                     static_cast<std::int16_t>(expose->y), expose->width, expose->height};
          xcb_poly_fill_rectangle(connection_, window_, gc_, 1, &area);
          break;
        }
        case XCB_BUTTON_PRESS:
          ++clicks_;
          break;
        case XCB_KEY_PRESS:
          ++keys_;
          break;
        case 0:
          ++errors_;
          break;
        default:
          break;
      }
      std::free(event);
    }
    xcb_flush(connection_);
  }
  int Clicks() const { return clicks_; }
  int Keys() const { return keys_; }
  int Errors() const { return errors_; }

  void Resize(int width, int height) {
    const std::uint32_t size[] = {static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)};
    xcb_configure_window(connection_, window_, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, size);
    xcb_flush(connection_);
    width_ = width;
    height_ = height;
  }
  // Paints the whole window magenta now, as a host repainting its widget does.
  void PaintAll() {
    const xcb_rectangle_t area{0, 0, static_cast<std::uint16_t>(width_), static_cast<std::uint16_t>(height_)};
    xcb_poly_fill_rectangle(connection_, window_, gc_, 1, &area);
    xcb_flush(connection_);
  }

  // Clears the window (a child of ours too) to its background and sends its owner an exposure, as the
  // server does when a window covering it goes away.
  void Expose(std::uint32_t window) {
    xcb_clear_area(connection_, 1, window, 0, 0, 0, 0);
    xcb_flush(connection_);
  }

  // The colour on screen at (x, y) of the window, children included.
  Rgb Pixel(int x, int y) {
    xcb_get_image_cookie_t cookie =
        xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, window_, static_cast<std::int16_t>(x),
                      static_cast<std::int16_t>(y), 1, 1, ~0U);
    xcb_generic_error_t* error = nullptr;
    xcb_get_image_reply_t* reply = xcb_get_image_reply(connection_, cookie, &error);
    Rgb rgb;
    if (reply != nullptr && xcb_get_image_data_length(reply) >= 4) {
      const std::uint8_t* data = xcb_get_image_data(reply);  // 24-bit depth: B, G, R, unused
      rgb = Rgb{data[2], data[1], data[0]};
    }
    std::free(reply);
    std::free(error);
    return rgb;
  }

  // The event masks every client together has selected on the window, and those of its children.
  std::uint32_t AllEventMasks(std::uint32_t window) {
    xcb_get_window_attributes_reply_t* reply =
        xcb_get_window_attributes_reply(connection_, xcb_get_window_attributes(connection_, window), nullptr);
    const std::uint32_t masks = reply != nullptr ? reply->all_event_masks : 0;
    std::free(reply);
    return masks;
  }
  std::vector<std::uint32_t> Children() {
    std::vector<std::uint32_t> children;
    xcb_query_tree_reply_t* reply =
        xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window_), nullptr);
    if (reply == nullptr) return children;
    const xcb_window_t* list = xcb_query_tree_children(reply);
    children.assign(list, list + xcb_query_tree_children_length(reply));
    std::free(reply);
    return children;
  }

 private:
  xcb_connection_t* connection_ = nullptr;
  xcb_window_t window_ = 0;
  xcb_gcontext_t gc_ = 0;
  int width_ = 0;
  int height_ = 0;
  int exposures_ = 0;
  int clicks_ = 0;
  int keys_ = 0;
  int errors_ = 0;
};

}  // namespace x11_test
