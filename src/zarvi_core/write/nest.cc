#include "zarvi_core/write/nest.h"

#include <algorithm>
#include <limits>
#include <tuple>

namespace zarvi_core::write::nest {
namespace {

using finding::Finding;

// A row's number: its int64 "row" cell, else its own index.
int64_t row_number(const data::Data& d, size_t r) {
  if (d.row) {
    if (const auto cell = d.row->get(r); cell && cell->kind() == column::Cell::Kind::Int64)
      return cell->int64();
  }
  constexpr auto kMax = static_cast<size_t>(std::numeric_limits<int64_t>::max());
  return static_cast<int64_t>(std::min(r, kMax));
}

// The rows of an enclosing table by number, for the rows that refer to it.
// Sorted rather than hashed: the numbers are the caller's, and no choice of
// them may make a lookup walk a chain. Numbers already ascending (a parse
// makes them so, mostly consecutive too) need no sort.
class RowIndex {
 public:
  // Indexes the rows of `d`; each row whose number an earlier row carries
  // becomes a DuplicateRowNumber naming that row, by ascending row.
  void build(const data::Data& d, std::vector<Finding>& findings) {
    numbers_.resize(d.rows);
    bool ascending = true;
    for (size_t r = 0; r < d.rows; ++r) {
      numbers_[r] = row_number(d, r);
      ascending = ascending && (r == 0 || numbers_[r - 1] < numbers_[r]);
    }
    if (!ascending) sort(d, findings);
    // Modulo 2^64 the span is exact: distinct int64s differ by less.
    consecutive_ = !numbers_.empty() && static_cast<uint64_t>(numbers_.back()) -
                                            static_cast<uint64_t>(numbers_.front()) ==
                                        numbers_.size() - 1;
  }

  // The row that carries `number` (the first, when several do).
  std::optional<size_t> find(int64_t number) const {
    if (numbers_.empty() || number < numbers_.front()) return std::nullopt;
    size_t at;
    if (consecutive_) {
      const uint64_t offset =
          static_cast<uint64_t>(number) - static_cast<uint64_t>(numbers_.front());
      if (offset >= numbers_.size()) return std::nullopt;
      at = static_cast<size_t>(offset);
    } else {
      const auto found = std::lower_bound(numbers_.begin(), numbers_.end(), number);
      if (found == numbers_.end() || *found != number) return std::nullopt;
      at = static_cast<size_t>(found - numbers_.begin());
    }
    return rows_.empty() ? at : rows_[at];
  }

 private:
  // Sorts (number, row) pairs: the first of a run of equal numbers is the
  // row that keeps it, the others are duplicates of it.
  void sort(const data::Data& d, std::vector<Finding>& findings) {
    std::vector<std::pair<int64_t, size_t>> pairs(numbers_.size());
    for (size_t r = 0; r < pairs.size(); ++r) pairs[r] = {numbers_[r], r};
    std::sort(pairs.begin(), pairs.end());
    numbers_.clear();
    rows_.clear();
    std::vector<std::pair<size_t, size_t>> duplicates;  // (row, index of its number)
    for (const auto& [number, row] : pairs) {
      if (!numbers_.empty() && numbers_.back() == number) {
        duplicates.emplace_back(row, numbers_.size() - 1);
        continue;
      }
      numbers_.push_back(number);
      rows_.push_back(row);
    }
    std::sort(duplicates.begin(), duplicates.end());
    for (const auto& [row, at] : duplicates)
      findings.push_back({Finding::DuplicateRowNumber{d.name, row, numbers_[at], rows_[at]}});
  }

