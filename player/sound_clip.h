// Plays a short sound held in memory (a WAV file's bytes) on the default sound device and returns once it
// has been heard: the camera click of a snapshot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace player {

// False, with the reason, when the player's libraries are not bound, the bytes are no WAV file or no sound
// device can be opened; nothing is played then.
bool PlaySoundClip(const std::uint8_t* wav, std::size_t size, std::string* reason = nullptr);

}  // namespace player
