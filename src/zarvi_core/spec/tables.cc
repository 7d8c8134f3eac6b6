#include "zarvi_core/spec/tables.h"

#include <algorithm>
#include <map>
#include <set>

#include <nlohmann/json.hpp>

#include "zarvi_core/spec/compile.h"
#include "zarvi_core/spec/spec.h"
#include "zarvi_core/spec/elements.h"
#include "zarvi_core/spec/loop_index.h"
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

const OccurrenceDef* find_occurrence(const Spec& spec, const LoopIndex& index, LoopId loop,
                                     std::string_view name) {
  const std::optional<std::size_t> at = index.occurrence(loop, name);
  return at ? &spec.loops[loop].occurrences[*at] : nullptr;
}

// The anchor loops of a table and what its columns ask of all of them. A
// table may list thousands of anchors and thousands of columns, so each
// question is answered once, or by a binary search, as whether every anchor
// passes; a column that does not pass is then checked anchor by anchor, for
// the message about the first that fails.
class Anchors {
 public:
  Anchors(const Spec& spec, const LoopIndex& index, const std::vector<LoopId>& loops)
      : spec_(spec), index_(index), loops_(loops) {
    by_place_.reserve(loops.size());
    for (std::size_t i = 0; i < loops.size(); ++i) by_place_.emplace_back(index.place(loops[i]), i);
    std::sort(by_place_.begin(), by_place_.end());
  }

  // The first anchor, in the order written, that encloses another, and the
  // first of those it encloses. The anchors are distinct.
  std::optional<std::pair<LoopId, LoopId>> first_nested() const {
    std::vector<std::size_t> sorted_at(loops_.size());
    for (std::size_t p = 0; p < by_place_.size(); ++p) sorted_at[by_place_[p].second] = p;
    for (std::size_t i = 0; i < loops_.size(); ++i) {
      // The loops an anchor encloses are placed right after it.
      const std::size_t end = index_.end(loops_[i]);
      std::size_t inner = loops_.size();
      for (std::size_t p = sorted_at[i] + 1; p < by_place_.size() && by_place_[p].first < end; ++p)
        inner = std::min(inner, by_place_[p].second);
      if (inner < loops_.size()) return std::pair{loops_[i], loops_[inner]};
    }
    return std::nullopt;
  }

  bool contains(LoopId loop) const {
    const std::size_t place = index_.place(loop);
    auto it = std::lower_bound(by_place_.begin(), by_place_.end(), std::pair{place, std::size_t{0}});
    return it != by_place_.end() && it->first == place;
  }

  // Whether each anchor is `loop`, encloses it or lies inside it. Anchors
  // that do not nest: at most one encloses `loop`, the last placed before it.
  bool all_related(LoopId loop) const {
    const auto at = [&](std::size_t place) {
      return std::lower_bound(by_place_.begin(), by_place_.end(), std::pair{place, std::size_t{0}});
    };
    const auto inside = at(index_.place(loop));
    std::size_t related = static_cast<std::size_t>(at(index_.end(loop)) - inside);
    if (inside != by_place_.begin() && index_.encloses(loops_[std::prev(inside)->second], loop))
      ++related;
    return related == loops_.size();
  }

  // Whether every anchor holds `segment`. A segment is looked for in every
  // anchor once: one that passes stands for an occurrence in each anchor, so
  // the looking costs no more than the spec wrote.
  bool all_hold(std::string_view segment) {
    if (held_.find(segment) != held_.end()) return true;
    for (LoopId l : loops_)
      if (!index_.holds(l, segment)) return false;
    held_.emplace(segment);
    return true;
  }

  // Whether every anchor has the occurrence, all of one segment, and the
  // column's pick (if `picked`) reads a repeat that each may have. Each name
  // is looked for in every anchor once, as a segment is.
  bool all_pick(const std::string& occurrence, bool picked, const Pick& pick) {
    auto [it, fresh] = named_.try_emplace(occurrence);
    Named& named = it->second;
    if (fresh) {
      const std::string* segment = nullptr;
      for (LoopId l : loops_) {
        const OccurrenceDef* o = find_occurrence(spec_, index_, l, occurrence);
        if (o == nullptr || (segment != nullptr && o->segment != *segment)) {
          named.whole = false;
          break;
        }
        segment = &o->segment;
        named.single = named.single || o->max == std::optional<uint64_t>(1);
        if (o->max) named.least_max = std::min(named.least_max.value_or(*o->max), *o->max);
      }
    }
    if (!named.whole || (picked && named.single)) return false;
    return !(pick.kind == Pick::Kind::Nth && named.least_max && *named.least_max < pick.n);
  }

