#include "engine/amr_nb_encoder.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <stdexcept>

#include "engine/ffmpeg_exception.h"
#include "runtime/library_loader.h"
#include "runtime/main_thread.h"

namespace engine {
namespace {

// Indexed by the library's mode number (MR475 .. MR122).
constexpr std::array<std::int64_t, AmrNbEncoder::kModeCount> kModeBitRates = {4750, 5150, 5900,  6700,
                                                                              7400, 7950, 10200, 12200};

// The largest storage-format frame is 12.2k speech: one header byte and 244 bits. The library writes the
// whole frame without being told the room it has, so the buffer leaves a margin.
constexpr std::size_t kFrameBufferBytes = 64;

// Binds the library through the process's loader. The loader keeps no lock of its own and binds on the main
// thread (other sets, such as the player's, may be loading there at the same time), so the work is handed to
// the main thread; the mutex covers the case of no main thread, where every caller runs it in place.
bool BindLibrary(std::string& error_text) {
  const std::string library = runtime::LibraryItem(runtime::lkOpenCoreAmrNb).SoName;
  bool bound = false;
  // Stays when the main thread serves no more calls (the program is ending) and the call is dropped.
  error_text = "Load library " + library + " error: the program is shutting down";
  runtime::RunOnMainThread([&] {
    static std::mutex bind_lock;
    std::lock_guard lock(bind_lock);
    runtime::TFFmpegLoader& loader = runtime::FFmpegLoader();
    bound =
        loader.LibraryLoaded(runtime::lkOpenCoreAmrNb) || loader.LoadLibraries({runtime::lkOpenCoreAmrNb});
    error_text = bound ? std::string() : loader.LastError();
  });
  return bound;
}

}  // namespace

int AmrNbEncoder::ModeForBitRate(std::int64_t bit_rate) {
  int mode = 0;
  while (mode + 1 < kModeCount && kModeBitRates[static_cast<std::size_t>(mode + 1)] <= bit_rate)
    ++mode;
  return mode;
}

std::int64_t AmrNbEncoder::BitRateOfMode(int mode) {
  if (mode < 0 || mode >= kModeCount) throw std::out_of_range("no AMR-NB mode " + std::to_string(mode));
  return kModeBitRates[static_cast<std::size_t>(mode)];
}

void AmrNbEncoder::StateDeleter::operator()(void* state) const {
  // A state outlives its library only when a test unloads it; the state's memory then went with the module.
  if (const auto release = runtime::amrnb().Encoder_Interface_exit) release(state);
}

AmrNbEncoder::~AmrNbEncoder() = default;

bool AmrNbEncoder::Open(std::int64_t bit_rate, bool dtx) {
  state_.reset();
  mode_ = -1;
  if (!BindLibrary(error_text_)) return false;
  void* state = runtime::amrnb().Encoder_Interface_init(dtx ? 1 : 0);
  if (state == nullptr) {
    error_text_ = std::string("Encoder_Interface_init@") +
                  runtime::LibraryItem(runtime::lkOpenCoreAmrNb).SoName +
                  " error: the encoder state could not be allocated";
    return false;
  }
  state_.reset(state);
  mode_ = ModeForBitRate(bit_rate);
  return true;
}

std::vector<std::uint8_t> AmrNbEncoder::EncodeFrame(const std::int16_t* samples) {
  if (!state_) throw std::logic_error("AmrNbEncoder::EncodeFrame before a successful Open");
  // The library filters and scales the speech in place, whatever its declaration says; it gets a copy so that
  // the caller's samples stay as they were.
  std::array<std::int16_t, kFrameSamples> speech;
  std::copy_n(samples, kFrameSamples, speech.begin());
  std::array<unsigned char, kFrameBufferBytes> frame{};
  const int size = runtime::amrnb().Encoder_Interface_Encode(state_.get(), static_cast<::Mode>(mode_),
                                                             speech.data(), frame.data(), 0);
  if (size < 1 || static_cast<std::size_t>(size) > frame.size())
    throw FFmpegException("Audio encoding failed");
  return {frame.begin(), frame.begin() + size};
}

}  // namespace engine
