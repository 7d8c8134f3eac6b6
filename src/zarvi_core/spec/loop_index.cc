#include "zarvi_core/spec/loop_index.h"

#include <algorithm>
#include <string>

namespace zarvi_core::spec {

LoopIndex::LoopIndex(const std::vector<LoopDef>& loops, const std::vector<LoopId>& roots)
    : loops_(loops),
      place_(loops.size(), 0),
      end_(loops.size(), 0),
      opener_pos_(loops.size()),
      rises_(loops.size(), 0) {
  preorder_.reserve(loops.size());
  std::vector<LoopId> pending(roots.rbegin(), roots.rend());
  while (!pending.empty()) {
    const LoopId id = pending.back();
    pending.pop_back();
    place_[id] = preorder_.size();
    preorder_.push_back(id);
    pending.insert(pending.end(), loops[id].children.rbegin(), loops[id].children.rend());
  }
  // Each loop's subtree size, children before parents.
  std::vector<std::size_t> size(loops.size(), 1);
  for (auto it = preorder_.rbegin(); it != preorder_.rend(); ++it) {
    if (const std::optional<LoopId> parent = loops[*it].parent) size[*parent] += size[*it];
    end_[*it] = place_[*it] + size[*it];
  }

  for (LoopId id = 0; id < loops.size(); ++id) {
    const LoopDef& loop = loops[id];
    if (const OccurrenceDef* opener = trigger_occurrence(loop.occurrences, loop.trigger))
      opener_pos_[id] = opener->pos;
    for (std::size_t i = 0; i < loop.occurrences.size(); ++i) {
      names_.push_back({id, loop.occurrences[i].name, i});
      segments_.push_back({id, loop.occurrences[i].segment, i});
    }
    for (const std::string& segment : loop.held) held_.push_back({id, segment, 0});
  }
  std::sort(names_.begin(), names_.end());
  std::sort(segments_.begin(), segments_.end());
  std::sort(held_.begin(), held_.end());

  for (LoopId id : preorder_) {
    const std::optional<LoopId> parent = loops[id].parent;
    if (!parent) continue;
    const std::optional<uint64_t> below = opener_pos_[id];
    const std::optional<uint64_t> above = opener_pos_[*parent];
    rises_[id] = rises_[*parent] + (!below || !above || *above >= *below ? 1 : 0);
  }
}

std::optional<std::size_t> LoopIndex::find(const std::vector<Entry>& entries, LoopId loop,
                                           std::string_view key) {
  // The lowest index comes first among equal keys.
  auto it = std::lower_bound(entries.begin(), entries.end(), Entry{loop, key, 0});
  if (it == entries.end() || it->loop != loop || it->key != key) return std::nullopt;
  return it->index;
}

std::optional<std::size_t> LoopIndex::occurrence(LoopId loop, std::string_view name) const {
  return find(names_, loop, name);
}

std::optional<std::size_t> LoopIndex::first_of_segment(LoopId loop,
                                                       std::string_view segment) const {
  return find(segments_, loop, segment);
}

bool LoopIndex::holds(LoopId loop, std::string_view segment) const {
  const LoopDef& def = loops_[loop];
  return def.trigger.segment == segment || (def.end && *def.end == segment) ||
         find(held_, loop, segment).has_value();
}

}  // namespace zarvi_core::spec
