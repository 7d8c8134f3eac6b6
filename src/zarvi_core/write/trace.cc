#include "zarvi_core/write/trace.h"

#include <algorithm>
#include <span>
#include <string>
#include <tuple>

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
  for (size_t i = ends_; i < values_.size(); ++i)
    sorted_.push_back(static_cast<uint32_t>(i - ends_));
  const auto key = [&](uint32_t k) {
    const Value& v = values_[ends_ + k];
    return std::tuple(v.element, v.component, k);
  };
  std::sort(sorted_.begin() + static_cast<std::ptrdiff_t>(ends_), sorted_.end(),
            [&](uint32_t a, uint32_t b) { return key(a) < key(b); });
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
    const auto usable = [&](const Value& v) {
      return v.row == kEnvelope ? v.column < envelope::kFieldNames.size() : seg.table != kNoTable;
    };
    // The earliest usable value among the segment's values at `e` with a
    // component from `low` to `high`.
    const auto sorted = std::span(sorted_).subspan(seg.first, end - seg.first);
    std::optional<uint32_t> found;
    const auto earliest = [&](uint16_t low, uint16_t high) {
      auto at = std::lower_bound(sorted.begin(), sorted.end(), std::pair(e, low),
                                 [&](uint32_t k, const std::pair<uint32_t, uint16_t>& key) {
                                   const Value& v = values_[seg.first + k];
                                   return std::pair(v.element, v.component) < key;
                                 });
      for (; at != sorted.end(); ++at) {
        const Value& v = values_[seg.first + *at];
        if (v.element != e || v.component > high) break;
        if (usable(v) && (!found || *at < *found)) found = *at;
      }
    };
    // A value written without component is component 1 of a composite.
    if (component) {
      earliest(0, 0);
      if (c != 0) earliest(c, c);
    } else {
      earliest(0, std::numeric_limits<uint16_t>::max());
    }
    if (found) {
      const Value& v = values_[seg.first + *found];
      if (v.row == kEnvelope)
        return finding::Origin::envelope(std::string(envelope::kFieldNames[v.column]));
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
  sorted_.clear();
  open_table_ = kNoTable;
  ends_ = 0;
}

}  // namespace zarvi_core::write::trace
