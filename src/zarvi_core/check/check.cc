#include "zarvi_core/check/check.h"

#include <limits>

#include "zarvi_core/assert.h"
#include "zarvi_core/saturating.h"
#include "zarvi_core/spec/balance.h"
#include "zarvi_core/spec/render.h"

namespace zarvi_core::check {

namespace {

using engine::Event;

constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();

// One or more ASCII digits whose value fits 64 bits and equals `expected`;
// leading zeros are accepted.
bool count_matches(std::string_view text, uint64_t expected) {
  if (text.empty()) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (kMax - digit) / 10) return false;
    value = value * 10 + digit;
  }
  return value == expected;
}

}  // namespace

EnvelopeChecker::EnvelopeChecker(const spec::Spec& spec, const Delimiters& delimiters)
    : spec_(&spec),
      component_(delimiters.component),
      ordinals_(spec.loops.size(), 0),
      limits_(occurrences::limits(spec)),
      layouts_(occurrences::layouts(spec)),
      required_(occurrences::required(spec)),
      root_counts_(spec.roots.size(), 0),
      balances_(spec, limits_.bases),
      shares_(spec.weak_from_this().lock()) {
  steps_.reserve(spec.loops.size());
  for (LoopId id = 0; id < spec.loops.size(); ++id) {
    const spec::LoopDef& loop = spec.loops[id];
    steps_.push_back(LoopStep{limits_.bases[id], loop.occurrences.size(),
                              loop.end ? &*loop.end : nullptr});
  }
}

std::optional<std::string_view> EnvelopeChecker::text(const Segment& segment,
                                                      uint64_t position) {
  return segment.text(position, component_, text_buffer_);
}

void EnvelopeChecker::report_at(Rule rule, std::optional<uint64_t> segment,
                                std::optional<uint64_t> element,
                                std::optional<uint64_t> component, std::string_view datum) {
  auto name_of = [&](LoopId loop) -> const std::string& { return spec_->loops[loop].name; };
  diagnostics_.push_back(shares_.diagnostic(std::move(rule), segment, element, component, datum,
                                            std::span<const Open>(open_), name_of));
}

const SharedText& EnvelopeChecker::trigger_text(LoopId loop) {
  if (triggers_.empty()) triggers_.resize(spec_->loops.size());
  SharedText& text = triggers_[loop];
  if (text.get().empty()) text = spec::render_trigger(spec_->loops[loop].trigger);
  return text;
}

const SharedText& EnvelopeChecker::selector_text(LoopId loop, size_t occurrence) {
  if (selectors_.empty()) selectors_.resize(limits_.entries.size());
  SharedText& text = selectors_[limits_.bases[loop] + occurrence];
  if (text.get().empty()) text = spec::render_selector(spec_->loops[loop].occurrences[occurrence]);
  return text;
}

const EnvelopeChecker::SameId* EnvelopeChecker::same_id(LoopId loop, std::string_view id) {
  if (same_ids_.empty()) same_ids_.resize(spec_->loops.size());
  std::optional<std::map<std::string_view, SameId>>& ids = same_ids_[loop];
  if (!ids) {
    std::map<std::string_view, std::vector<std::string>> names;
    ids.emplace();
    for (const spec::OccurrenceDef& occ : spec_->loops[loop].occurrences) {
      names[occ.segment].push_back(occ.name);
      ids->try_emplace(occ.segment, SameId{&occ, {}});
    }
    for (auto& [segment, list] : names) (*ids)[segment].names = std::move(list);
  }
  const auto found = ids->find(id);
  return found == ids->end() ? nullptr : &found->second;
}

void EnvelopeChecker::report_at_segment(Rule rule, const Segment& segment) {
  report_at(std::move(rule), segment.index(), std::nullopt, std::nullopt, segment.id());
}

void EnvelopeChecker::first_segment(const Segment& segment) {
  if (segment.raw().starts_with(kByteOrderMark))
    report_at(Rule{Rule::ByteOrderMark{}}, 0, std::nullopt, std::nullopt, kByteOrderMark);
}

