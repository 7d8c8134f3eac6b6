#include "zarvi_core/tokenizer.h"

namespace zarvi_core {

Result<Tokenizer, IsaError> Tokenizer::create(std::string_view input) {
  auto read = Delimiters::from_isa_after_leading_trivia(input);
  if (!read.ok()) return err(std::move(read.error()));
  return Tokenizer(input, read.value());
}

std::optional<Segment> Tokenizer::next() {
  std::optional<Framed> framed =
      index_ == 0 ? first_frame(rest_, delimiters_) : next_frame(rest_, delimiters_);
  if (!framed) return std::nullopt;
  Segment segment;
  segment.reparse(index_, framed->frame, delimiters_);
  rest_ = framed->rest;
  ++index_;
  return segment;
}

}  // namespace zarvi_core