  std::vector<int64_t> numbers_;  // ascending, distinct
  std::vector<size_t> rows_;      // the row of each number; empty: its index
  bool consecutive_ = false;
};

Finding missing_parent(const data::Data& d, size_t r, const spec::TableDef& parent,
                       std::optional<int64_t> value, const SharedFrom& shared) {
  return {Finding::MissingParent{d.name, r, shared.text(parent.ref), value,
                                 shared.text(parent.name)}};
}

// Groups from (group, row) pairs listed by ascending row: a counting sort
// keeps each group's rows ascending.
void fill_groups(std::vector<size_t>& starts, std::vector<size_t>& rows, size_t groups,
                 const std::vector<std::pair<size_t, size_t>>& placed) {
  starts.assign(groups + 1, 0);
  for (const auto& entry : placed) ++starts[entry.first + 1];
  for (size_t g = 0; g < groups; ++g) starts[g + 1] += starts[g];
  rows.resize(placed.size());
  std::vector<size_t> next(starts.begin(), starts.end() - 1);
  for (const auto& [group, row] : placed) rows[next[group]++] = row;
}

}  // namespace

size_t Nest::group_count(size_t table) const {
  if (table >= tables_.size() || tables_[table].starts.empty()) return 0;
  return tables_[table].starts.size() - 1;
}

std::span<const size_t> Nest::group(size_t table, size_t g) const {
  if (g >= group_count(table)) return {};
  const Table& t = tables_[table];
  return std::span(t.rows).subspan(t.starts[g], t.starts[g + 1] - t.starts[g]);
}

std::span<const size_t> Nest::repeat_rows(size_t table, LoopId loop, size_t row) const {
  if (table >= tables_.size()) return {};
  const Table& t = tables_[table];
  const auto key = std::make_pair(loop, row);
  const auto [first, last] = std::equal_range(t.repeat_keys.begin(), t.repeat_keys.end(), key);
  return std::span(t.repeat_rows)
      .subspan(static_cast<size_t>(first - t.repeat_keys.begin()),
               static_cast<size_t>(last - first));
}

std::optional<size_t> Nest::placement(size_t table, size_t row) const {
  if (table >= tables_.size() || row >= tables_[table].placements.size()) return std::nullopt;
  const size_t p = tables_[table].placements[row];
  if (p == kNotPlaced) return std::nullopt;
  return p;
}

void contradictions(const spec::Spec& spec, const std::vector<data::Data>& data, size_t child,
                    size_t row, size_t parent, size_t parent_row, const SharedFrom& shared,
                    std::vector<Finding>& findings) {
  const spec::TableDef& p = spec.tables[parent];
  for (size_t x : p.chain) {
    const auto mine = data[child].reference(x, row);
    const auto theirs = data[parent].reference(x, parent_row);
    if (mine && theirs && *mine != *theirs) {
      findings.push_back({Finding::MismatchedReference{
          data[child].name, row, shared.text(spec.tables[x].ref), *mine, shared.text(p.ref),
          parent_row, shared.text(p.name), *theirs}});
    }
  }
}

Nest nest(const spec::Spec& spec, const plan::WritePlan& plan, const std::vector<data::Data>& data,
          std::vector<Finding>& findings) {
  const size_t n = std::min(spec.tables.size(), data.size());
  const SharedFrom shared(spec.weak_from_this().lock());  // names in findings
  Nest out;
  out.tables_.resize(n);

  // Row indexes of the tables that some table nests under.
  std::vector<bool> enclosing(n, false);
  for (size_t t = 0; t < n; ++t)
    for (size_t c : spec.tables[t].chain)
      if (c < n) enclosing[c] = true;
  std::vector<RowIndex> indexes(n);
  for (size_t t = 0; t < n; ++t)
    if (enclosing[t]) indexes[t].build(data[t], findings);
  // The parent row an integer reference names; none when the table lacks it.
  const auto lookup = [&](size_t table, int64_t value) -> std::optional<size_t> {
    if (table >= n) return std::nullopt;
    return indexes[table].find(value);
  };

  std::vector<std::pair<size_t, size_t>> placed;
  for (size_t t = 0; t < n; ++t) {
    const spec::TableDef& def = spec.tables[t];
    const data::Data& d = data[t];
    Nest::Table& table = out.tables_[t];
    if (!def.segment && (!def.parent || *def.parent >= n)) {
      table.starts = {0, d.rows};
      table.rows.resize(d.rows);
      for (size_t r = 0; r < d.rows; ++r) table.rows[r] = r;
    } else if (!def.segment) {
      const size_t parent = *def.parent;
      placed.clear();
      for (size_t r = 0; r < d.rows; ++r) {
        const auto value = d.reference(parent, r);
        const auto p = value ? lookup(parent, *value) : std::nullopt;
        if (!p) {
          findings.push_back(missing_parent(d, r, spec.tables[parent], value, shared));
          continue;
        }
        contradictions(spec, data, t, r, parent, *p, shared, findings);
        placed.emplace_back(*p, r);
      }
      fill_groups(table.starts, table.rows, data[parent].rows, placed);
    } else {
      // The loops whose instances are rows of a table, deepest first: the
      // first usable reference decides, so the deeper parent wins.
      std::vector<std::pair<LoopId, size_t>> anchors;
      std::vector<size_t> depths;
      for (LoopId loop : def.loops) {
        if (loop >= plan.loops().size() || plan.role(loop) != plan::Role::Rows) continue;
        const auto anchored = plan.role_table(loop);
        if (!anchored || *anchored >= n) continue;
        anchors.emplace_back(loop, *anchored);
      }
      std::vector<size_t> order(anchors.size());
      for (size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
        depths.push_back(spec.ancestors(anchors[i].first).size());
      }
      std::stable_sort(order.begin(), order.end(),
                       [&](size_t a, size_t b) { return depths[a] > depths[b]; });

      table.placements.assign(d.rows, Nest::kNotPlaced);
      std::vector<std::tuple<LoopId, size_t, size_t>> repeats;
      for (size_t r = 0; r < d.rows; ++r) {
        bool decided = false;
        for (size_t i : order) {
          const auto [loop, anchored] = anchors[i];
          const auto value = d.reference(anchored, r);
          if (!value) continue;
          decided = true;
          if (const auto p = lookup(anchored, *value)) {
            contradictions(spec, data, t, r, anchored, *p, shared, findings);
            repeats.emplace_back(loop, *p, r);
            table.placements[r] = anchored;
          } else {
            findings.push_back(missing_parent(d, r, spec.tables[anchored], value, shared));
          }
          break;
        }
        if (!decided) {
          const spec::TableDef& named =
              order.empty() ? def : spec.tables[anchors[order.back()].second];
          findings.push_back(missing_parent(d, r, named, std::nullopt, shared));
        }
      }
      std::stable_sort(repeats.begin(), repeats.end(), [](const auto& a, const auto& b) {
        return std::tie(std::get<0>(a), std::get<1>(a)) < std::tie(std::get<0>(b), std::get<1>(b));
      });
      table.repeat_keys.reserve(repeats.size());
      table.repeat_rows.reserve(repeats.size());
      for (const auto& [loop, parent_row, row] : repeats) {
        table.repeat_keys.emplace_back(loop, parent_row);
        table.repeat_rows.push_back(row);
      }
    }
  }
  return out;
}

}  // namespace zarvi_core::write::nest