void EnvelopeChecker::unknown_segment(const Segment& segment) {
  saturating_increment(segment_counter_);
  report_at_segment(Rule{Rule::UnknownSegment{std::string(segment.id())}}, segment);
}

void EnvelopeChecker::on_open(const Segment& segment, const Event& event) {
  const LoopId id = event.loop;
  if (!ZARVI_VERIFY(id < layouts_.size())) return;  // one per loop of the spec
  const occurrences::Layout& layout = layouts_[id];
  Open* parent = open_.empty() ? nullptr : &open_.back();

  saturating_increment(ordinals_[id]);
  if (!event.implicit && parent != nullptr) saturating_increment(parent->children);

  OpenFindings findings;
  if (layout.slot) {
    uint64_t* counter = nullptr;
    if (parent != nullptr) {
      size_t at = parent->base + layouts_[parent->loop].occurrences + *layout.slot;
      if (at < counters_.size()) counter = &counters_[at];
    } else if (layout.root && *layout.slot < root_counts_.size()) {
      counter = &root_counts_[*layout.slot];
    }
    if (counter != nullptr) {
      saturating_increment(*counter);
      if (layout.max && *counter > *layout.max) findings.over_max = *counter;
    }
  }

  if (parent != nullptr && !event.implicit && layout.position) {
    if (parent->last && parent->last->position > *layout.position)
      findings.after = *parent->last;
    else
      parent->last = occurrences::OrderRecord{id, 0, *layout.position};
  }
  // Taken now: `parent` points into open_, which the push below may move.
  if (parent != nullptr) findings.parent_name = &spec_->loops[parent->loop].name;

  const size_t base = counters_.size();
  counters_.resize(base + layout.occurrences + layout.children, 0);
  const size_t depth = open_.size();
  bool has_opener = false;
  if (layout.opener && !event.implicit) {
    if (auto value = text(segment, *layout.opener)) {
      if (openers_.size() <= depth) openers_.resize(depth + 1);
      openers_[depth].assign(*value);
      has_opener = true;
    } else {
      findings.opener_missing = true;
    }
  }
  Open& instance = open_.emplace_back();
  if (!event.implicit) instance.opened = event.segment;
  instance.loop = id;
  instance.ordinal = ordinals_[id];
  instance.counter_at_open = segment_counter_;
  instance.base = base;
  instance.implicit = event.implicit;
  instance.has_opener = has_opener;
  balances_.open(id, depth);

  if (findings.over_max || findings.after || findings.opener_missing || event.implicit)
    report_open(segment, event, findings);
}

void EnvelopeChecker::report_open(const Segment& segment, const Event& event,
                                  const OpenFindings& findings) {
  const spec::LoopDef& loop = spec_->loops[event.loop];
  if (findings.over_max) {
    report_at_segment(Rule{Rule::LoopOverMax{shares_.text(loop.name), *findings.over_max,
                                             shares_.text(findings.parent_name),
                                             *layouts_[event.loop].max}},
                      segment);
  }
  if (findings.after)
    report_at_segment(occurrences::out_of_order(*spec_, shares_, event.loop, 0, *findings.after),
                      segment);
  if (findings.opener_missing) {
    const uint64_t e = loop.control->opener_element;
    report_at(Rule{Rule::ControlElementMissing{shares_.place(loop.trigger.segment, e), e}},
              event.segment, e, std::nullopt, {});
  }
  if (event.implicit)
    report_at(Rule{Rule::ImplicitLoop{shares_.text(loop.name), trigger_text(event.loop),
                                      std::string(segment.id())}},
              event.segment, std::nullopt, std::nullopt, segment.id());
}

