// AMR-NB encoding through libopencore-amrnb, which this generation's libavcodec lacks. The library is bound
// on first use, so a system without it runs every other conversion and fails only the jobs that ask for
// AMR-NB.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace engine {

class AmrNbEncoder {
 public:
  static constexpr int kSampleRate = 8000;
  static constexpr int kFrameSamples = 160;  // 20 ms
  static constexpr int kModeCount = 8;

  // The encoder's mode for a bit rate in bit/s: the highest of the eight modes (4750, 5150, 5900, 6700, 7400,
  // 7950, 10200, 12200) not above it, at least the lowest.
  static int ModeForBitRate(std::int64_t bit_rate);
  // Throws std::out_of_range for a mode outside 0..kModeCount-1.
  static std::int64_t BitRateOfMode(int mode);

  AmrNbEncoder() = default;
  ~AmrNbEncoder();
  AmrNbEncoder(const AmrNbEncoder&) = delete;
  AmrNbEncoder& operator=(const AmrNbEncoder&) = delete;
  AmrNbEncoder(AmrNbEncoder&&) noexcept = default;
  AmrNbEncoder& operator=(AmrNbEncoder&&) noexcept = default;

  // Binds libopencore-amrnb on first use (from the loader's library folder, else by soname) and creates a
  // fresh encoder state, releasing any earlier one. False with ErrorText() set when the library is missing or
  // refuses ("Load library <file> error: <reason>").
  //
  // Binding happens on the main thread (the loader's thread), so a worker calling this waits until the main
  // thread serves its queue: never call it while holding runtime::CodecLock() or anything else the main
  // thread may wait for.
  bool Open(std::int64_t bit_rate, bool dtx = false);

  // Encodes exactly kFrameSamples signed 16-bit mono samples into one frame of the storage format (a header
  // byte with the frame type, then the speech bits), as .amr files and 3GP "samr" tracks hold it. With DTX,
  // silent stretches give short SID or NO_DATA frames. Throws FFmpegException("Audio encoding failed") when
  // the library reports an error, std::logic_error before a successful Open.
  std::vector<std::uint8_t> EncodeFrame(const std::int16_t* samples);

  // The mode chosen by the last successful Open; -1 before.
  int Mode() const { return mode_; }
  const std::string& ErrorText() const { return error_text_; }

 private:
  struct StateDeleter {
    void operator()(void* state) const;
  };

  std::unique_ptr<void, StateDeleter> state_;
  int mode_ = -1;
  std::string error_text_;
};

}  // namespace engine
