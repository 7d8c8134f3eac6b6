// Traces: where each written segment and value came from, so that a
// diagnostic of the read-back can point at a table row, a cell or an
// envelope field. Kept in flat arrays: 24 bytes per segment and 20 per
// traced value (constants are not traced). Traces own their data; origins
// own their names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string_view>
#include <vector>

#include "zarvi_core/write/envelope.h"
#include "zarvi_core/write/finding.h"

namespace zarvi_core::write::trace {

// A table's name (no column) or one of its declared columns' names (empty
// when out of range).
using Names = std::function<SharedText(size_t table, std::optional<size_t> column)>;

struct RowOrigin {
  size_t table = 0;
  size_t row = 0;
};

class Traces {
 public:
  // One table cell written at element (component).
  void cell(uint64_t element, std::optional<uint64_t> component, size_t table, size_t row,
            size_t column);
  // One envelope value written at element (component).
  void field(uint64_t element, std::optional<uint64_t> component, envelope::Field field);
  // Closes the segment whose values were traced since the last one, with
  // its row origin (none for envelope segments).
  void segment(std::optional<RowOrigin> origin);

  size_t segments() const { return segments_.size(); }
  size_t values() const { return values_.size(); }

  // The origin of segment `s` (at element and component when given), or
  // none: past the written segments, or an envelope segment without a
  // matching value.
  std::optional<finding::Origin> origin(uint64_t s, std::optional<uint64_t> element,
                                        std::optional<uint64_t> component,
                                        const Names& names) const;

  void clear();

 private:
  static constexpr uint32_t kNoTable = std::numeric_limits<uint32_t>::max();
  static constexpr uint64_t kEnvelope = std::numeric_limits<uint64_t>::max();

  // The values of one segment are cells of one table (a segment plan has one
  // source), or envelope fields.
  struct Segment {
    uint64_t first = 0;  // index of its first value
    uint64_t row = 0;    // the row origin's row
    uint32_t table = kNoTable;  // the row origin's table, else the table of its cells
    bool has_row = false;
  };
  // Positions and columns past their widths are kept as the largest value.
  struct Value {
    uint64_t row = 0;        // kEnvelope: an envelope field
    uint32_t element = 0;
    uint16_t component = 0;  // 0: none
    uint16_t column = 0;     // declared column, or the field index
  };

  std::vector<Segment> segments_;
  std::vector<Value> values_;
  // Each segment's values by element, component, then order, as offsets
  // from its first: a segment with many diagnostics finds each value by a
  // search.
  std::vector<uint32_t> sorted_;
  // Table of the cells traced for the open segment.
  uint32_t open_table_ = kNoTable;
  // Values traced up to the last closed segment.
  uint64_t ends_ = 0;
};

}  // namespace zarvi_core::write::trace
