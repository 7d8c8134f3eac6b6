#include "zarvi_core/element.h"

#include "zarvi_core/frame.h"

namespace zarvi_core {

void unescape_into(Bytes& out, std::string_view bytes, std::optional<char> release) {
  if (!release || bytes.find(*release) == std::string_view::npos) {
    out.borrow(bytes);
    return;
  }
  std::string& own = out.own();
  own.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == *release) {
      if (++i == bytes.size()) break;
    }
    own += bytes[i];
  }
}

Bytes unescape(std::string_view bytes, std::optional<char> release) {
  Bytes out;
  unescape_into(out, bytes, release);
  return out;
}

void Element::reparse(std::string_view text, char component, std::optional<char> release) {
  std::size_t at = find_unreleased(text, component, release);
  if (at == std::string_view::npos) {
    composite_ = false;
    count_ = 0;
    unescape_into(simple_, text, release);
    return;
  }
  composite_ = true;
  count_ = 0;
  auto put = [&](std::string_view piece) {
    if (count_ == components_.size()) components_.emplace_back();
    unescape_into(components_[count_++], piece, release);
  };
  while (at != std::string_view::npos) {
    put(text.substr(0, at));
    text.remove_prefix(at + 1);
    at = find_unreleased(text, component, release);
  }
  put(text);
}

void Element::reparse_plain(std::string_view text, char component) {
  count_ = 0;
  const char* const end = text.data() + text.size();
  const char* start = text.data();
  auto put = [&](const char* stop) {
    if (count_ == components_.size()) components_.emplace_back();
    components_[count_++].borrow(std::string_view(start, static_cast<std::size_t>(stop - start)));
  };
  for (const char* p = start; p != end; ++p) {
    if (*p == component) {
      put(p);
      start = p + 1;
    }
  }
  if (count_ == 0) return reparse_simple(text);
  put(end);
  composite_ = true;
}

}  // namespace zarvi_core
