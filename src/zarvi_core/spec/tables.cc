#include "zarvi_core/spec/tables.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "zarvi_core/spec/compile.h"
#include "zarvi_core/spec/spec.h"
#include "zarvi_core/spec/elements.h"
#include "zarvi_core/spec/raw.h"
#include "zarvi_core/spec/render.h"
#include "zarvi_core/text.h"

namespace zarvi_core::spec {

using json = nlohmann::json;

std::string to_string(const Pick& pick) {
  switch (pick.kind) {
    case Pick::Kind::First:
      return "\"first\"";
    case Pick::Kind::Last:
      return "\"last\"";
    case Pick::Kind::Nth:
      return std::to_string(pick.n);
  }
  return {};
}

namespace {

using K = TableDefError::Kind;

TableDefError table_error(K kind, std::vector<std::string> texts = {},
                          std::array<uint64_t, 2> numbers = {}) {
  TableDefError e;
  e.kind = kind;
  for (std::size_t i = 0; i < texts.size() && i < e.text.size(); ++i) e.text[i] = std::move(texts[i]);
  e.number = numbers;
  return e;
}

Err<SpecError> bad_table(const std::string& table, std::optional<std::string> column,
                         TableDefError reason) {
  return err(SpecError(SpecError::BadTable{table, std::move(column), std::move(reason)}));
}

bool is_ancestor(const Spec& spec, LoopId ancestor, LoopId loop) {
  for (std::optional<LoopId> p = spec.loops[loop].parent; p; p = spec.loops[*p].parent)
    if (*p == ancestor) return true;
  return false;
}

// The "pos" of the first occurrence of a loop that opens on its trigger.
std::optional<uint64_t> trigger_pos(const LoopDef& loop) {
  for (const OccurrenceDef& o : loop.occurrences)
    if (o.opens_on(loop.trigger.segment, loop.trigger.conditions)) return o.pos;
  return std::nullopt;
}

const OccurrenceDef* find_occurrence(const LoopDef& loop, std::string_view name) {
  for (const OccurrenceDef& o : loop.occurrences)
    if (o.name == name) return &o;
  return nullptr;
}

// What an Element or SegmentIndex column reads, before it takes its form.
struct Read {
  std::optional<LoopId> loop;
  std::string segment;
  std::vector<Condition> where;
  std::optional<std::string> occurrence;
  Pick pick;
};

// A column that reads loop L above an anchor loop: the occurrence read must
// not come after the anchor loop opens, or its segments arrive once the
// anchor's rows are already appended.
Result<Unit, TableDefError> check_reached(const Spec& spec, const TableDef& table,
                                          const Read& read) {
  const LoopId l = *read.loop;
  const LoopDef& loop = spec.loops[l];
  const OccurrenceDef* first = nullptr;
  // Occurrences are sorted by pos, so the first candidate has the smallest.
  for (const OccurrenceDef& o : loop.occurrences) {
    if (read.occurrence ? o.name == *read.occurrence : o.segment == read.segment) {
      first = &o;
      break;
    }
  }
  if (first == nullptr) return Unit{};
  for (LoopId a : table.loops) {
    if (!is_ancestor(spec, l, a)) continue;
    const std::optional<uint64_t> anchor_pos = trigger_pos(spec.loops[a]);
    if (!anchor_pos) continue;
    // Only when each loop on the way up opens before the one below it do
    // positions compare across loops.
    uint64_t previous = *anchor_pos;
    bool descends = true;
    for (std::optional<LoopId> p = spec.loops[a].parent; p; p = spec.loops[*p].parent) {
      const std::optional<uint64_t> pos = trigger_pos(spec.loops[*p]);
      if (!pos || *pos >= previous) {
        descends = false;
        break;
      }
      previous = *pos;
      if (*p == l) break;
    }
    if (descends && first->pos > *anchor_pos)
      return err(table_error(K::AfterAnchor, {first->name, loop.name, spec.loops[a].name},
                             {first->pos, *anchor_pos}));
  }
  return Unit{};
}

Result<Pick, TableDefError> parse_pick(const RawPick& pick) {
  if (const auto* n = std::get_if<uint64_t>(&pick.value); n != nullptr && *n > 0)
    return Pick{Pick::Kind::Nth, *n};
  if (const auto* text = std::get_if<std::string>(&pick.value)) {
    if (*text == "first") return Pick{Pick::Kind::First, 0};
    if (*text == "last") return Pick{Pick::Kind::Last, 0};
  }
  return err(table_error(K::BadPick, {pick.written()}));
}

// The compact JSON text of a member of a decoded column object.
std::string member_text(const nlohmann::json& column, const char* key) {
  return compact_json(column.at(key));
}

// The read of a column in a table without "segment": by segment (with
// conditions) or by occurrence, in the anchor loops or in one named loop.
Result<Read, SpecError> compile_read(const Spec& spec, const TableDef& table,
                                         const RawColumn& column, const nlohmann::json& value,
                                         const std::string& column_name) {
  auto fail = [&](TableDefError reason) {
    return bad_table(table.name, column_name, std::move(reason));
  };
  Read read;
  std::vector<LoopId> loops = table.loops;
  if (column.loop) {
    const std::optional<LoopId> l = spec.loop_id(*column.loop);
    if (!l) return fail(table_error(K::UnknownLoop, {*column.loop}));
    for (LoopId a : table.loops)
      if (*l != a && !is_ancestor(spec, a, *l) && !is_ancestor(spec, *l, a))
        return fail(table_error(K::UnrelatedLoop, {*column.loop, spec.loops[a].name}));
    if (std::find(table.loops.begin(), table.loops.end(), *l) == table.loops.end()) {
      read.loop = *l;
      loops = {*l};
    }
  }

  if (!column.occurrence) {
    if (column.pick) return fail(table_error(K::PickNeedsOccurrence, {column.pick->written()}));
    if (!column.segment) return fail(table_error(K::NeedsSegment));
    if (column.segment->empty())
      return err(SpecError(SpecError::EmptySegmentId{
          std::nullopt, "tables." + render_key(table.name) + ".columns." +
                            render_key(column_name) + ".segment"}));
    if (column.where) {
      for (const auto& [key, text] : *column.where) {
        const std::optional<uint64_t> position = parse_position(key);
        if (!position) return fail(table_error(K::BadPosition, {key}));
        read.where.push_back(Condition{*position, text});
      }
      std::stable_sort(read.where.begin(), read.where.end());
    }
    if (auto held = check_held(spec.loops, loops, *column.segment); !held.ok())
      return fail(std::move(held.error()));
    read.segment = *column.segment;
    return read;
  }

  if (column.segment)
    return fail(table_error(K::OccurrenceAndSegment, {"segment", member_text(value, "segment")}));
  if (column.where)
    return fail(table_error(K::OccurrenceAndSegment, {"where", member_text(value, "where")}));
  if (column.pick) {
    auto pick = parse_pick(*column.pick);
    if (!pick.ok()) return fail(std::move(pick.error()));
    read.pick = pick.value();
  }
  const std::string& name = *column.occurrence;
  const OccurrenceDef* first = nullptr;
  LoopId first_loop = 0;
  for (LoopId l : loops) {
    const LoopDef& loop = spec.loops[l];
    const OccurrenceDef* o = find_occurrence(loop, name);
    if (o == nullptr) {
      TableDefError e = table_error(K::UnknownOccurrence, {loop.name, name});
      for (const OccurrenceDef& each : loop.occurrences) e.names.push_back(each.name);
      std::sort(e.names.begin(), e.names.end());
      return fail(std::move(e));
    }
    if (first == nullptr) {
      first = o;
      first_loop = l;
    } else if (o->segment != first->segment) {
      return fail(table_error(K::OccurrenceSegments, {name, first->segment,
                                                     spec.loops[first_loop].name, o->segment,
                                                     loop.name}));
    }
    if (column.pick && o->max == std::optional<uint64_t>(1))
      return fail(table_error(K::PickOnSingle, {name, loop.name, to_string(read.pick)}));
    if (read.pick.kind == Pick::Kind::Nth && o->max && *o->max < read.pick.n)
      return fail(table_error(K::PickBeyondMax, {name, loop.name}, {read.pick.n, *o->max}));
  }
  read.occurrence = name;
  read.segment = first->segment;
  return read;
}

Result<ColumnSource, SpecError> compile_column(const Spec& spec, const TableDef& table,
                                               const std::string& name,
                                               const nlohmann::json& value) {
  auto fail = [&](TableDefError reason) { return bad_table(table.name, name, std::move(reason)); };
  auto decoded = decode_column(value);
  if (!decoded.ok())
    return err(SpecError(SpecError::TableSchema{table.name, name, std::move(decoded.error())}));
  const RawColumn& column = decoded.value();
  if (name == "row" || name == "segment") return fail(table_error(K::ReservedName, {name}));
  if (name.empty()) return fail(table_error(K::EmptyName, {"column name"}));

  const bool index = column.segment_index;
  const uint64_t sources = (column.element ? 1 : 0) + (column.group_element ? 1 : 0) + (index ? 1 : 0);
  if (sources != 1) return fail(table_error(K::SourceCount, {}, {sources, 0}));
  if (index && column.component) return fail(table_error(K::ComponentOnIndex));
  if (column.element == std::optional<uint64_t>(0))
    return fail(table_error(K::ZeroPosition, {"element"}));
  if (column.component == std::optional<uint64_t>(0))
    return fail(table_error(K::ZeroPosition, {"component"}));

  Read read;
  if (table.segment) {
    const bool given[] = {column.segment.has_value(), column.loop.has_value(),
                          column.where.has_value(), column.occurrence.has_value(),
                          column.pick.has_value()};
    const char* const keys[] = {"segment", "loop", "where", "occurrence", "pick"};
    for (std::size_t i = 0; i < std::size(keys); ++i)
      if (given[i])
        return fail(table_error(K::AnchorSegmentOnly,
                                {keys[i], member_text(value, keys[i]), *table.segment}));
    if (column.group_element) {
      if (!table.repeat) return fail(table_error(K::GroupWithoutRepeat));
      if (*column.group_element >= table.repeat->step)
        return fail(table_error(K::OffsetBeyondStep, {}, {*column.group_element, table.repeat->step}));
      return ColumnSource(GroupElementSource{*column.group_element, column.component});
    }
    read.segment = *table.segment;
  } else {
    if (column.group_element) return fail(table_error(K::GroupWithoutRepeat));
    auto compiled = compile_read(spec, table, column, value, name);
    if (!compiled.ok()) return err(std::move(compiled.error()));
    read = std::move(compiled.value());
    if (read.loop) {
      if (auto reached = check_reached(spec, table, read); !reached.ok())
        return fail(std::move(reached.error()));
    }
  }
  if (index)
    return ColumnSource(SegmentIndexSource{read.loop, std::move(read.segment),
                                           std::move(read.where), std::move(read.occurrence),
                                           read.pick});
  return ColumnSource(ElementSource{read.loop, std::move(read.segment), std::move(read.where),
                                    std::move(read.occurrence), read.pick, *column.element,
                                    column.component});
}

Result<TableDef, SpecError> compile_table(const Spec& spec, const std::string& name,
                                          const nlohmann::json& value) {
  auto fail = [&](TableDefError reason) { return bad_table(name, std::nullopt, std::move(reason)); };
  auto decoded = decode_table(value);
  if (!decoded.ok())
    return err(SpecError(SpecError::TableSchema{name, std::nullopt, std::move(decoded.error())}));
  const RawTable& raw = decoded.value();
  TableDef table;
  table.name = name;
  if (name.empty()) return fail(table_error(K::EmptyName, {"table name"}));

  if (raw.loops.empty()) return fail(table_error(K::NoLoops));
  for (const std::string& loop_name : raw.loops) {
    const std::optional<LoopId> l = spec.loop_id(loop_name);
    if (!l) return fail(table_error(K::UnknownLoop, {loop_name}));
    if (std::find(table.loops.begin(), table.loops.end(), *l) != table.loops.end())
      return fail(table_error(K::DuplicateLoop, {loop_name}));
    table.loops.push_back(*l);
  }

  table.ref = raw.ref.value_or(name);
  if (table.ref == "row" || table.ref == "segment")
    return fail(table_error(K::ReservedName, {table.ref}));
  if (table.ref.empty()) return fail(table_error(K::EmptyName, {"ref"}));

  table.segment = raw.segment;
  if (table.segment) {
    if (table.segment->empty())
      return err(SpecError(SpecError::EmptySegmentId{std::nullopt,
                                                     "tables." + render_key(name) + ".segment"}));
    if (raw.repeat) {
      if (raw.repeat->from == 0) return fail(table_error(K::ZeroPosition, {"repeat.from"}));
      if (raw.repeat->step == 0) return fail(table_error(K::ZeroStep));
      table.repeat = Repeat{raw.repeat->from, raw.repeat->step};
    }
    if (auto held = check_held(spec.loops, table.loops, *table.segment); !held.ok())
      return fail(std::move(held.error()));
  } else {
    if (raw.repeat) return fail(table_error(K::RepeatWithoutSegment));
    for (LoopId a : table.loops)
      for (LoopId b : table.loops)
        if (a != b && is_ancestor(spec, a, b))
          return fail(table_error(K::NestedAnchors, {spec.loops[a].name, spec.loops[b].name}));
  }

  if (raw.columns != nullptr) {
    for (const auto& [column_name, column] : raw.columns->items()) {
      auto source = compile_column(spec, table, column_name, column);
      if (!source.ok()) return err(std::move(source.error()));
      table.columns.emplace_back(column_name, std::move(source.value()));
    }
  }
  return table;
}

// The tables that claim the loops from `start` up to the root, outermost first.
std::vector<std::size_t> chain_from(const Spec& spec,
                                    const std::vector<std::optional<std::size_t>>& claims,
                                    std::optional<LoopId> start) {
  std::vector<std::size_t> chain;
  for (std::optional<LoopId> l = start; l; l = spec.loops[*l].parent)
    if (claims[*l]) chain.push_back(*claims[*l]);
  std::reverse(chain.begin(), chain.end());
  return chain;
}

std::string render_table_chain(const std::vector<TableDef>& tables,
                               const std::vector<std::size_t>& chain) {
  std::vector<std::string> names;
  for (std::size_t i : chain) names.push_back(tables[i].name);
  return render_chain(names);
}

}  // namespace

Result<Unit, TableDefError> check_held(const std::vector<LoopDef>& loops,
                                       const std::vector<LoopId>& read, std::string_view segment) {
  for (LoopId l : read) {
    const LoopDef& loop = loops[l];
    const bool held = loop.trigger.segment == segment || (loop.end && *loop.end == segment) ||
                      std::find(loop.held.begin(), loop.held.end(), segment) != loop.held.end();
    if (!held) return err(table_error(K::SegmentNotHeld, {lossy_utf8(segment), loop.name}));
  }
  return Unit{};
}

Result<Unit, SpecError> link_tables(const Spec& spec, std::vector<TableDef>& tables) {
  std::vector<std::optional<std::size_t>> claims(spec.loops.size());
  for (std::size_t t = 0; t < tables.size(); ++t) {
    if (tables[t].segment) continue;
    for (LoopId l : tables[t].loops) {
      if (claims[l])
        return bad_table(tables[t].name, std::nullopt,
                         table_error(K::SharedAnchor, {spec.loops[l].name, tables[*claims[l]].name}));
      claims[l] = t;
    }
  }
  for (std::size_t t = 0; t < tables.size(); ++t)
    for (std::size_t earlier = 0; earlier < t; ++earlier)
      if (tables[earlier].ref == tables[t].ref)
        return bad_table(tables[t].name, std::nullopt,
                         table_error(K::RefTaken, {tables[t].ref, tables[earlier].name}));
  for (TableDef& table : tables) {
    std::vector<std::vector<std::size_t>> chains;
    std::size_t kept = 0;
    for (LoopId l : table.loops) {
      // A segment table's rows sit inside the anchor loop's own row.
      const std::optional<LoopId> start = table.segment ? std::optional<LoopId>(l) : spec.loops[l].parent;
      chains.push_back(chain_from(spec, claims, start));
      if (chains.back().size() > chains[kept].size()) kept = chains.size() - 1;
    }
    for (std::size_t i = 0; i < chains.size(); ++i) {
      const std::vector<std::size_t>& c = chains[i];
      if (!std::equal(c.begin(), c.end(), chains[kept].begin()))
        return bad_table(table.name, std::nullopt,
                         table_error(K::UnrelatedAnchors,
                                     {spec.loops[table.loops[kept]].name,
                                      spec.loops[table.loops[i]].name,
                                      render_table_chain(tables, chains[kept]),
                                      render_table_chain(tables, c)}));
    }
    for (const auto& [column, source] : table.columns)
      for (std::size_t t : chains[kept])
        if (column == tables[t].ref)
          return bad_table(table.name, column, table_error(K::ReservedName, {column}));
    table.chain = std::move(chains[kept]);
    table.parent = table.chain.empty() ? std::nullopt : std::optional<std::size_t>(table.chain.back());
  }
  return Unit{};
}

Result<std::vector<TableDef>, SpecError> compile_tables(const Spec& spec,
                                                        const nlohmann::json* raw) {
  std::vector<TableDef> tables;
  if (raw == nullptr || !raw->is_object()) return tables;
  for (const auto& [name, value] : raw->items()) {
    auto table = compile_table(spec, name, value);
    if (!table.ok()) return err(std::move(table.error()));
    tables.push_back(std::move(table.value()));
  }
  if (auto linked = link_tables(spec, tables); !linked.ok()) return err(std::move(linked.error()));
  return tables;
}

}  // namespace zarvi_core::spec
