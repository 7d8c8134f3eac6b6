#include "zarvi_core/spec/occurrences.h"

#include <algorithm>
#include <map>
#include <string_view>
#include <utility>

#include "zarvi_core/spec/compile.h"
#include "zarvi_core/spec/render.h"
#include "zarvi_core/text.h"

namespace zarvi_core::spec {
namespace {

using E = OccurrenceError;

// An occurrence's code list for the element it names: the qualifier's
// "codes" or one entry of "codes".
Result<std::vector<std::string>, OccurrenceError> code_list(const std::string& subject,
                                                            const std::vector<std::string>& codes,
                                                            const ElementDef& element) {
  if (codes.empty()) return err(E::EmptyCodes{subject});
  if (element.composite) return err(E::BadCodes{subject, ElementDefError::CodesOnComposite{}});
  if (element.type.is_numeric()) {
    return err(E::BadCodes{subject, ElementDefError::CodesOnNumeric{type_code(element.type)}});
  }
  auto compiled = compile_codes(codes, element.type, element.min, element.max);
  if (!compiled.ok()) return err(E::BadCodes{subject, std::move(compiled).error()});
  return std::move(compiled).value();
}

// "<element>" or "<element>-<component>", split at the first "-".
std::optional<CodePlace> parse_code_key(std::string_view key) {
  const size_t dash = key.find('-');
  const std::optional<uint64_t> element = parse_position(key.substr(0, dash));
  if (!element) return std::nullopt;
  if (dash == std::string_view::npos) return CodePlace{*element, std::nullopt};
  const std::optional<uint64_t> component = parse_position(key.substr(dash + 1));
  if (!component) return std::nullopt;
  return CodePlace{*element, component};
}

std::string join(const std::vector<std::string>& items) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += ", ";
    out += items[i];
  }
  return out;
}

Result<OccurrenceDef, SpecError> compile_occurrence(const std::string& loop_name,
                                                    const std::string& name,
                                                    const RawOccurrence& raw,
                                                    const SegmentMap& segments) {
  auto wrap = [&](OccurrenceError reason) {
    return err(SpecError::BadOccurrence{loop_name, name, std::move(reason)});
  };
  if (name.empty()) return wrap(E::EmptyName{});
  if (raw.segment.empty()) {
    return err(SpecError::EmptySegmentId{loop_name, child(child("occurrences", name), "segment")});
  }
  const std::optional<Usage> usage = parse_usage(raw.usage);
  if (!usage) return wrap(E::UnknownUsage{*raw.usage});
  if (raw.max && *raw.max == 0) return wrap(E::ZeroMax{});

  OccurrenceDef def{name, raw.segment, raw.pos, *usage, raw.max, std::nullopt, {}};
  if (raw.qualifier) {
    const RawQualifier& q = *raw.qualifier;
    const std::string place = element_place(raw.segment, q.element, q.component);
    const ElementDef* element = find_element(segments, raw.segment, q.element, q.component);
    if (element == nullptr) return wrap(E::UndefinedElement{"qualifier", place, raw.segment});
    auto codes = code_list("qualifier.codes", q.codes, *element);
    if (!codes.ok()) return wrap(std::move(codes).error());
    for (const std::string& code : *codes) {
      if (element->rejects_code(code)) {
        return wrap(E::QualifierCodeOutsideElement{code, place, join(element->codes)});
      }
    }
    def.qualifier = Qualifier{q.element, q.component, std::move(codes).value()};
  }
  for (const auto& [key, list] : raw.codes) {
    const std::optional<CodePlace> at = parse_code_key(key);
    if (!at) return wrap(E::BadCodesKey{key});
    if (def.qualifier && def.qualifier->element == at->element &&
        def.qualifier->component == at->component) {
      return wrap(E::QualifierInCodes{key});
    }
    const std::string subject = "codes." + key;
    const ElementDef* element = find_element(segments, raw.segment, at->element, at->component);
    if (element == nullptr) {
      return wrap(E::UndefinedElement{
          subject, element_place(raw.segment, at->element, at->component), raw.segment});
    }
    auto codes = code_list(subject, list, *element);
    if (!codes.ok()) return wrap(std::move(codes).error());
    def.codes.emplace(*at, std::move(codes).value());
  }
  return def;
}

// Why `later` cannot be told apart from `earlier`, an occurrence of the
// same segment; none when their qualifiers keep them apart.
std::optional<OccurrenceError> indistinct(const OccurrenceDef& earlier,
                                          const OccurrenceDef& later) {
  if (!earlier.qualifier || !later.qualifier) return E::Indistinct{later.segment, earlier.name};
  const Qualifier& a = *earlier.qualifier;
  const Qualifier& b = *later.qualifier;
  if (a.element == b.element && a.component == b.component) {
    for (const std::string& code : a.codes) {
      if (b.accepts(code)) return E::SharedCode{later.segment, earlier.name, code};
    }
    return std::nullopt;
  }
  return E::QualifierPlaces{element_place(later.segment, b.element, b.component), earlier.name,
                            element_place(earlier.segment, a.element, a.component)};
}