void EnvelopeChecker::report_occurrence(const Segment& segment, LoopId loop, size_t k,
                                        bool over_max, const occurrences::OrderRecord* previous) {
  const spec::LoopDef& def = spec_->loops[loop];
  if (over_max) {
    const spec::OccurrenceDef& occ = def.occurrences[k];
    const occurrences::Limit& limit = limits_.entries[limits_.bases[loop] + k];
    const uint64_t counter = counters_[open_.back().base + k];
    report_at_segment(Rule{Rule::OccurrenceOverMax{shares_.text(occ.name), selector_text(loop, k),
                                                   shares_.text(def.name), counter, *limit.max}},
                      segment);
  }
  if (previous != nullptr)
    report_at_segment(occurrences::out_of_order(*spec_, shares_, loop, k, *previous), segment);
}

void EnvelopeChecker::check_closer(const Segment& segment, LoopId loop) {
  const spec::LoopDef& def = spec_->loops[loop];
  if (!ZARVI_VERIFY(!open_.empty() && open_.back().loop == loop)) return;
  Open& instance = open_.back();
  instance.end_seen = true;
  if (!def.control) return;
  const spec::Control& control = *def.control;
  const uint64_t at = segment.index();

  uint64_t expected;
  if (control.count == spec::Count::Children)
    expected = instance.children;
  else
    expected = segment_counter_ > instance.counter_at_open
                   ? segment_counter_ - instance.counter_at_open
                   : 0;
  const uint64_t ce = control.count_element;
  if (auto declared = text(segment, ce)) {
    if (!count_matches(*declared, expected)) {
      std::string bytes(*declared);
      report_at(Rule{Rule::ControlCountMismatch{shares_.place(*def.end, ce), bytes,
                                                expected}},
                at, ce, std::nullopt, bytes);
    }
  } else {
    report_at(Rule{Rule::ControlElementMissing{shares_.place(*def.end, ce), ce}}, at, ce,
              std::nullopt, {});
  }

  if (!instance.has_opener) return;
  instance.has_opener = false;
  const std::string& opener = openers_[open_.size() - 1];
  const std::optional<uint64_t> opened = instance.opened;
  const uint64_t cl = control.closer_element;
  if (auto closer = text(segment, cl)) {
    if (*closer != opener) {
      std::string bytes(*closer);
      report_at(Rule{Rule::ControlNumberMismatch{
                    shares_.place(*def.end, cl), bytes,
                    shares_.place(def.trigger.segment, control.opener_element),
                    opener, opened}},
                at, cl, std::nullopt, bytes);
    }
  } else {
    report_at(Rule{Rule::ControlElementMissing{shares_.place(*def.end, cl), cl}}, at, cl,
              std::nullopt, {});
  }
}

void EnvelopeChecker::unknown_occurrence(LoopId loop, const Segment& segment) {
  const SameId* same = same_id(loop, segment.id());
  if (same == nullptr || !same->first->qualifier) return;
  const spec::Qualifier& q = *same->first->qualifier;
  const std::string_view datum =
      component_text(segment, q.element, q.component).value_or(std::string_view());
  const uint64_t at = segment.index();
  report_at(Rule{Rule::UnknownOccurrence{std::string(segment.id()), same->names,
                                         shares_.text(spec_->loops[loop].name),
                                         shares_.place(same->first->segment, q.element, q.component)}},
            at, q.element, q.component, datum);
}

void EnvelopeChecker::closed(const Segment* segment) {
  if (!ZARVI_VERIFY(!open_.empty())) return;
  Open& instance = open_.back();
  const LoopId id = instance.loop;
  if (steps_[id].end != nullptr && !instance.end_seen && !instance.implicit)
    unterminated(instance, segment);

  if (!instance.implicit) {
    if (layouts_[id].position && open_.size() >= 2) {
      Open& parent = open_[open_.size() - 2];
      parent.highest_closed = occurrences::later(
          occurrences::later(instance.highest_closed, instance.last), parent.highest_closed);
    }
    for (size_t offset : required_[id]) {
      const size_t i = instance.base + offset;
      if (ZARVI_VERIFY(i < counters_.size()) && counters_[i] == 0) {
        report_missing(instance, segment);
        break;
      }
    }
  }

  if (ZARVI_VERIFY(instance.base <= counters_.size())) counters_.resize(instance.base);
  const std::optional<uint64_t> opened = instance.opened;
  balances_.close(open_.size() - 1,
                  [&](const balance::Pending& p) { balance_mismatch(p, opened); });
  open_.pop_back();
}

