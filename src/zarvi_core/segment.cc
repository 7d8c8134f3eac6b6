#include "zarvi_core/segment.h"

namespace zarvi_core {

void Segment::reparse(std::size_t index, const Frame& frame, const Delimiters& delimiters) {
  index_ = index;
  raw_ = frame.raw;
  terminated_ = frame.terminated;
  count_ = 0;

  std::string_view body = frame.body;
  if (!delimiters.release) return split_plain(body, delimiters.element, delimiters.component);
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

// Without a release character one pass over the body finds both the
// element separators and whether each element holds a component separator.
void Segment::split_plain(std::string_view body, char element, char component) {
  const char* p = body.data();
  const char* const end = p + body.size();
  while (p != end && *p != element) ++p;
  id_ = std::string_view(body.data(), static_cast<std::size_t>(p - body.data()));
  // Every separator starts one more element, so a trailing separator leaves
  // an empty last element: 'N1*' has one.
  while (p != end) {
    const char* const start = ++p;
    bool composite = false;
    while (p != end && *p != element) {
      composite = composite || *p == component;
      ++p;
    }
    if (count_ == elements_.size()) elements_.emplace_back();
    const std::string_view text(start, static_cast<std::size_t>(p - start));
    if (composite)
      elements_[count_++].reparse(text, component, std::nullopt);
    else
      elements_[count_++].reparse_simple(text);
  }
}

std::string_view Segment::joined(const Element& composite, char separator,
                                 std::string& buffer) {
  buffer.clear();
  bool first = true;
  for (const Bytes& c : composite.components()) {
    if (!first) buffer += separator;
    buffer += c.view();
    first = false;
  }
  return std::string_view(buffer);
}

}  // namespace zarvi_core
