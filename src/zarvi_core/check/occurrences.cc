#include "zarvi_core/check/occurrences.h"

#include <algorithm>

namespace zarvi_core::check::occurrences {

namespace {

// `list` ascending, as roots and children are: a search, not a scan, for
// each of many siblings.
std::optional<size_t> index_in(const std::vector<LoopId>& list, LoopId id) {
  auto it = std::lower_bound(list.begin(), list.end(), id);
  if (it == list.end() || *it != id) return std::nullopt;
  return static_cast<size_t>(it - list.begin());
}

}  // namespace

Limits limits(const spec::Spec& spec) {
  Limits out;
  out.bases.reserve(spec.loops.size());
  for (const spec::LoopDef& loop : spec.loops) {
    out.bases.push_back(out.entries.size());
    for (const spec::OccurrenceDef& occ : loop.occurrences)
      out.entries.push_back(Limit{occ.pos, occ.max});
  }
  return out;
}

std::vector<Layout> layouts(const spec::Spec& spec) {
  std::vector<Layout> out;
  out.reserve(spec.loops.size());
  for (LoopId id = 0; id < spec.loops.size(); ++id) {
    const spec::LoopDef& loop = spec.loops[id];
    Layout layout;
    layout.max = loop.max;
    layout.occurrences = loop.occurrences.size();
    layout.children = loop.children.size();
    layout.root = !loop.parent;
    if (loop.control) layout.opener = loop.control->opener_element;
    if (loop.parent && *loop.parent < spec.loops.size()) {
      const spec::LoopDef& parent = spec.loops[*loop.parent];
      layout.slot = index_in(parent.children, id);
      if (!loop.occurrences.empty() && !parent.occurrences.empty() &&
          loop.occurrences.front().pos > parent.occurrences.front().pos)
        layout.position = loop.occurrences.front().pos;
    } else if (!loop.parent) {
      layout.slot = index_in(spec.roots, id);
    }
    out.push_back(layout);
  }
  return out;
}

std::vector<std::vector<size_t>> required(const spec::Spec& spec) {
  std::vector<std::vector<size_t>> out(spec.loops.size());
  for (LoopId id = 0; id < spec.loops.size(); ++id) {
    const spec::LoopDef& loop = spec.loops[id];
    for (size_t k = 0; k < loop.occurrences.size(); ++k)
      if (loop.occurrences[k].usage == spec::Usage::Required) out[id].push_back(k);
    for (size_t j = 0; j < loop.children.size(); ++j) {
      LoopId child = loop.children[j];
      if (child < spec.loops.size() && spec.loops[child].usage == spec::Usage::Required)
        out[id].push_back(loop.occurrences.size() + j);
    }
  }
  return out;
}

Rule out_of_order(const spec::Spec& spec, const Shares& shares, LoopId loop, size_t occurrence,
                  const OrderRecord& previous) {
  Rule::OutOfOrder r;
  if (loop < spec.loops.size()) {
    const spec::LoopDef& def = spec.loops[loop];
    r.loop = shares.text(def.name);
    if (occurrence < def.occurrences.size()) {
      r.occurrence = shares.text(def.occurrences[occurrence].name);
      r.position = def.occurrences[occurrence].pos;
    }
  }
  if (previous.loop < spec.loops.size()) {
    const spec::LoopDef& def = spec.loops[previous.loop];
    r.earlier_loop = shares.text(def.name);
    if (previous.occurrence < def.occurrences.size())
      r.earlier = shares.text(def.occurrences[previous.occurrence].name);
  }
  r.earlier_position = previous.position;
  return Rule{std::move(r)};
}

}  // namespace zarvi_core::check::occurrences
