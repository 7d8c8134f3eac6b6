#include "zarvi_core/spec/loops.h"

#include <algorithm>
#include <compare>
#include <iterator>
#include <map>
#include <string_view>

#include "zarvi_core/spec/compile.h"
#include "zarvi_core/spec/render.h"
#include "zarvi_core/text.h"

namespace zarvi_core::spec {
namespace {

std::optional<std::string> parent_name(const std::vector<LoopDef>& loops, const LoopDef& loop) {
  if (!loop.parent) return std::nullopt;
  return loops[*loop.parent].name;
}

SpecError conflict_error(const std::vector<LoopDef>& loops, const LoopDef& a, const LoopDef& b) {
  const std::vector<Condition>& ca = a.trigger.conditions;
  if (ca == b.trigger.conditions) {
    std::vector<std::pair<uint64_t, std::string>> conditions;
    conditions.reserve(ca.size());
    for (const Condition& c : ca) conditions.emplace_back(c.position, lossy_utf8(c.value));
    return SpecError::AmbiguousTrigger{a.name, b.name, parent_name(loops, a),
                                       lossy_utf8(a.trigger.segment), std::move(conditions)};
  }
  return SpecError::OverlappingTriggers{parent_name(loops, a), a.name, b.name,
                                        render_trigger(a.trigger), render_trigger(b.trigger)};
}

// Orders condition lists by their positions alone.
std::strong_ordering compare_positions(const std::vector<Condition>& a,
                                       const std::vector<Condition>& b) {
  return std::lexicographical_compare_three_way(
      a.begin(), a.end(), b.begin(), b.end(),
      [](const Condition& x, const Condition& y) { return x.position <=> y.position; });
}

using Pair = std::pair<LoopId, LoopId>;

// The first conflicting pair, earlier loop first, among siblings that share
// one trigger segment. Two siblings conflict when their conditions are
// identical, or when they agree at every position both test and each tests
// a position the other does not: neither is then more specific.
//
// Comparing every pair is quadratic, so the siblings are first split on a
// position they test with several values, one part per value; a sibling
// that does not test it joins every part, which copies it, so all splits
// together copy a few times the siblings' conditions and no more. Each part
// is then grouped by the set of positions its siblings test: within a set
// only identical triggers conflict; across two sets neither of which holds
// the other, siblings conflict when they agree on the positions the sets
// share; across other sets never. The cost follows siblings times sets, and
// the best pair so far skips every part and pair of sets that cannot hold a
// smaller one.
class ConflictSearch {
 public:
  explicit ConflictSearch(const std::vector<LoopDef>& loops) : loops_(loops) {}

  // `members` ascending.
  std::optional<Pair> first(const std::vector<LoopId>& members) {
    best_.reset();
    std::vector<LoopId> tested;
    std::vector<LoopId> bare;  // every trigger is more specific than these
    size_t total = 0;
    for (LoopId id : members) {
      if (conditions(id).empty()) {
        bare.push_back(id);
      } else {
        tested.push_back(id);
        total += weight(id);
      }
    }
    if (bare.size() >= 2) offer(bare[0], bare[1]);
    budget_ = kCopies * total;
    parts_.clear();
    parts_.push_back(std::move(tested));
    while (!parts_.empty()) {
      const std::vector<LoopId> part = std::move(parts_.back());
      parts_.pop_back();
      if (part.size() < 2 || beaten(part[0], part[1])) continue;
      if (!split(part)) group(part);
    }
    return best_;
  }

 private:
  // How many times the siblings' own weight all splits may create.
  static constexpr size_t kCopies = 8;

  struct Entry {
    uint64_t position;
    std::string_view value;
    LoopId id;
    friend auto operator<=>(const Entry&, const Entry&) = default;
  };

  struct Group {
    size_t begin;  // into order_
    size_t end;
    LoopId first;  // smallest id
  };

  const std::vector<Condition>& conditions(LoopId id) const { return loops_[id].trigger.conditions; }

