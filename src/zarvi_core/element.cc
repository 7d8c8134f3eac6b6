#include "zarvi_core/element.h"

namespace zarvi_core {

std::string_view unescape(std::string_view bytes, std::optional<char> release,
                          std::string& owned) {
  if (!release || bytes.find(*release) == std::string_view::npos) return bytes;
  owned.clear();
  owned.reserve(bytes.size());
  unescape_append(owned, bytes, *release);
  return owned;
}

}  // namespace zarvi_core
