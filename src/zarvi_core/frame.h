// Segment framing: where each segment of an interchange begins and ends.
// Frames and the rest are views into the caller's input, which must outlive
// them; nothing is copied.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "zarvi_core/delimiters.h"

namespace zarvi_core {

// One framed segment. raw = leading trivia + body + terminator (when there is
// one), exactly as in the input.
struct Frame {
  std::string_view raw;
  std::string_view body;
  bool terminated = false;
};

// A frame and the input after it.
struct Framed {
  Frame frame;
  std::string_view rest;
};

// Position of the first c in bytes that no release byte escapes (a release
// byte skips itself and the byte after it), or npos.
inline std::size_t find_unreleased(std::string_view bytes, char c,
                                   std::optional<char> release) noexcept {
  if (!release) return bytes.find(c);
  const char r = *release;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == r) {
      ++i;
    } else if (bytes[i] == c) {
      return i;
    }
  }
  return std::string_view::npos;
}

// Frames the segment at the start of input; absent only for an empty input.
std::optional<Framed> next_frame(std::string_view input, const Delimiters& delimiters) noexcept;

// The same for the first segment of an input, whose raw bytes also take a
// leading UTF-8 byte order mark.
std::optional<Framed> first_frame(std::string_view input, const Delimiters& delimiters) noexcept;

}  // namespace zarvi_core