  // Whether no anchor inside `outer` whose way up to it descends opens at a
  // "pos" below `pos`.
  bool none_opens_below(LoopId outer, uint64_t pos) {
    if (!lowest_) {
      lowest_.emplace();
      for (LoopId l : loops_) {
        const std::optional<uint64_t> opener = index_.opener_pos(l);
        if (!opener) continue;
        auto [it, fresh] = lowest_->try_emplace(index_.rises(l), *opener);
        if (!fresh) it->second = std::min(it->second, *opener);
      }
    }
    auto it = lowest_->find(index_.rises(outer));
    return it == lowest_->end() || it->second >= pos;
  }

 private:
  struct Named {
    bool whole = true;  // every anchor has it, all of one segment
    bool single = false;  // some anchor has it at most once
    std::optional<uint64_t> least_max;
  };

  const Spec& spec_;
  const LoopIndex& index_;
  const std::vector<LoopId>& loops_;
  std::vector<std::pair<std::size_t, std::size_t>> by_place_;  // (place, index in loops_)
  std::set<std::string, std::less<>> held_;
  std::map<std::string, Named, std::less<>> named_;
  // The lowest opener "pos" of the anchors by their rises().
  std::optional<std::map<std::size_t, uint64_t>> lowest_;
};

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
Result<Unit, TableDefError> check_reached(const Spec& spec, const LoopIndex& index,
                                          const TableDef& table, Anchors& anchors,
                                          const Read& read) {
  const LoopId l = *read.loop;
  const LoopDef& loop = spec.loops[l];
  const std::optional<std::size_t> at =
      read.occurrence ? index.occurrence(l, *read.occurrence) : index.first_of_segment(l, read.segment);
  if (!at) return Unit{};
  const OccurrenceDef* first = &loop.occurrences[*at];
  if (anchors.none_opens_below(l, first->pos)) return Unit{};
  for (LoopId a : table.loops) {
    if (!index.encloses(l, a)) continue;
    const std::optional<uint64_t> anchor_pos = index.opener_pos(a);
    if (!anchor_pos) continue;
    // Only when each loop on the way up opens before the one below it do
    // positions compare across loops.
    if (index.descends(a, l) && first->pos > *anchor_pos)
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
Result<Read, SpecError> compile_read(const Spec& spec, const LoopIndex& index,
                                     const TableDef& table, Anchors& anchors,
                                     const RawColumn& column, const nlohmann::json& value,
                                     const std::string& column_name) {
  auto fail = [&](TableDefError reason) {
    return bad_table(table.name, column_name, std::move(reason));
  };
  Read read;
  if (column.loop) {
    const std::optional<LoopId> l = spec.loop_id(*column.loop);
    if (!l) return fail(table_error(K::UnknownLoop, {*column.loop}));
    if (!anchors.all_related(*l)) {
      for (LoopId a : table.loops)
        if (*l != a && !index.encloses(a, *l) && !index.encloses(*l, a))
          return fail(table_error(K::UnrelatedLoop, {*column.loop, spec.loops[a].name}));
    }
    if (!anchors.contains(*l)) read.loop = *l;
  }
  // The loops read: the anchors, or the one loop the column names.
  std::vector<LoopId> named;
  if (read.loop) named.push_back(*read.loop);
  const std::vector<LoopId>& loops = read.loop ? named : table.loops;

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
    if (read.loop || !anchors.all_hold(*column.segment)) {
      if (auto held = check_held(spec.loops, index, loops, *column.segment); !held.ok())
        return fail(std::move(held.error()));
    }
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
  read.occurrence = name;
  if (!read.loop && anchors.all_pick(name, column.pick.has_value(), read.pick)) {
    read.segment = find_occurrence(spec, index, loops.front(), name)->segment;
    return read;
  }
  const OccurrenceDef* first = nullptr;
  LoopId first_loop = 0;
  for (LoopId l : loops) {
    const LoopDef& loop = spec.loops[l];
    const OccurrenceDef* o = find_occurrence(spec, index, l, name);
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
  read.segment = first->segment;
  return read;
}

Result<ColumnSource, SpecError> compile_column(const Spec& spec, const LoopIndex& index,
                                               const TableDef& table, Anchors& anchors,
                                               const std::string& name,
                                               const nlohmann::json& value) {
  auto fail = [&](TableDefError reason) { return bad_table(table.name, name, std::move(reason)); };
  auto decoded = decode_column(value);
  if (!decoded.ok())
    return err(SpecError(SpecError::TableSchema{table.name, name, std::move(decoded.error())}));
  const RawColumn& column = decoded.value();
  if (name == "row" || name == "segment") return fail(table_error(K::ReservedName, {name}));
  if (name.empty()) return fail(table_error(K::EmptyName, {"column name"}));

  const bool segment_index = column.segment_index;
  const uint64_t sources =
      (column.element ? 1 : 0) + (column.group_element ? 1 : 0) + (segment_index ? 1 : 0);
  if (sources != 1) return fail(table_error(K::SourceCount, {}, {sources, 0}));
  if (segment_index && column.component) return fail(table_error(K::ComponentOnIndex));
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
    auto compiled = compile_read(spec, index, table, anchors, column, value, name);
    if (!compiled.ok()) return err(std::move(compiled.error()));
    read = std::move(compiled.value());
    if (read.loop) {
      if (auto reached = check_reached(spec, index, table, anchors, read); !reached.ok())
        return fail(std::move(reached.error()));
    }
  }
  if (segment_index)
    return ColumnSource(SegmentIndexSource{read.loop, std::move(read.segment),
                                           std::move(read.where), std::move(read.occurrence),
                                           read.pick});
  return ColumnSource(ElementSource{read.loop, std::move(read.segment), std::move(read.where),
                                    std::move(read.occurrence), read.pick, *column.element,
                                    column.component});
}

Result<TableDef, SpecError> compile_table(const Spec& spec, const LoopIndex& index,
                                          const std::string& name, const nlohmann::json& value) {
  auto fail = [&](TableDefError reason) { return bad_table(name, std::nullopt, std::move(reason)); };
  auto decoded = decode_table(value);
  if (!decoded.ok())
    return err(SpecError(SpecError::TableSchema{name, std::nullopt, std::move(decoded.error())}));
  const RawTable& raw = decoded.value();
  TableDef table;
  table.name = name;
  if (name.empty()) return fail(table_error(K::EmptyName, {"table name"}));

  if (raw.loops.empty()) return fail(table_error(K::NoLoops));
  std::set<LoopId> listed;
  for (const std::string& loop_name : raw.loops) {
    const std::optional<LoopId> l = spec.loop_id(loop_name);
    if (!l) return fail(table_error(K::UnknownLoop, {loop_name}));
    if (!listed.insert(*l).second) return fail(table_error(K::DuplicateLoop, {loop_name}));
    table.loops.push_back(*l);
  }
  Anchors anchors(spec, index, table.loops);

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
    if (auto held = check_held(spec.loops, index, table.loops, *table.segment); !held.ok())
      return fail(std::move(held.error()));
  } else {
    if (raw.repeat) return fail(table_error(K::RepeatWithoutSegment));
    if (const auto nested = anchors.first_nested())
      return fail(table_error(K::NestedAnchors,
                              {spec.loops[nested->first].name, spec.loops[nested->second].name}));
  }

  if (raw.columns != nullptr) {
    for (const auto& [column_name, column] : raw.columns->items()) {
      auto source = compile_column(spec, index, table, anchors, column_name, column);
      if (!source.ok()) return err(std::move(source.error()));
      table.columns.emplace_back(column_name, std::move(source.value()));
    }
  }
  return table;
}

// Chains of enclosing tables as a trie: a node is table `table` inside the
// chain of node `up`; node 0 is the empty chain. Equal chains are one node,
// so a chain is a prefix of another exactly when it is the other's node or
// one above it.
struct ChainNode {
  std::size_t table = 0;
  std::size_t up = 0;
  std::size_t length = 0;
};

// The tables of a node's chain, outermost first.
std::vector<std::size_t> chain_of(const std::vector<ChainNode>& nodes, std::size_t node) {
  std::vector<std::size_t> chain(nodes[node].length);
  for (std::size_t n = node; n != 0; n = nodes[n].up) chain[nodes[n].length - 1] = nodes[n].table;
  return chain;
}

std::string render_table_chain(const std::vector<TableDef>& tables,
                               const std::vector<std::size_t>& chain) {
  std::vector<std::string> names;
  for (std::size_t i : chain) names.push_back(tables[i].name);
  return render_chain(names);
}

}  // namespace

