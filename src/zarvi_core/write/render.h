// Element text of dates and times, for table cells and the envelope, and the
// pending part of a segment being assembled. Pure functions; results are new
// strings, and a failure is the sentence that says why the value cannot be
// written. A Part holds offsets into its owner's scratch buffer, never a view.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "zarvi_core/result.h"

namespace zarvi_core::write::render {

// Element text, or the reason it cannot be written.
using Rendered = Result<std::string, std::string>;

// The envelope's date: CCYYMMDD, or YYMMDD (no window) when the element's
// maximum is under 8. Fails for a year outside 1 to 9999.
Rendered envelope_date(int32_t days, std::optional<uint64_t> max);

// A date cell: CCYYMMDD for a year from 1 to 9999; when the element's maximum
// is under 8, YYMMDD for a year from 1950 to 2049.
Rendered date_text(int32_t days, std::optional<uint64_t> max);

// A time: HHMM for whole minutes, else HHMMSS, or a failure when the
// element's maximum is under 6. Fails outside 0 to 86399 seconds.
Rendered time_text(int64_t seconds, std::optional<uint64_t> max);

// One element or component of the segment being assembled; its text lies at
// [begin, end) of the emitter's scratch buffer.
struct Part {
  uint64_t element = 0;  // 1-based
  std::optional<uint64_t> component;
  size_t begin = 0;
  size_t end = 0;
  bool has_text = false;  // false: the element stays empty

  std::string_view text(std::string_view scratch) const {
    return has_text ? scratch.substr(begin, end - begin) : std::string_view();
  }
  // Order of assembly: by element, then component, a part without component
  // first.
  static bool before(const Part& a, const Part& b) {
    if (a.element != b.element) return a.element < b.element;
    return a.component < b.component;  // nullopt is less than any value
  }

  friend bool operator==(const Part&, const Part&) = default;
};

}  // namespace zarvi_core::write::render
