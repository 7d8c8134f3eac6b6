#include "zarvi_core/segment.h"

namespace zarvi_core {

void Segment::reparse(std::size_t index, const Frame& frame, const Delimiters& delimiters) {
  index_ = index;
  raw_ = frame.raw;
  terminated_ = frame.terminated;
  count_ = 0;

  std::string_view body = frame.body;
  std::size_t at = find_unreleased(body, delimiters.element, delimiters.release);
  if (at == std::string_view::npos) {
    id_ = body;
    return;
  }
  id_ = body.substr(0, at);
  // Every separator starts one more element, so a trailing separator leaves
  // an empty last element: 'N1*' has one.
  do {
    body.remove_prefix(at + 1);
    at = find_unreleased(body, delimiters.element, delimiters.release);
    if (count_ == elements_.size()) elements_.emplace_back();
    elements_[count_++].reparse(body.substr(0, at), delimiters.component, delimiters.release);
  } while (at != std::string_view::npos);
}

std::optional<std::string_view> Segment::text(std::size_t position, char separator,
                                              std::string& buffer) const {
  const Element* e = element(position);
  if (e == nullptr) return std::nullopt;
  if (!e->is_composite()) return e->value();
  buffer.clear();
  bool first = true;
  for (const Bytes& c : e->components()) {
    if (!first) buffer += separator;
    buffer += c.view();
    first = false;
  }
  return std::string_view(buffer);
}

}  // namespace zarvi_core
