#include "zarvi_core/check/balance.h"

#include <algorithm>
#include <bit>
#include <functional>
#include <tuple>

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
  // The positions each feed reads, in term order, until its places are known,
  // and the segment id of each occurrence read.
  std::vector<std::vector<std::vector<uint64_t>>> positions(flat_count);
  std::vector<const std::string*> ids(flat_count, nullptr);
  for (size_t r = 0; r < spec.balancing.size(); ++r) {
    const spec::BalanceRule& rule = spec.balancing[r];
    if (ZARVI_VERIFY(rule.per < per_.size())) per_[rule.per].push_back(r);
    auto add_terms = [&](const std::vector<spec::BalanceTerm>& terms, bool target) {
      for (const spec::BalanceTerm& term : terms) {
        if (!ZARVI_VERIFY(term.loop < spec.loops.size() && term.loop < bases.size())) continue;
        const spec::LoopDef& loop = spec.loops[term.loop];
        if (!ZARVI_VERIFY(term.occurrence < loop.occurrences.size())) continue;
        const size_t flat = bases[term.loop] + term.occurrence;
        if (!ZARVI_VERIFY(flat < feeds_.size())) continue;
        Feed feed;
        feed.component = term.component;
        feed.rule = r;
        feed.scale = rule.scale;
        feed.target = target;
        feed.negative = term.negative;
        if (!term.elements.empty()) feed.first_position = term.elements.front();
        feeds_[flat].feeds.push_back(std::move(feed));
        positions[flat].push_back(term.elements);
        ids[flat] = &loop.occurrences[term.occurrence].segment;
      }
    };
    add_terms(rule.target, true);
    add_terms(rule.sum, false);
  }
  // Places by position, so that a segment's last element ends the reads.
  auto before = [](const Place& a, const Place& b) {
    return std::tie(a.position, a.component, a.scale) <
           std::tie(b.position, b.component, b.scale);
  };
  size_t most = 0;
  for (size_t flat = 0; flat < flat_count; ++flat) {
    OccurrenceFeeds& o = feeds_[flat];
    if (o.feeds.empty()) continue;
    for (size_t i = 0; i < o.feeds.size(); ++i) {
      for (uint64_t e : positions[flat][i]) {
        const spec::ElementDef* def = spec.element_def(*ids[flat], e, std::nullopt);
        const Place place{e, o.feeds[i].component, o.feeds[i].scale,
                          def != nullptr && def->required};
        auto at = std::lower_bound(o.places.begin(), o.places.end(), place, before);
        if (at == o.places.end() || before(place, *at)) o.places.insert(at, place);
      }
    }
    most = std::max(most, o.places.size());
    const bool narrow = o.places.size() <= 64;
    o.by_mask = narrow;
    for (size_t i = 0; i < o.feeds.size(); ++i) {
      Feed& f = o.feeds[i];
      for (uint64_t e : positions[flat][i]) {
        const Place place{e, f.component, f.scale, false};
        f.places.push_back(static_cast<uint32_t>(
            std::lower_bound(o.places.begin(), o.places.end(), place, before) -
            o.places.begin()));
      }
      f.by_mask = narrow && std::is_sorted(f.places.begin(), f.places.end(),
                                           std::less_equal<uint32_t>());
      if (f.by_mask)
        for (uint32_t p : f.places) f.mask |= uint64_t{1} << p;
      o.by_mask = o.by_mask && f.by_mask;
    }
    if (narrow)
      for (size_t p = 0; p < o.places.size(); ++p)
        if (o.places[p].required) o.required |= uint64_t{1} << p;
  }
  values_.resize(most);
  reads_.resize(most);
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

[[gnu::always_inline]] inline Balances::Read Balances::read(const Place& place,
                                                             const Segment& segment,
                                                             const Amounts* amounts, i128& value) {
  // A kept amount is of a present simple element: the text of its first
  // component too.
  if (amounts != nullptr && place.component.value_or(1) == 1)
    if (const i128* kept = amounts->find(place.position, place.scale)) {
      value = *kept;
      return Read::Value;
    }
  const auto text = component_text(segment, place.position, place.component);
  // An absent or empty value adds nothing; it fails the sum only where its
  // element is required.
  if (!text || text->empty()) return Read::Missing;
  return column::parse::parse_r_to(*text, place.scale, value) ? Read::Value : Read::Invalid;
}

[[gnu::always_inline]] inline Pending* Balances::pending_for(const Feed& f,
                                                             const Segment& segment) {
  const size_t slot = innermost_[f.rule];
  if (slot == kNone) return nullptr;
  Pending& p = pending_[slot];
  const uint64_t at = segment.index();
  if (p.segments.empty() || p.segments.back() != at) p.segments.push_back(at);
  if (f.target && !p.first_seen && !f.places.empty()) [[unlikely]] {
    p.first_seen = true;
    p.first_target.component = f.component;
    p.first_target.segment = at;
    p.first_target.element = f.first_position;
    p.first_target.text.assign(
        component_text(segment, f.first_position, f.component).value_or(std::string_view()));
  }
  return &p;
}

[[gnu::always_inline]] inline void Balances::add(Pending& p, const Feed& f, const i128& value) {
  // A negated value of at most 38 digits cannot overflow; the total can.
  i128& total = f.target ? p.target : p.sum;
  if (!checked_add(total, f.negative ? -value : value)) p.failed = true;
}

// Each place is read once; then each term adds its values in term order (the
// order matters only to when a total overflows) and fails on a value that
// does not parse or a required one that is missing.
void Balances::feed_terms(const OccurrenceFeeds& occurrence, const Segment& segment,
                          const Amounts* amounts) {
  const std::vector<Place>& places = occurrence.places;
  const size_t count = segment.elements().size();
  if (occurrence.by_mask) {
    uint64_t present = 0;
    uint64_t failing = 0;
    for (size_t i = 0; i < places.size(); ++i) {
      const Place& place = places[i];
      const uint64_t bit = uint64_t{1} << i;
      if (place.position > count) {
        failing |= occurrence.required & ~(bit - 1);
        break;
      }
      switch (read(place, segment, amounts, values_[i])) {
        case Read::Value:
          present |= bit;
          break;
        case Read::Missing:
          if (place.required) failing |= bit;
          break;
        case Read::Invalid:
          failing |= bit;
          break;
      }
    }
    for (const Feed& f : occurrence.feeds) {
      Pending* p = pending_for(f, segment);
      if (p == nullptr) continue;
      if ((f.mask & failing) != 0) p->failed = true;
      for (uint64_t bits = f.mask & present; bits != 0; bits &= bits - 1)
        add(*p, f, values_[static_cast<size_t>(std::countr_zero(bits))]);
      if (f.target) p->target_seen = true;
    }
    return;
  }
  for (size_t i = 0; i < places.size(); ++i) {
    if (places[i].position > count) {
      std::fill(reads_.begin() + static_cast<std::ptrdiff_t>(i),
                reads_.begin() + static_cast<std::ptrdiff_t>(places.size()), Read::Missing);
      break;
    }
    reads_[i] = read(places[i], segment, amounts, values_[i]);
  }
  for (const Feed& f : occurrence.feeds) {
    Pending* p = pending_for(f, segment);
    if (p == nullptr) continue;
    for (uint32_t i : f.places) {
      switch (reads_[i]) {
        case Read::Value:
          add(*p, f, values_[i]);
          break;
        case Read::Missing:
          if (places[i].required) p->failed = true;
          break;
        case Read::Invalid:
          p->failed = true;
          break;
      }
    }
    if (f.target) p->target_seen = true;
  }
}

}  // namespace zarvi_core::check::balance
