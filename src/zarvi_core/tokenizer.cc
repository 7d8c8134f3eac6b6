#include "zarvi_core/tokenizer.h"

namespace zarvi_core {

Result<Tokenizer, IsaError> Tokenizer::create(std::string_view input) {
  auto read = Delimiters::from_isa_after_leading_trivia(input);
  if (!read.ok()) return err(std::move(read.error()));
  return Tokenizer(input, read.value());
}

std::optional<Segment> Tokenizer::next() {
  Segment segment;
  if (!next(segment)) return std::nullopt;
  return segment;
}

bool Tokenizer::next(Segment& segment) {
  std::optional<Framed> framed =
      index_ == 0 ? first_frame(rest_, delimiters_) : next_frame(rest_, delimiters_);
  if (!framed) return false;
  segment.reparse(index_, framed->frame, delimiters_);
  rest_ = framed->rest;
  ++index_;
  return true;
}

}  // namespace zarvi_core
