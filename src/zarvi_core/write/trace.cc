#include "zarvi_core/write/trace.h"

#include <algorithm>
#include <string>

namespace zarvi_core::write::trace {
namespace {

template <class T>
T clamped(uint64_t v) {
  return static_cast<T>(std::min<uint64_t>(v, std::numeric_limits<T>::max()));
}

}  // namespace

void Traces::cell(uint64_t element, std::optional<uint64_t> component, size_t table, size_t row,
                  size_t column) {
  if (open_table_ == kNoTable) open_table_ = clamped<uint32_t>(table);
  values_.push_back(Value{std::min<uint64_t>(row, kEnvelope - 1),
                          clamped<uint32_t>(element), clamped<uint16_t>(component.value_or(0)),
                          clamped<uint16_t>(column)});
}

void Traces::field(uint64_t element, std::optional<uint64_t> component, envelope::Field field) {
  values_.push_back(Value{kEnvelope, clamped<uint32_t>(element),
                          clamped<uint16_t>(component.value_or(0)),
                          static_cast<uint16_t>(field)});
}

void Traces::segment(std::optional<RowOrigin> origin) {
  Segment s{ends_, 0, open_table_, false};
  if (origin) {
    s.row = origin->row;
    s.table = clamped<uint32_t>(origin->table);
    s.has_row = true;
  }
  segments_.push_back(s);
  ends_ = values_.size();
  open_table_ = kNoTable;
}

std::optional<finding::Origin> Traces::origin(uint64_t s, std::optional<uint64_t> element,
                                              std::optional<uint64_t> component,
                                              const Names& names) const {
  if (s >= segments_.size()) return std::nullopt;
  const Segment& seg = segments_[s];
  const uint64_t end = s + 1 < segments_.size() ? segments_[s + 1].first : ends_;
  if (element) {
    const uint32_t e = clamped<uint32_t>(*element);
    const uint16_t c = clamped<uint16_t>(component.value_or(0));
    for (uint64_t i = seg.first; i < end; ++i) {
      const Value& v = values_[i];
      if (v.element != e) continue;
      // A value written without component is component 1 of a composite.
      if (component && v.component != 0 && v.component != c) continue;
      if (v.row == kEnvelope) {
        const size_t f = v.column;
        if (f < envelope::kFieldNames.size())
          return finding::Origin::envelope(std::string(envelope::kFieldNames[f]));
        continue;
      }
      if (seg.table == kNoTable) continue;
      return finding::Origin::cell(names(seg.table, std::nullopt), v.row,
                                   names(seg.table, size_t{v.column}));
    }
  }
  if (!seg.has_row) return std::nullopt;
  return finding::Origin::row(names(seg.table, std::nullopt), seg.row);
}

void Traces::clear() {
  segments_.clear();
  values_.clear();
  open_table_ = kNoTable;
  ends_ = 0;
}

}  // namespace zarvi_core::write::trace