Result<Unit, TableDefError> check_held(const std::vector<LoopDef>& loops, const LoopIndex& index,
                                       const std::vector<LoopId>& read, std::string_view segment) {
  for (LoopId l : read) {
    if (!index.holds(l, segment))
      return err(table_error(K::SegmentNotHeld, {lossy_utf8(segment), loops[l].name}));
  }
  return Unit{};
}

Result<Unit, SpecError> link_tables(const Spec& spec, const LoopIndex& index,
                                    std::vector<TableDef>& tables) {
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
  {
    // The first table of each ref.
    std::map<std::string_view, std::size_t> refs;
    for (std::size_t t = 0; t < tables.size(); ++t) {
      const auto [first, fresh] = refs.try_emplace(tables[t].ref, t);
      if (!fresh)
        return bad_table(tables[t].name, std::nullopt,
                         table_error(K::RefTaken, {tables[t].ref, tables[first->second].name}));
    }
  }
  // The chain of tables around the rows inside each loop, parents first.
  std::vector<ChainNode> nodes(1);
  std::map<std::pair<std::size_t, std::size_t>, std::size_t> node_of;  // (table, up)
  std::vector<std::size_t> inside(spec.loops.size(), 0);
  for (LoopId l : index.preorder()) {
    std::size_t n = spec.loops[l].parent ? inside[*spec.loops[l].parent] : 0;
    if (claims[l]) {
      const auto [it, fresh] = node_of.try_emplace({*claims[l], n}, nodes.size());
      if (fresh) nodes.push_back({*claims[l], n, nodes[n].length + 1});
      n = it->second;
    }
    inside[l] = n;
  }
  for (TableDef& table : tables) {
    std::vector<std::size_t> chains;  // a node per anchor loop
    std::size_t kept = 0;
    for (LoopId l : table.loops) {
      // A segment table's rows sit inside the anchor loop's own row.
      const std::optional<LoopId> start = table.segment ? std::optional<LoopId>(l) : spec.loops[l].parent;
      chains.push_back(start ? inside[*start] : 0);
      if (nodes[chains.back()].length > nodes[chains[kept]].length) kept = chains.size() - 1;
    }
    // The longest chain's node at each length: every chain must be one.
    std::vector<std::size_t> prefix(nodes[chains[kept]].length + 1, 0);
    for (std::size_t n = chains[kept]; n != 0; n = nodes[n].up) prefix[nodes[n].length] = n;
    for (std::size_t i = 0; i < chains.size(); ++i) {
      if (prefix[nodes[chains[i]].length] != chains[i])
        return bad_table(table.name, std::nullopt,
                         table_error(K::UnrelatedAnchors,
                                     {spec.loops[table.loops[kept]].name,
                                      spec.loops[table.loops[i]].name,
                                      render_table_chain(tables, chain_of(nodes, chains[kept])),
                                      render_table_chain(tables, chain_of(nodes, chains[i]))}));
    }
    std::vector<std::size_t> chain = chain_of(nodes, chains[kept]);
    // The first column, in name order, named as the ref of an enclosing table.
    const auto& columns = table.columns;
    std::size_t taken = columns.size();
    for (std::size_t t : chain) {
      const std::string& ref = tables[t].ref;
      auto it = std::lower_bound(columns.begin(), columns.end(), ref,
                                 [](const auto& column, const std::string& r) { return column.first < r; });
      if (it != columns.end() && it->first == ref)
        taken = std::min(taken, static_cast<std::size_t>(it - columns.begin()));
    }
    if (taken < columns.size())
      return bad_table(table.name, columns[taken].first,
                       table_error(K::ReservedName, {columns[taken].first}));
    table.chain = std::move(chain);
    table.parent = table.chain.empty() ? std::nullopt : std::optional<std::size_t>(table.chain.back());
  }
  return Unit{};
}

Result<std::vector<TableDef>, SpecError> compile_tables(const Spec& spec, const LoopIndex& index,
                                                        const nlohmann::json* raw) {
  std::vector<TableDef> tables;
  if (raw == nullptr || !raw->is_object()) return tables;
  for (const auto& [name, value] : raw->items()) {
    auto table = compile_table(spec, index, name, value);
    if (!table.ok()) return err(std::move(table.error()));
    tables.push_back(std::move(table.value()));
  }
  if (auto linked = link_tables(spec, index, tables); !linked.ok())
    return err(std::move(linked.error()));
  return tables;
}

}  // namespace zarvi_core::spec
