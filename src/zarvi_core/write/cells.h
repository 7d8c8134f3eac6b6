// Element text of table cells, and which of the interchange's delimiters a
// value holds. Pure functions: text is appended to the caller's buffer, and
// nothing keeps a view of the column read.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "zarvi_core/column/column.h"
#include "zarvi_core/write/envelope.h"

namespace zarvi_core::write::cells {

// What rendering one cell gave.
enum class Outcome : uint8_t {
  Empty,    // no text: an absent column, a row past its end, a null cell
  Text,     // text appended
  Failed,   // a date or time the element cannot hold: `reason` says why
};

// Appends the element text of `column` at `row` to `out`: bytes as they
// are, integers in decimal, decimals without trailing fraction zeros, dates
// and times in the element's width (`max`, the element's maximum length).
// On failure nothing is appended and `reason` holds the sentence.
Outcome render(const column::ColumnView* column, size_t row, std::optional<uint64_t> max,
               std::string& out, std::string& reason);

// A non-null cell as findings show it: bytes quoted as a debug string of
// their text, anything else as the column displays it.
std::string shown(const column::ColumnView& column, size_t row);

// A decimal at `scale` as an element writes it: 12.50 at scale 2 is "12.5",
// 7.00 is "7", -0.25 is "-0.25".
void append_decimal(std::string& out, i128 value, uint8_t scale);

// The delimiters a value may not hold, as a byte lookup.
class DelimiterSet {
 public:
  explicit DelimiterSet(const envelope::DelimiterList& list);

  // Whether the value holds any delimiter at all: the common answer is no.
  bool any(std::string_view value) const {
    for (unsigned char c : value)
      if (is_delimiter_[c]) return true;
    return false;
  }
  // Calls `found(delimiter)` for each entry of the list, in list order, that
  // the value holds, except the one named `own`: ISA11 and ISA16 carry the
  // repetition and component separators by definition.
  template <class F>
  void each(std::string_view value, std::string_view own, F&& found) const {
    for (const envelope::Delimiter& d : *list_) {
      if (!own.empty() && d.name == own) continue;
      if (value.find(d.byte) != std::string_view::npos) found(d);
    }
  }

 private:
  const envelope::DelimiterList* list_;
  std::array<bool, 256> is_delimiter_{};
};

}  // namespace zarvi_core::write::cells