void EnvelopeChecker::report_at_close(Rule rule, const Segment* segment) {
  if (segment != nullptr)
    report_at(std::move(rule), segment->index(), std::nullopt, std::nullopt, segment->id());
  else
    report_at(std::move(rule), std::nullopt, std::nullopt, std::nullopt, {});
}

void EnvelopeChecker::unterminated(const Open& instance, const Segment* segment) {
  const spec::LoopDef& def = spec_->loops[instance.loop];
  report_at_close(Rule{Rule::UnterminatedLoop{shares_.text(def.name), instance.opened,
                                              shares_.text(*def.end)}},
                  segment);
}

void EnvelopeChecker::report_missing(const Open& instance, const Segment* segment) {
  const spec::LoopDef& def = spec_->loops[instance.loop];
  auto zero = [&](size_t offset) {
    const size_t i = instance.base + offset;
    return ZARVI_VERIFY(i < counters_.size()) && counters_[i] == 0;
  };
  for (size_t k = 0; k < def.occurrences.size(); ++k) {
    const spec::OccurrenceDef& occ = def.occurrences[k];
    if (occ.usage == spec::Usage::Required && zero(k))
      report_at_close(
          Rule{Rule::RequiredOccurrenceMissing{shares_.text(def.name), instance.opened,
                                               shares_.text(occ.name),
                                               selector_text(instance.loop, k)}},
          segment);
  }
  for (size_t j = 0; j < def.children.size(); ++j) {
    const LoopId child = def.children[j];
    if (!ZARVI_VERIFY(child < spec_->loops.size())) continue;
    const spec::LoopDef& c = spec_->loops[child];
    if (c.usage == spec::Usage::Required && zero(def.occurrences.size() + j))
      report_at_close(Rule{Rule::RequiredLoopMissing{shares_.text(def.name), instance.opened,
                                                     shares_.text(c.name), trigger_text(child)}},
                      segment);
  }
}

void EnvelopeChecker::balance_mismatch(const balance::Pending& pending,
                                       std::optional<uint64_t> opened) {
  if (!ZARVI_VERIFY(pending.rule < spec_->balancing.size()) || !pending.first_seen) return;
  const spec::BalanceRule& rule = spec_->balancing[pending.rule];
  if (terms_.empty()) terms_.resize(spec_->balancing.size());
  auto& [target_terms, sum_terms] = terms_[pending.rule];
  if (target_terms.get().empty()) {
    target_terms = spec::render_terms(*spec_, rule.per, rule.target);
    sum_terms = spec::render_terms(*spec_, rule.per, rule.sum);
  }
  Rule::BalanceMismatch r;
  r.rule = shares_.text(rule.name);
  if (rule.per < spec_->loops.size()) r.loop = shares_.text(spec_->loops[rule.per].name);
  r.opened_at = opened;
  r.target_terms = target_terms;
  r.target = pending.target;
  r.sum_terms = sum_terms;
  r.sum = pending.sum;
  r.scale = rule.scale;
  r.segments = pending.segments;
  const balance::TargetPlace& first = pending.first_target;
  report_at(Rule{std::move(r)}, first.segment, first.element, first.component, first.text);
}

const std::vector<Diagnostic>& EnvelopeChecker::finish() {
  diagnostics_.clear();
  while (!open_.empty()) closed(nullptr);
  counters_.clear();
  balances_.reset();
  shares_.reset();
  segment_counter_ = 0;
  std::fill(ordinals_.begin(), ordinals_.end(), 0);
  std::fill(root_counts_.begin(), root_counts_.end(), 0);
  return diagnostics_;
}

}  // namespace zarvi_core::check
