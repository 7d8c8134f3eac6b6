#include "zarvi_core/delimiters.h"

#include <algorithm>
#include <array>

namespace zarvi_core {

namespace {

constexpr uint32_t kIsaSeparators = 16;

std::string whitespace_text(uint64_t count) {
  return std::to_string(count) + (count == 1 ? " byte" : " bytes") + " of whitespace";
}

}  // namespace

std::string to_string(const Skipped& skipped) {
  if (!skipped.bom) return whitespace_text(skipped.whitespace);
  if (skipped.whitespace == 0) return "a UTF-8 byte order mark";
  return "a UTF-8 byte order mark and " + whitespace_text(skipped.whitespace);
}

std::string to_string(const IsaError& error) {
  std::string out;
  if (error.kind == IsaError::Kind::NotIsa) {
    out = "input does not start with an ISA segment (";
    if (error.found.empty()) {
      out += error.skipped.any() ? "input holds only " + to_string(error.skipped) : "input is empty";
    } else {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "found bytes [";
      for (std::size_t i = 0; i < error.found.size(); ++i) {
        const auto byte = static_cast<unsigned char>(error.found[i]);
        if (i > 0) out += ' ';
        out += kHex[byte >> 4];
        out += kHex[byte & 0xF];
      }
      out += ']';
      if (error.skipped.any()) out += " after skipping " + to_string(error.skipped);
    }
    out += ')';
    return out;
  }
  out = "ISA segment truncated after " + std::to_string(error.length) + " bytes";
  if (error.skipped.any()) out += " (counted after skipping " + to_string(error.skipped) + ")";
  if (error.separators < kIsaSeparators) {
    out += ": found " + std::to_string(error.separators) + " of " +
           std::to_string(kIsaSeparators) + " element separators";
  } else {
    out += ": ISA16 or the terminator is missing";
  }
  return out;
}

std::size_t skip_leading_trivia(std::string_view input, Skipped& skipped) noexcept {
  std::size_t at = 0;
  skipped = Skipped{};
  if (input.starts_with(kByteOrderMark)) {
    skipped.bom = true;
    at = kByteOrderMark.size();
  }
  const std::size_t whitespace_start = at;
  while (at < input.size() && is_trivia(input[at])) ++at;
  skipped.whitespace = at - whitespace_start;
  return at;
}

Result<Delimiters, IsaError> Delimiters::from_isa(std::string_view input) {
  if (!input.starts_with("ISA")) {
    IsaError e;
    e.found = std::string(input.substr(0, 8));
    return err(std::move(e));
  }
  auto truncated = [&](uint32_t separators) {
    IsaError e;
    e.kind = IsaError::Kind::Truncated;
    e.length = input.size();
    e.separators = separators;
    return err(std::move(e));
  };
  if (input.size() == 3) return truncated(0);

  // Field widths vary in the wild, so only separators are counted. at[k] is
  // the position of separator k (1-based), which begins field ISAk.
  const char element = input[3];
  std::array<std::size_t, kIsaSeparators + 1> at{};
  uint32_t found = 0;
  for (std::size_t i = 3; i < input.size() && found < kIsaSeparators; ++i) {
    if (input[i] == element) at[++found] = i;
  }
  if (found < kIsaSeparators) return truncated(found);
  const std::size_t last = at[kIsaSeparators];
  if (last + 2 >= input.size()) return truncated(kIsaSeparators);

  Delimiters d;
  d.element = element;
  d.component = input[last + 1];
  d.segment = input[last + 2];
  // ISA11 holds the repetition separator from version 00402 on; before that it
  // is a standards identifier such as 'U'.
  const std::string_view isa11 = input.substr(at[11] + 1, at[12] - at[11] - 1);
  const std::string_view isa12 = input.substr(at[12] + 1, at[13] - at[12] - 1);
  if (isa11.size() == 1 && isa12.compare("00402") >= 0) d.repetition = isa11[0];
  return d;
}

Result<Delimiters, IsaError> Delimiters::from_isa_after_leading_trivia(std::string_view input) {
  Skipped skipped;
  const std::size_t start = skip_leading_trivia(input, skipped);
  auto read = from_isa(input.substr(start));
  if (!read.ok()) read.error().skipped = skipped;
  return read;
}

}  // namespace zarvi_core
