// The preview player measured from the outside, on an X server (bench/player.sh runs it under Xvfb).
//
//   preview_player first-picture FILE WIDTH HEIGHT RRGGBB [prepared]
//     Binds the player's libraries, then twice (the first and a second file opened by the process): makes a
//     plain X window of WIDTH x HEIGHT (the host's picture area), calls TFFPlayer::Open on it and reads a few
//     of the window's pixels back from the server every 2 ms until they show the colour RRGGBB. Prints
//     "load_ms open_ms first_ms open2_ms first2_ms": binding the libraries, the Open call, and from the Open
//     call to the colour on screen, for each of the two opens. With "prepared", the first window is handed
//     to TFFPlayer::PrepareDisplay 1 s before the first Open, as the window does when its preview is shown.
//   preview_player tool-first-picture WIDTH HEIGHT RRGGBB PROGRAM ARGUMENTS...
//     Starts PROGRAM (the ffplay tool) and reads the pixels of the top-level window it makes (found by its
//     _NET_WM_PID) the same way. Prints "first_ms", from just before the start to the colour on screen.
//   preview_player play FILE WIDTH HEIGHT SECONDS
//     Opens FILE in a WIDTH x HEIGHT window and plays it until the reported position reaches SECONDS, then
//     stops. Prints "played_ms position_ms" and, on stderr, the CPU time of each thread just before the stop.
//
// Exit status 1 when the colour does not appear within 10 s or the file does not play.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "player/ff_player.h"
#include "runtime/library_loader.h"
#include "runtime/main_thread.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPollMilliseconds = 2;
// Per channel: the YUV 4:2:0 coding and the renderer's conversion back to RGB shift the colour a little.
constexpr int kColourTolerance = 64;
constexpr auto kGiveUp = std::chrono::seconds(10);

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct FreeDeleter {
  void operator()(void* pointer) const { std::free(pointer); }
};
template <class T>
using Reply = std::unique_ptr<T, FreeDeleter>;

struct ConnectionDeleter {
  void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};

struct Rgb {
  int Red = 0;
  int Green = 0;
  int Blue = 0;
};

std::optional<Rgb> ParseColour(const std::string& text) {
  if (text.size() != 6) return std::nullopt;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &end, 16);
  if (end != text.c_str() + 6) return std::nullopt;
  return Rgb{static_cast<int>((value >> 16) & 0xFF), static_cast<int>((value >> 8) & 0xFF),
             static_cast<int>(value & 0xFF)};
}

class XConnection {
 public:
  XConnection() : connection_(xcb_connect(nullptr, nullptr)) {
    if (xcb_connection_has_error(connection_.get()) != 0) throw std::runtime_error("no X server ($DISPLAY)");
    screen_ = xcb_setup_roots_iterator(xcb_get_setup(connection_.get())).data;
  }
  xcb_connection_t* Get() const { return connection_.get(); }
  xcb_screen_t& Screen() const { return *screen_; }

  xcb_atom_t Atom(const char* name) const {
    const Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        Get(), xcb_intern_atom(Get(), 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr));
    return reply != nullptr ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
  }

  // True when every point of the window shows the colour. Points the server cannot read (the window is not
  // viewable yet, or gone) count as not showing it.
  bool Shows(xcb_window_t window, const std::vector<std::pair<int, int>>& points, const Rgb& colour) const {
    std::vector<xcb_get_image_cookie_t> cookies;
    cookies.reserve(points.size());
    for (const auto& [x, y] : points)
      cookies.push_back(xcb_get_image(Get(), XCB_IMAGE_FORMAT_Z_PIXMAP, window, static_cast<std::int16_t>(x),
                                      static_cast<std::int16_t>(y), 1, 1, ~0U));
    bool all = true;
    for (const xcb_get_image_cookie_t cookie : cookies) {
      xcb_generic_error_t* raw_error = nullptr;
      const Reply<xcb_get_image_reply_t> reply(xcb_get_image_reply(Get(), cookie, &raw_error));
      const Reply<xcb_generic_error_t> error(raw_error);
      if (reply == nullptr || xcb_get_image_data_length(reply.get()) < 3) {
        all = false;
        continue;
      }
      // 24-bit depth in 32-bit pixels, least significant byte first: blue, green, red.
      const std::uint8_t* pixel = xcb_get_image_data(reply.get());
      if (std::abs(pixel[2] - colour.Red) > kColourTolerance ||
          std::abs(pixel[1] - colour.Green) > kColourTolerance ||
          std::abs(pixel[0] - colour.Blue) > kColourTolerance)
        all = false;
    }
    return all;
  }

 private:
  std::unique_ptr<xcb_connection_t, ConnectionDeleter> connection_;
  xcb_screen_t* screen_ = nullptr;
};

