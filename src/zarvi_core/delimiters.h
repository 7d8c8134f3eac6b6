// The five delimiters of an interchange and how they are read from its ISA
// header. Pure functions over borrowed input; nothing here keeps a view, and
// only an error allocates (its `found` bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "zarvi_core/result.h"

namespace zarvi_core {

// The UTF-8 byte order mark, trivia only at the very start of an input.
inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// TAB, LF, CR and space: the whitespace skipped before the header and
// between segments.
constexpr bool is_trivia(char c) noexcept {
  return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

// What was skipped before the ISA header.
struct Skipped {
  uint64_t whitespace = 0;  // byte order mark not included
  bool bom = false;

  bool any() const noexcept { return bom || whitespace > 0; }
  friend bool operator==(const Skipped&, const Skipped&) = default;
};

// "a UTF-8 byte order mark and 2 bytes of whitespace" and its variants.
std::string to_string(const Skipped& skipped);

// Why an ISA header cannot be read.
struct IsaError {
  enum class Kind { NotIsa, Truncated };

  Kind kind = Kind::NotIsa;
  std::string found;       // NotIsa: the first bytes, at most 8
  uint64_t length = 0;     // Truncated: input length after the skipped trivia
  uint32_t separators = 0; // Truncated: element separators found, 0 to 16
  Skipped skipped;

  friend bool operator==(const IsaError&, const IsaError&) = default;
};

// The one sentence of an IsaError.
std::string to_string(const IsaError& error);

// Element separator, component separator and segment terminator, with the
// optional repetition separator and release character. A plain value.
struct Delimiters {
  char element = '*';
  char component = ':';
  char segment = '~';
  std::optional<char> repetition;
  std::optional<char> release;  // never set by reading a header

  // Reads the header at the very start of input; no trivia is skipped.
  static Result<Delimiters, IsaError> from_isa(std::string_view input);
  // Skips a byte order mark and whitespace first; an error says what it skipped.
  static Result<Delimiters, IsaError> from_isa_after_leading_trivia(std::string_view input);

  friend bool operator==(const Delimiters&, const Delimiters&) = default;
};

// Length of the leading trivia of an input (byte order mark, then whitespace),
// recording what was skipped.
std::size_t skip_leading_trivia(std::string_view input, Skipped& skipped) noexcept;

}  // namespace zarvi_core
