// Reads the segments of an interchange one after another without an index.
// The tokenizer and every Segment it returns borrow the input, which must
// outlive them.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "zarvi_core/delimiters.h"
#include "zarvi_core/result.h"
#include "zarvi_core/segment.h"

namespace zarvi_core {

class Tokenizer {
 public:
  // Reads the delimiters from the ISA header after any leading trivia; the
  // tokenizer still starts at byte 0, so the trivia frame with segment 0.
  static Result<Tokenizer, IsaError> create(std::string_view input);
  // Uses the given delimiters; the header is not read.
  Tokenizer(std::string_view input, const Delimiters& delimiters) noexcept
      : rest_(input), delimiters_(delimiters) {}

  // The next segment, fresh; absent once the input is consumed.
  std::optional<Segment> next();
  // The next segment into `segment`, reusing its storage; false (the
  // segment unchanged) once the input is consumed.
  bool next(Segment& segment);

  std::string_view rest() const noexcept { return rest_; }
  std::size_t index() const noexcept { return index_; }
  const Delimiters& delimiters() const noexcept { return delimiters_; }

 private:
  std::string_view rest_;
  std::size_t index_ = 0;
  Delimiters delimiters_;
};

}  // namespace zarvi_core
