#include "zarvi_core/write/data.h"

#include <algorithm>
#include <map>
#include <string_view>
#include <utility>

#include "zarvi_core/project/plan.h"

namespace zarvi_core::write::data {
namespace {

// Chains of more tables than this are searched, not passed over.
constexpr size_t kPassedChain = 8;

using finding::WriteError;

std::vector<std::string> table_names(const spec::Spec& spec) {
  std::vector<std::string> names;
  names.reserve(spec.tables.size());
  for (const spec::TableDef& t : spec.tables) names.push_back(t.name);
  return names;
}

// The Data of one spec table, or the first input column that does not fit.
Result<Data, WriteError> bind_table(const spec::Spec& spec, const spec::TableDef& def,
                                    const column::table::Tables& tables, const SharedFrom& shared) {
  const auto list = project::plan::table_columns(spec, def);
  // Slots of `list`: "row", "segment", one key per chain table, then the
  // declared columns.
  std::vector<Bound> slots(list.size());
  // The first slot of each name: a lookup for each column, not a scan.
  std::map<std::string_view, size_t> slot_of_name;
  for (size_t i = 0; i < list.size(); ++i) slot_of_name.try_emplace(list[i].first, i);
  Data data;
  data.name = shared.text(def.name);
  if (const column::table::Table* input = tables.get(def.name)) {
    for (const column::table::ColumnRef c : input->columns()) {
      const auto found = slot_of_name.find(c.name);
      const size_t slot = found == slot_of_name.end() ? list.size() : found->second;
      if (slot == list.size()) {
        std::vector<std::string> names;
        names.reserve(list.size());
        for (const auto& entry : list) names.push_back(entry.first);
        return err(WriteError{WriteError::UnknownColumn{def.name, c.name, std::move(names)}});
      }
      if (c.data.type() != list[slot].second) {
        return err(WriteError{
            WriteError::ColumnTypeMismatch{def.name, c.name, c.data.type(), list[slot].second}});
      }
      if (!slots[slot]) slots[slot] = c.data;
    }
    data.rows = input->rows();
  }
  data.row = slots[0];
  data.segment = slots[1];
  // table_columns names each chain table's key column by its ref; look it up
  // by name, as a ref may also be a declared column's name.
  const auto slot_of = [&](std::string_view name) -> Bound {
    const auto found = slot_of_name.find(name);
    return found == slot_of_name.end() ? std::nullopt : slots[found->second];
  };
  for (size_t t : def.chain) data.references.push_back({t, slot_of(spec.tables[t].ref)});
  if (data.references.size() > kPassedChain) {
    for (size_t k = 0; k < data.references.size(); ++k)
      data.reference_order.emplace_back(data.references[k].table, k);
    std::sort(data.reference_order.begin(), data.reference_order.end());
  }
  data.columns.reserve(def.columns.size());
  for (const auto& entry : def.columns) data.columns.push_back(slot_of(entry.first));
  return data;
}

}  // namespace

std::optional<int64_t> Data::reference(size_t parent, size_t r) const {
  const Reference* ref = nullptr;
  if (reference_order.empty()) {
    for (const Reference& each : references) {
      if (each.table != parent) continue;
      ref = &each;
      break;
    }
  } else if (const auto at = std::lower_bound(reference_order.begin(), reference_order.end(),
                                              std::pair(parent, size_t{0}));
             at != reference_order.end() && at->first == parent) {
    ref = &references[at->second];
  }
  if (ref == nullptr || !ref->column) return std::nullopt;
  const auto cell = ref->column->get(r);
  if (!cell || cell->kind() != column::Cell::Kind::Int64) return std::nullopt;
  return cell->int64();
}

Result<std::vector<Data>, WriteError> bind(const spec::Spec& spec, const column::table::Tables& tables) {
  for (const column::table::Table& input : tables) {
    if (spec.table(input.name()) == nullptr) {
      return err(WriteError{WriteError::UnknownTable{input.name(), table_names(spec)}});
    }
  }
  std::vector<Data> bound;
  bound.reserve(spec.tables.size());
  const SharedFrom shared(spec.weak_from_this().lock());
  for (const spec::TableDef& def : spec.tables) {
    auto data = bind_table(spec, def, tables, shared);
    if (!data) return err(std::move(data).error());
    bound.push_back(std::move(data).value());
  }
  return bound;
}

}  // namespace zarvi_core::write::data
