// Exact, deterministic damage to the times of a file, as a flipped byte in a recording may do it: the
// presentation time of one PES packet of an MPEG transport stream moved (its decoding time too, if asked), or
// the time of one Matroska cluster rewritten. Everything else stays byte for byte as it was, so a test knows
// exactly which time jumped, from where and to where.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace timestamp_edits {

// What an edit did, in seconds on the file's own time line.
struct MovedTime {
  double From = 0;
  double To = 0;
};

namespace detail {

inline std::uint8_t Byte(const std::string& bytes, std::size_t at) {
  return static_cast<std::uint8_t>(bytes[at]);
}

// A PES time stamp: 33 bits over 5 bytes ("pppX" nibble, marker bits between the parts).
inline std::uint64_t ReadPesTime(const std::string& bytes, std::size_t at) {
  return (static_cast<std::uint64_t>((Byte(bytes, at) >> 1) & 7) << 30) |
         (static_cast<std::uint64_t>(Byte(bytes, at + 1)) << 22) |
         (static_cast<std::uint64_t>(Byte(bytes, at + 2) >> 1) << 15) |
         (static_cast<std::uint64_t>(Byte(bytes, at + 3)) << 7) | (Byte(bytes, at + 4) >> 1);
}

inline void WritePesTime(std::string& bytes, std::size_t at, std::uint64_t time) {
  time &= (std::uint64_t{1} << 33) - 1;
  bytes[at] = static_cast<char>((Byte(bytes, at) & 0xF0) | (((time >> 30) & 7) << 1) | 1);
  bytes[at + 1] = static_cast<char>((time >> 22) & 0xFF);
  bytes[at + 2] = static_cast<char>((((time >> 15) & 0x7F) << 1) | 1);
  bytes[at + 3] = static_cast<char>((time >> 7) & 0xFF);
  bytes[at + 4] = static_cast<char>(((time & 0x7F) << 1) | 1);
}

}  // namespace detail

enum class PesKind { kVideo, kAudio };

// Moves the presentation time of the `nth` (from 0) PES packet of the first video (or audio) stream of the
// transport stream `bytes` by `seconds`, and its decoding time as well when `decoding_too` and it has one.
// Empty when there is no such packet (or the bytes are no 188-byte transport stream).
inline std::optional<MovedTime> MovePesTime(std::string& bytes, PesKind kind, int nth, double seconds,
                                            bool decoding_too = false) {
  constexpr std::size_t kPacket = 188;
  int seen = 0;
  int pid = -1;  // the stream's packet id, once its first PES is seen
  for (std::size_t at = 0; at + kPacket <= bytes.size(); at += kPacket) {
    if (detail::Byte(bytes, at) != 0x47) return std::nullopt;
    const bool unit_start = (detail::Byte(bytes, at + 1) & 0x40) != 0;
    const int packet_pid = ((detail::Byte(bytes, at + 1) & 0x1F) << 8) | detail::Byte(bytes, at + 2);
    if (!unit_start || (pid >= 0 && packet_pid != pid)) continue;
    std::size_t pes = at + 4;
    if ((detail::Byte(bytes, at + 3) & 0x20) != 0) pes += 1 + detail::Byte(bytes, pes);  // adaptation field
    if (pes + 19 > at + kPacket || bytes.compare(pes, 3, std::string("\0\0\1", 3)) != 0) continue;
    const std::uint8_t stream_id = detail::Byte(bytes, pes + 3);
    const bool wanted = kind == PesKind::kVideo ? (stream_id & 0xF0) == 0xE0 : (stream_id & 0xE0) == 0xC0;
    if (!wanted) continue;
    pid = packet_pid;
    if (seen++ != nth) continue;
    const std::uint8_t flags = detail::Byte(bytes, pes + 7);
    if ((flags & 0x80) == 0) return std::nullopt;  // no presentation time
    const std::size_t presentation = pes + 9;
    const auto shift = static_cast<std::int64_t>(seconds * 90000);
    const std::uint64_t before = detail::ReadPesTime(bytes, presentation);
    detail::WritePesTime(bytes, presentation, before + static_cast<std::uint64_t>(shift));
    if (decoding_too && (flags & 0xC0) == 0xC0) {
      const std::size_t decoding = presentation + 5;
      detail::WritePesTime(bytes, decoding,
                           detail::ReadPesTime(bytes, decoding) + static_cast<std::uint64_t>(shift));
    }
    return MovedTime{static_cast<double>(before) / 90000,
                     static_cast<double>(before + static_cast<std::uint64_t>(shift)) / 90000};
  }
  return std::nullopt;
}

// Rewrites the time of the `nth` (from 0) cluster of the Matroska file `bytes` to `milliseconds`, which must
// fit the bytes the cluster's time already takes (the size of the file does not change). Empty when there is
// no such cluster or the time does not fit.
inline std::optional<MovedTime> MoveClusterTime(std::string& bytes, int nth, std::uint64_t milliseconds) {
  const std::string cluster_id("\x1F\x43\xB6\x75", 4);
  std::size_t at = 0;
  for (int seen = 0;; ++seen) {
    at = bytes.find(cluster_id, at);
    if (at == std::string::npos) return std::nullopt;
    at += cluster_id.size();
    if (seen == nth) break;
  }
  // The cluster's size (an EBML number of 1 to 8 bytes), then its Timestamp element (id 0xE7) first.
  const std::uint8_t size_lead = detail::Byte(bytes, at);
  int size_length = 1;
  while (size_length <= 8 && (size_lead & (0x80 >> (size_length - 1))) == 0)
    ++size_length;
  at += static_cast<std::size_t>(size_length);
  if (size_length > 8 || at + 2 > bytes.size() || detail::Byte(bytes, at) != 0xE7) return std::nullopt;
  const int length = detail::Byte(bytes, at + 1) & 0x7F;  // a one-byte size: 0x80 | length
  const std::size_t value = at + 2;
  if ((detail::Byte(bytes, at + 1) & 0x80) == 0 || length < 1 || length > 8 ||
      value + static_cast<std::size_t>(length) > bytes.size() ||
      (length < 8 && milliseconds >> (8 * length) != 0)) {
    return std::nullopt;
  }
  std::uint64_t before = 0;
  for (int index = 0; index < length; ++index) {
    const std::size_t byte_at = value + static_cast<std::size_t>(index);
    before = (before << 8) | detail::Byte(bytes, byte_at);
    bytes[byte_at] = static_cast<char>((milliseconds >> (8 * (length - 1 - index))) & 0xFF);
  }
  return MovedTime{static_cast<double>(before) / 1000, static_cast<double>(milliseconds) / 1000};
}

}  // namespace timestamp_edits
