#include "zarvi_core/check/balance.h"

#include <algorithm>

#include "zarvi_core/assert.h"
#include "zarvi_core/column/parse.h"
#include "zarvi_core/segment.h"

namespace zarvi_core::check::balance {

namespace {

bool checked_add(i128& total, i128 value) {
  i128 out;
  if (__builtin_add_overflow(total, value, &out)) return false;
  total = out;
  return true;
}

}  // namespace

Balances::Balances(const spec::Spec& spec, std::span<const size_t> bases)
    : per_(spec.loops.size()), innermost_(spec.balancing.size(), kNone) {
  size_t flat_count = 0;
  for (const spec::LoopDef& loop : spec.loops) flat_count += loop.occurrences.size();
  feeds_.resize(flat_count);
  for (size_t r = 0; r < spec.balancing.size(); ++r) {
    const spec::BalanceRule& rule = spec.balancing[r];
    if (ZARVI_VERIFY(rule.per < per_.size())) per_[rule.per].push_back(r);
    auto add_terms = [&](const std::vector<spec::BalanceTerm>& terms, bool target) {
      for (const spec::BalanceTerm& term : terms) {
        if (!ZARVI_VERIFY(term.loop < spec.loops.size() && term.loop < bases.size())) continue;
        const spec::LoopDef& loop = spec.loops[term.loop];
        if (!ZARVI_VERIFY(term.occurrence < loop.occurrences.size())) continue;
        const std::string& id = loop.occurrences[term.occurrence].segment;
        Feed feed;
        feed.component = term.component;
        feed.rule = r;
        feed.scale = rule.scale;
        feed.target = target;
        feed.negative = term.negative;
        for (uint64_t e : term.elements) {
          const spec::ElementDef* def = spec.element_def(id, e, std::nullopt);
          feed.elements.push_back(TermElement{e, def != nullptr && def->required, kNoSlot});
        }
        size_t flat = bases[term.loop] + term.occurrence;
        if (ZARVI_VERIFY(flat < feeds_.size())) feeds_[flat].push_back(std::move(feed));
      }
    };
    add_terms(rule.target, true);
    add_terms(rule.sum, false);
  }
  for (std::vector<Feed>& feeds : feeds_) {
    struct Place {
      uint64_t position;
      std::optional<uint64_t> component;
      uint8_t scale;
    };
    std::vector<Place> places;
    for (Feed& f : feeds) {
      for (TermElement& e : f.elements) {
        const Place place{e.position, f.component, f.scale};
        size_t i = 0;
        while (i < places.size() &&
               !(places[i].position == place.position && places[i].component == place.component &&
                 places[i].scale == place.scale))
          ++i;
        if (i == places.size()) places.push_back(place);
        e.slot = i < 32 ? static_cast<uint8_t>(i) : kNoSlot;
      }
    }
  }
}

void Balances::open(LoopId loop, size_t depth) {
  if (!ZARVI_VERIFY(loop < per_.size())) return;
  for (size_t r : per_[loop]) {
    if (live_ == pending_.size()) pending_.emplace_back();
    Pending& p = pending_[live_];
    p.target = 0;
    p.sum = 0;
    p.first_seen = false;
    p.segments.clear();
    p.rule = r;
    p.depth = depth;
    p.shadowed = innermost_[r];
    p.target_seen = false;
    p.failed = false;
    innermost_[r] = live_++;
  }
}

void Balances::reset() {
  live_ = 0;
  std::fill(innermost_.begin(), innermost_.end(), kNone);
}

void Balances::feed_terms(const std::vector<Feed>& feeds, const Segment& segment) {
  const uint64_t at = segment.index();
  // Values parsed for this segment, by slot: bit i of `parsed` says
  // values[i] holds slot i's value, bit i of `invalid` that it has none.
  i128 values[32];
  uint32_t parsed = 0;
  uint32_t invalid = 0;
  for (const Feed& f : feeds) {
    const size_t slot = innermost_[f.rule];
    if (slot == kNone) continue;
    Pending& p = pending_[slot];
    if (p.segments.empty() || p.segments.back() != at) p.segments.push_back(at);
    i128& total = f.target ? p.target : p.sum;
    if (f.target && !p.first_seen && !f.elements.empty()) [[unlikely]] {
      const uint64_t position = f.elements.front().position;
      p.first_seen = true;
      p.first_target.component = f.component;
      p.first_target.segment = at;
      p.first_target.element = position;
      p.first_target.text.assign(
          component_text(segment, position, f.component).value_or(std::string_view()));
    }
    for (const TermElement& e : f.elements) {
      const auto text = component_text(segment, e.position, f.component);
      // An absent or empty value adds nothing; it fails the sum only where
      // its element is required.
      if (!text || text->empty()) {
        if (e.required) p.failed = true;
        continue;
      }
      i128 value;
      const uint32_t bit = e.slot < 32 ? uint32_t{1} << e.slot : 0;
      if ((parsed & bit) != 0) {
        if ((invalid & bit) != 0) {
          p.failed = true;
          continue;
        }
        value = values[e.slot];
      } else {
        parsed |= bit;
        if (!column::parse::parse_r_to(*text, f.scale, value)) {
          invalid |= bit;
          p.failed = true;
          continue;
        }
        if (bit != 0) values[e.slot] = value;
      }
      // A negated value of at most 38 digits cannot overflow; the total can.
      if (!checked_add(total, f.negative ? -value : value)) p.failed = true;
    }
    if (f.target) p.target_seen = true;
  }
}

}  // namespace zarvi_core::check::balance