// A plain top-level window with a black background, mapped and exposed: the host's picture area.
class HostWindow {
 public:
  HostWindow(const XConnection& x, int width, int height) : x_(x), id_(xcb_generate_id(x.Get())) {
    const std::uint32_t values[] = {x.Screen().black_pixel, XCB_EVENT_MASK_EXPOSURE};
    xcb_create_window(x.Get(), XCB_COPY_FROM_PARENT, id_, x.Screen().root, 0, 0,
                      static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height), 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, x.Screen().root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
    xcb_map_window(x.Get(), id_);
    xcb_flush(x.Get());
    for (;;) {
      const Reply<xcb_generic_event_t> event(xcb_wait_for_event(x.Get()));
      if (event == nullptr) throw std::runtime_error("the X connection broke");
      if ((event->response_type & 0x7F) == XCB_EXPOSE) break;
    }
  }
  ~HostWindow() {
    xcb_destroy_window(x_.Get(), id_);
    xcb_flush(x_.Get());
  }
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;
  xcb_window_t Id() const { return id_; }

 private:
  const XConnection& x_;
  xcb_window_t id_;
};

// Five points around the centre, inside the fitted picture at every aspect the benchmark uses.
std::vector<std::pair<int, int>> SamplePoints(int width, int height) {
  const int cx = width / 2;
  const int cy = height / 2;
  const int dx = width / 5;
  const int dy = height / 5;
  return {{cx, cy}, {cx - dx, cy - dy}, {cx + dx, cy - dy}, {cx - dx, cy + dy}, {cx + dx, cy + dy}};
}

// Serves the main-thread queue (the player's events) while it polls; returns the milliseconds since start
// when the colour appeared, or nothing after the give-up time.
std::optional<double> PollForColour(const XConnection& x, xcb_window_t window, int width, int height,
                                    const Rgb& colour, Clock::time_point start) {
  const std::vector<std::pair<int, int>> points = SamplePoints(width, height);
  while (Clock::now() - start < kGiveUp) {
    runtime::ServeQueuedCalls();
    if (x.Shows(window, points, colour)) return MillisecondsSince(start);
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMilliseconds));
  }
  return std::nullopt;
}

bool LoadLibraries(player::TFFPlayer& player) {
  if (player.LoadMediaLibraries(std::filesystem::path())) return true;
  std::fprintf(stderr, "the media libraries did not load: %s\n", player.LastErrorText().c_str());
  return false;
}

int FirstPicture(const std::string& file, int width, int height, const Rgb& colour, bool prepared) {
  XConnection x;
  runtime::BindMainThread();
  player::TFFPlayer player;
  const Clock::time_point load_start = Clock::now();
  if (!LoadLibraries(player)) return 1;
  const double load_ms = MillisecondsSince(load_start);
  std::printf("%.1f", load_ms);
  for (int open = 0; open < 2; ++open) {
    HostWindow window(x, width, height);
    if (prepared && open == 0) {
      player.PrepareDisplay(player::TPlayerHost{window.Id(), width, height, nullptr});
      std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    const Clock::time_point start = Clock::now();
    const bool opened = player.Open(file, player::TPlayerHost{window.Id(), width, height, nullptr}, false);
    const double open_ms = MillisecondsSince(start);
    if (!opened) {
      std::fprintf(stderr, "\nOpen failed: %s\n", player.LastErrorText().c_str());
      return 1;
    }
    const std::optional<double> first_ms = PollForColour(x, window.Id(), width, height, colour, start);
    player.Stop(true);
    if (!first_ms.has_value()) {
      std::fprintf(stderr, "\nthe picture's colour did not appear within 10 s\n");
      return 1;
    }
    std::printf(" %.1f %.1f", open_ms, *first_ms);
  }
  std::printf("\n");
  return 0;
}

// The top-level windows whose _NET_WM_PID is the process.
std::vector<xcb_window_t> WindowsOf(const XConnection& x, xcb_atom_t pid_atom, pid_t pid) {
  std::vector<xcb_window_t> found;
  const Reply<xcb_query_tree_reply_t> tree(
      xcb_query_tree_reply(x.Get(), xcb_query_tree(x.Get(), x.Screen().root), nullptr));
  if (tree == nullptr) return found;
  const xcb_window_t* children = xcb_query_tree_children(tree.get());
  const int count = xcb_query_tree_children_length(tree.get());
  for (int i = 0; i < count; ++i) {
    const Reply<xcb_get_property_reply_t> property(xcb_get_property_reply(
        x.Get(), xcb_get_property(x.Get(), 0, children[i], pid_atom, XCB_ATOM_CARDINAL, 0, 1), nullptr));
    if (property != nullptr && xcb_get_property_value_length(property.get()) == 4 &&
        *static_cast<const std::uint32_t*>(xcb_get_property_value(property.get())) ==
            static_cast<std::uint32_t>(pid))
      found.push_back(children[i]);
  }
  return found;
}

int ToolFirstPicture(int width, int height, const Rgb& colour, std::vector<std::string> command) {
  XConnection x;
  const xcb_atom_t pid_atom = x.Atom("_NET_WM_PID");
  std::vector<char*> arguments;
  for (std::string& argument : command)
    arguments.push_back(argument.data());
  arguments.push_back(nullptr);
  const std::vector<std::pair<int, int>> points = SamplePoints(width, height);
  pid_t pid = 0;
  const Clock::time_point start = Clock::now();
  if (::posix_spawnp(&pid, arguments[0], nullptr, nullptr, arguments.data(), environ) != 0) {
    std::fprintf(stderr, "could not start %s\n", arguments[0]);
    return 1;
  }
  std::optional<double> first_ms;
  while (!first_ms.has_value() && Clock::now() - start < kGiveUp) {
    for (const xcb_window_t window : WindowsOf(x, pid_atom, pid))
      if (x.Shows(window, points, colour)) first_ms = MillisecondsSince(start);
    if (!first_ms.has_value()) std::this_thread::sleep_for(std::chrono::milliseconds(kPollMilliseconds));
  }
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!first_ms.has_value()) {
    std::fprintf(stderr, "the picture's colour did not appear in %s's window within 10 s\n", arguments[0]);
    return 1;
  }
  std::printf("%.1f\n", *first_ms);
  return 0;
}