// The first pair (earlier, later) of occurrences of one segment that cannot
// be told apart, enumerated by the earlier, then the later, in key order.
// Found per segment without trying every pair: for each occurrence, the
// first later one that offends is the first with another qualifier place
// (or none), or the first at the same place that shares one of its codes.
std::optional<std::pair<size_t, size_t>> first_indistinct(const std::vector<OccurrenceDef>& occs) {
  using Place = std::optional<CodePlace>;
  auto place_of = [&](size_t i) -> Place {
    const std::optional<Qualifier>& q = occs[i].qualifier;
    if (!q) return std::nullopt;
    return CodePlace{q->element, q->component};
  };
  std::map<std::string_view, std::vector<size_t>> by_segment;
  for (size_t i = 0; i < occs.size(); ++i) by_segment[occs[i].segment].push_back(i);
  std::optional<std::pair<size_t, size_t>> first;
  for (const auto& [segment, group] : by_segment) {
    const size_t n = group.size();
    // next_other[t]: the first u > t whose place differs from group[t]'s.
    std::vector<size_t> next_other(n, n);
    for (size_t t = n - 1; t-- > 0;) {
      next_other[t] = place_of(group[t + 1]) != place_of(group[t]) ? t + 1 : next_other[t + 1];
    }
    // Where each code is accepted: (place, code) -> ascending u.
    std::map<std::pair<CodePlace, std::string_view>, std::vector<size_t>> holders;
    for (size_t t = 0; t < n; ++t) {
      if (const std::optional<Qualifier>& q = occs[group[t]].qualifier) {
        for (const std::string& code : q->codes) {
          holders[{CodePlace{q->element, q->component}, code}].push_back(t);
        }
      }
    }
    for (size_t t = 0; t + 1 < n; ++t) {
      const std::optional<Qualifier>& q = occs[group[t]].qualifier;
      size_t u = q ? next_other[t] : t + 1;
      if (q) {
        for (const std::string& code : q->codes) {
          const std::vector<size_t>& at = holders[{CodePlace{q->element, q->component}, code}];
          auto later = std::upper_bound(at.begin(), at.end(), t);
          if (later != at.end()) u = std::min(u, *later);
        }
      }
      if (u < n) {
        const std::pair<size_t, size_t> pair{group[t], group[u]};
        if (!first || pair < *first) first = pair;
        break;
      }
    }
  }
  return first;
}

}  // namespace

bool OccurrenceDef::opens_on(std::string_view segment_id,
                             std::span<const Condition> conditions) const {
  if (segment_id != segment) return false;
  if (!qualifier) return true;
  if (qualifier->component) return false;
  return std::any_of(conditions.begin(), conditions.end(), [&](const Condition& c) {
    return c.position == qualifier->element && qualifier->accepts(c.value);
  });
}

Result<std::vector<OccurrenceDef>, SpecError> compile_occurrences(
    const std::string& loop_name, const std::map<std::string, RawOccurrence>& occurrences,
    const SegmentMap& segments) {
  std::vector<OccurrenceDef> out;
  out.reserve(occurrences.size());
  for (const auto& [name, raw] : occurrences) {
    auto def = compile_occurrence(loop_name, name, raw, segments);
    if (!def.ok()) return err(std::move(def).error());
    out.push_back(std::move(def).value());
  }
  if (std::optional<std::pair<size_t, size_t>> pair = first_indistinct(out)) {
    auto [earlier, later] = *pair;
    return err(SpecError::BadOccurrence{loop_name, out[later].name,
                                        std::move(*indistinct(out[earlier], out[later]))});
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const OccurrenceDef& a, const OccurrenceDef& b) { return a.pos < b.pos; });
  return out;
}

const OccurrenceDef* trigger_occurrence(const std::vector<OccurrenceDef>& occurrences,
                                        const Trigger& trigger) {
  for (const OccurrenceDef& occ : occurrences) {
    if (occ.opens_on(trigger.segment, trigger.conditions)) return &occ;
  }
  return nullptr;
}

Result<Unit, SpecError> check_trigger(const std::string& loop_name,
                                      const std::vector<OccurrenceDef>& occurrences,
                                      const Trigger& trigger) {
  const OccurrenceDef* opener = trigger_occurrence(occurrences, trigger);
  if (opener == nullptr) {
    const bool held =
        std::any_of(occurrences.begin(), occurrences.end(),
                    [&](const OccurrenceDef& o) { return o.segment == trigger.segment; });
    return err(SpecError::UnmatchedTrigger{loop_name, render_trigger(trigger), held});
  }
  if (opener->qualifier) {
    const Qualifier& q = *opener->qualifier;
    // The opener opens on the trigger, so a condition at q.element exists.
    std::string_view required;
    for (const Condition& c : trigger.conditions) {
      if (c.position == q.element && q.accepts(c.value)) {
        required = c.value;
        break;
      }
    }
    for (const std::string& code : q.codes) {
      if (code != required) {
        return err(SpecError::TriggerQualifierWider{loop_name, opener->name,
                                                    render_trigger(trigger), code});
      }
    }
  }
  for (const OccurrenceDef& occ : occurrences) {
    if (&occ != opener && occ.pos <= opener->pos) {
      return err(
          SpecError::TriggerNotFirst{loop_name, occ.name, occ.pos, opener->name, opener->pos});
    }
  }
  return Unit{};
}

}  // namespace zarvi_core::spec
