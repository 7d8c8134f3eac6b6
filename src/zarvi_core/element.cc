#include "zarvi_core/element.h"

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

}  // namespace zarvi_core
