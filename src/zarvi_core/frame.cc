#include "zarvi_core/frame.h"

namespace zarvi_core {

std::optional<Framed> next_frame(std::string_view input, const Delimiters& delimiters) noexcept {
  if (input.empty()) return std::nullopt;
  std::size_t start = 0;
  while (start < input.size() && is_trivia(input[start])) ++start;
  const std::string_view tail = input.substr(start);
  const std::size_t end = find_unreleased(tail, delimiters.segment, delimiters.release);
  if (end == std::string_view::npos) {
    // All trivia, or a last segment without terminator (perhaps ending in a
    // lone release byte): everything left is this frame.
    return Framed{Frame{input, tail, false}, input.substr(input.size())};
  }
  return Framed{Frame{input.substr(0, start + end + 1), tail.substr(0, end), true},
                input.substr(start + end + 1)};
}

std::optional<Framed> first_frame(std::string_view input, const Delimiters& delimiters) noexcept {
  if (!input.starts_with(kByteOrderMark)) return next_frame(input, delimiters);
  const std::string_view after = input.substr(kByteOrderMark.size());
  std::optional<Framed> framed = next_frame(after, delimiters);
  if (!framed) return Framed{Frame{input, after, false}, after};
  framed->frame.raw = input.substr(0, kByteOrderMark.size() + framed->frame.raw.size());
  return framed;
}

}  // namespace zarvi_core