  // What scanning a sibling, or copying it into a part, costs.
  size_t weight(LoopId id) const { return 1 + conditions(id).size(); }

  bool one_set(const std::vector<LoopId>& part) const {
    return std::all_of(part.begin(), part.end(), [&](LoopId id) {
      return compare_positions(conditions(part[0]), conditions(id)) == 0;
    });
  }

  void offer(LoopId a, LoopId b) {
    const Pair p{std::min(a, b), std::max(a, b)};
    if (!best_ || p < *best_) best_ = p;
  }

  // Whether no pair from a and b (a < b) or after can beat the best.
  bool beaten(LoopId a, LoopId b) const { return best_ && !(Pair{a, b} < *best_); }

  // Splits `part` (ascending) on the position whose parts copy least, or
  // returns false when no split is worth its copies.
  bool split(const std::vector<LoopId>& part) {
    // Siblings that all test one set of positions are grouped at once.
    if (one_set(part)) return false;
    entries_.clear();
    size_t total = 0;
    for (LoopId id : part) {
      total += weight(id);
      for (const Condition& c : conditions(id)) entries_.push_back({c.position, c.value, id});
    }
    std::sort(entries_.begin(), entries_.end());
    size_t cheapest = static_cast<size_t>(-1);
    size_t pivot_begin = 0;
    size_t pivot_end = 0;
    for (size_t at = 0; at < entries_.size();) {
      size_t end = at;
      size_t values = 0;
      size_t testers = 0;
      for (; end < entries_.size() && entries_[end].position == entries_[at].position; ++end) {
        if (end == at || entries_[end].value != entries_[end - 1].value) ++values;
        testers += weight(entries_[end].id);
      }
      const size_t copied = testers + values * (total - testers);
      if (values >= 2 && copied < cheapest) cheapest = copied, pivot_begin = at, pivot_end = end;
      at = end;
    }
    if (cheapest > budget_) return false;
    budget_ -= cheapest;
    ids_.clear();
    for (size_t i = pivot_begin; i < pivot_end; ++i) ids_.push_back(entries_[i].id);
    std::sort(ids_.begin(), ids_.end());
    untested_.clear();
    std::set_difference(part.begin(), part.end(), ids_.begin(), ids_.end(),
                        std::back_inserter(untested_));
    const size_t first_new = parts_.size();
    for (size_t at = pivot_begin; at < pivot_end;) {
      size_t end = at + 1;
      while (end < pivot_end && entries_[end].value == entries_[at].value) ++end;
      std::vector<LoopId> child;
      child.reserve(end - at + untested_.size());
      auto u = untested_.begin();
      for (; at < end; ++at) {
        for (; u != untested_.end() && *u < entries_[at].id; ++u) child.push_back(*u);
        child.push_back(entries_[at].id);
      }
      child.insert(child.end(), u, untested_.end());
      parts_.push_back(std::move(child));
    }
    // The part with the smallest first pair is searched first: the pair it
    // finds prunes the others.
    const auto first_pair = [](const std::vector<LoopId>& p) {
      return Pair{p[0], p.size() > 1 ? p[1] : static_cast<LoopId>(-1)};
    };
    std::sort(parts_.begin() + static_cast<std::ptrdiff_t>(first_new), parts_.end(),
              [&](const auto& a, const auto& b) { return first_pair(b) < first_pair(a); });
    return true;
  }