// "tid name user_ms system_ms" for every thread of this process.
void PrintThreadTimes() {
  const double tick_ms = 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream in(task.path() / "stat");
    std::string line;
    std::getline(in, line);
    const std::size_t open = line.find('(');
    const std::size_t close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 2));
    std::string field;
    std::vector<std::string> fields;
    while (rest >> field)
      fields.push_back(field);
    // After the name: state is field 3 of stat, utime 14 and stime 15.
    if (fields.size() < 13) continue;
    std::fprintf(stderr, "thread %s %s user %.0f ms system %.0f ms\n", task.path().filename().c_str(),
                 line.substr(open + 1, close - open - 1).c_str(), std::stod(fields[11]) * tick_ms,
                 std::stod(fields[12]) * tick_ms);
  }
}

int Play(const std::string& file, int width, int height, double seconds) {
  XConnection x;
  runtime::BindMainThread();
  player::TFFPlayer player;
  if (!LoadLibraries(player)) return 1;
  std::atomic<std::int64_t> position{-1};
  player.SetOnPosition([&position](player::TCustomPlayer&, std::int64_t time) { position = time; });
  HostWindow window(x, width, height);
  const Clock::time_point start = Clock::now();
  if (!player.Open(file, player::TPlayerHost{window.Id(), width, height, nullptr}, false)) {
    std::fprintf(stderr, "Open failed: %s\n", player.LastErrorText().c_str());
    return 1;
  }
  const auto target = static_cast<std::int64_t>(seconds * 1e6);
  const auto give_up = std::chrono::duration<double>(seconds + 10);
  while (position < target && Clock::now() - start < give_up) {
    runtime::ServeQueuedCalls();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const double played_ms = MillisecondsSince(start);
  PrintThreadTimes();
  player.Stop(true);
  if (position < target) {
    std::fprintf(stderr, "the position reached only %.3f s\n", static_cast<double>(position) / 1e6);
    return 1;
  }
  std::printf("%.0f %.0f\n", played_ms, static_cast<double>(position) / 1e3);
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: preview_player first-picture FILE WIDTH HEIGHT RRGGBB [prepared]\n"
               "       preview_player tool-first-picture WIDTH HEIGHT RRGGBB PROGRAM ARGUMENTS...\n"
               "       preview_player play FILE WIDTH HEIGHT SECONDS\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  try {
    if ((arguments.size() == 5 || (arguments.size() == 6 && arguments[5] == "prepared")) &&
        arguments[0] == "first-picture") {
      const std::optional<Rgb> colour = ParseColour(arguments[4]);
      if (!colour.has_value()) return Usage();
      return FirstPicture(arguments[1], std::stoi(arguments[2]), std::stoi(arguments[3]), *colour,
                          arguments.size() == 6);
    }
    if (arguments.size() >= 5 && arguments[0] == "tool-first-picture") {
      const std::optional<Rgb> colour = ParseColour(arguments[3]);
      if (!colour.has_value()) return Usage();
      return ToolFirstPicture(std::stoi(arguments[1]), std::stoi(arguments[2]), *colour,
                              std::vector<std::string>(arguments.begin() + 4, arguments.end()));
    }
    if (arguments.size() == 5 && arguments[0] == "play")
      return Play(arguments[1], std::stoi(arguments[2]), std::stoi(arguments[3]), std::stod(arguments[4]));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "preview_player: %s\n", error.what());
    return 1;
  }
  return Usage();
}