  void group(const std::vector<LoopId>& part) {
    order_.assign(part.begin(), part.end());
    // By positions, then values, then id: each set of positions is one run,
    // and identical triggers are runs within it, smallest ids first.
    const bool same_positions = one_set(part);
    std::sort(order_.begin(), order_.end(), [&](LoopId a, LoopId b) {
      const std::vector<Condition>& ca = conditions(a);
      const std::vector<Condition>& cb = conditions(b);
      if (!same_positions) {
        if (const auto o = compare_positions(ca, cb); o != 0) return o < 0;
      }
      if (const auto o = ca <=> cb; o != 0) return o < 0;
      return a < b;
    });
    groups_.clear();
    for (size_t at = 0; at < order_.size();) {
      size_t end = at + 1;
      while (end < order_.size() &&
             compare_positions(conditions(order_[at]), conditions(order_[end])) == 0) {
        ++end;
      }
      groups_.push_back({at, end, *std::min_element(order_.begin() + static_cast<std::ptrdiff_t>(at),
                                                    order_.begin() + static_cast<std::ptrdiff_t>(end))});
      for (size_t run = at; run < end;) {
        size_t next = run + 1;
        while (next < end && conditions(order_[next]) == conditions(order_[run])) ++next;
        if (next - run >= 2) offer(order_[run], order_[run + 1]);
        run = next;
      }
      at = end;
    }
    std::sort(groups_.begin(), groups_.end(),
              [](const Group& a, const Group& b) { return a.first < b.first; });
    for (size_t i = 0; i + 1 < groups_.size(); ++i) {
      if (beaten(groups_[i].first, groups_[i + 1].first)) break;
      for (size_t j = i + 1; j < groups_.size(); ++j) {
        if (beaten(groups_[i].first, groups_[j].first)) break;
        cross(groups_[i], groups_[j]);
      }
    }
  }

  // The pairs with one sibling in each of two groups.
  void cross(const Group& g, const Group& h) {
    const std::vector<Condition>& cg = conditions(order_[g.begin]);
    const std::vector<Condition>& ch = conditions(order_[h.begin]);
    shared_[0].clear();
    shared_[1].clear();
    bool g_only = false;
    bool h_only = false;
    for (size_t x = 0, y = 0; x < cg.size() || y < ch.size();) {
      if (y == ch.size() || (x < cg.size() && cg[x].position < ch[y].position)) {
        g_only = true, ++x;
      } else if (x == cg.size() || ch[y].position < cg[x].position) {
        h_only = true, ++y;
      } else {
        shared_[0].push_back(x++);
        shared_[1].push_back(y++);
      }
    }
    // One set within the other: one trigger is more specific, or they differ.
    if (!g_only || !h_only) return;
    if (shared_[0].empty()) {
      offer(g.first, h.first);
      return;
    }
    // Siblings that agree on the shared positions conflict; the best pair of
    // each run of equal values takes the smallest id of either group.
    sides_.clear();
    for (size_t i = g.begin; i < g.end; ++i) sides_.push_back({order_[i], 0});
    for (size_t i = h.begin; i < h.end; ++i) sides_.push_back({order_[i], 1});
    const auto compare = [&](const std::pair<LoopId, int>& a, const std::pair<LoopId, int>& b) {
      const std::vector<Condition>& ca = conditions(a.first);
      const std::vector<Condition>& cb = conditions(b.first);
      for (size_t k = 0; k < shared_[0].size(); ++k) {
        const std::string& va = ca[shared_[a.second][k]].value;
        const std::string& vb = cb[shared_[b.second][k]].value;
        if (const int c = va.compare(vb); c != 0) return c;
      }
      return 0;
    };
    std::sort(sides_.begin(), sides_.end(), [&](const auto& a, const auto& b) {
      if (const int c = compare(a, b); c != 0) return c < 0;
      return a.first < b.first;
    });
    for (size_t at = 0; at < sides_.size();) {
      std::optional<LoopId> smallest[2];
      size_t end = at;
      for (; end < sides_.size() && compare(sides_[at], sides_[end]) == 0; ++end) {
        if (!smallest[sides_[end].second]) smallest[sides_[end].second] = sides_[end].first;
      }
      if (smallest[0] && smallest[1]) offer(*smallest[0], *smallest[1]);
      at = end;
    }
  }

  const std::vector<LoopDef>& loops_;
  std::optional<Pair> best_;
  size_t budget_ = 0;  // weight that splits may still create
  std::vector<std::vector<LoopId>> parts_;
  // Scratch reused across parts.
  std::vector<Entry> entries_;
  std::vector<LoopId> ids_;
  std::vector<LoopId> untested_;
  std::vector<LoopId> order_;
  std::vector<Group> groups_;
  std::vector<size_t> shared_[2];  // indices of the shared positions in each group's conditions
  std::vector<std::pair<LoopId, int>> sides_;
};

// The first conflicting pair of one sibling group: pairs are enumerated by
// the earlier loop, then the later one, and only loops with one trigger
// segment can conflict.
Result<Unit, SpecError> check_group(const std::vector<LoopDef>& loops,
                                    const std::vector<LoopId>& group) {
  std::map<std::string_view, std::vector<LoopId>> by_segment;
  for (LoopId id : group) by_segment[loops[id].trigger.segment].push_back(id);
  ConflictSearch search(loops);
  std::optional<Pair> first;
  for (const auto& [segment, members] : by_segment) {
    std::optional<Pair> p = search.first(members);
    if (p && (!first || *p < *first)) first = p;
  }
  if (first) return err(conflict_error(loops, loops[first->first], loops[first->second]));
  return Unit{};
}

}  // namespace

Result<Control, ControlError> compile_control(const RawControl& raw, bool has_end) {
  if (!has_end) return err(ControlError::NoEnd{});
  if (raw.opener_element == 0) return err(ControlError::ZeroPosition{"opener_element"});
  if (raw.closer_element == 0) return err(ControlError::ZeroPosition{"closer_element"});
  if (raw.count_element == 0) return err(ControlError::ZeroPosition{"count_element"});
  Count count;
  if (raw.count == "segments") {
    count = Count::Segments;
  } else if (raw.count == "children") {
    count = Count::Children;
  } else {
    return err(ControlError::UnknownCount{raw.count});
  }
  return Control{raw.opener_element, raw.closer_element, raw.count_element, count};
}

Result<Unit, SpecError> check_cycles(const std::vector<LoopDef>& loops) {
  // A loop from which a walk reached a root is known to lead to none; later
  // walks stop there, so the whole check stays linear in the loop count.
  std::vector<bool> acyclic(loops.size(), false);
  // Place of each loop on the current walk, or npos.
  constexpr size_t npos = static_cast<size_t>(-1);
  std::vector<size_t> on_walk(loops.size(), npos);
  std::vector<LoopId> walk;
  for (LoopId start = 0; start < loops.size(); ++start) {
    walk.clear();
    std::optional<LoopId> at = start;
    while (at && !acyclic[*at]) {
      if (on_walk[*at] != npos) {
        std::vector<std::string> members;
        for (size_t k = on_walk[*at]; k < walk.size(); ++k) members.push_back(loops[walk[k]].name);
        return err(SpecError::Cycle{std::move(members)});
      }
      on_walk[*at] = walk.size();
      walk.push_back(*at);
      at = loops[*at].parent;
    }
    for (LoopId id : walk) {
      acyclic[id] = true;
      on_walk[id] = npos;
    }
  }
  return Unit{};
}

std::vector<LoopId> link_children(std::vector<LoopDef>& loops) {
  std::vector<LoopId> roots;
  for (LoopDef& loop : loops) loop.children.clear();
  for (LoopId id = 0; id < loops.size(); ++id) {
    if (loops[id].parent) {
      loops[*loops[id].parent].children.push_back(id);
    } else {
      roots.push_back(id);
    }
  }
  return roots;
}

Result<Unit, SpecError> check_ambiguity(const std::vector<LoopDef>& loops,
                                        const std::vector<LoopId>& roots) {
  if (auto r = check_group(loops, roots); !r.ok()) return r;
  for (const LoopDef& loop : loops) {
    if (auto r = check_group(loops, loop.children); !r.ok()) return r;
  }
  return Unit{};
}

}  // namespace zarvi_core::spec
