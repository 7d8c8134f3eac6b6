// Balances read each place once, or take the amount the element check
// parsed, and add through masks where they can; this checks them against a
// model that reads every term element by element, in term order, as the sums
// are defined, over seeded random segments.
#include "zarvi_core/check/balance.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../process_support.h"
#include "../small_spec.h"
#include "zarvi_core/check/occurrences.h"
#include "zarvi_core/column/parse.h"

namespace zarvi_test {
namespace {

using check::balance::Balances;
using check::balance::Pending;

// The small spec with a wide segment (70 amounts) in "head" and "side", and
// rules that share places at different scales, read elements out of order,
// read a first or a second component and pass 64 places. AM04 is required
// after an optional AM02, so that a short segment misses a required place
// beyond its last element.
spec::SpecPtr balancing_spec() {
  std::string wide_elements;
  for (int e = 1; e <= 70; ++e) {
    if (e > 1) wide_elements += ",";
    wide_elements += "\"" + std::to_string(e) + "\": {\"name\": \"w" + std::to_string(e) +
                     "\", \"type\": \"R\"" + (e == 3 ? ", \"required\": true" : "") + "}";
  }
  std::string wide_sum;
  for (int e = 2; e <= 70; ++e) wide_sum += (e == 2 ? "" : ",") + std::to_string(e);
  const std::string patch = R"({
    "loops": {"head": {"occurrences": {"wide": {"segment": "WD", "pos": 4}}},
              "side": {"occurrences": {"wide": {"segment": "WD", "pos": 33}}}},
    "segments": {"WD": {"elements": {)" + wide_elements + R"(}},
                 "AM": {"elements": {"1": {"required": true}, "4": {"required": true},
                   "5": {"name": "e", "type": "AN", "composite": {
                     "1": {"name": "y", "type": "R"}, "2": {"name": "z", "type": "R"}}}}}},
    "balancing": {
      "scaled": {"per": "head",
        "target": [{"loop": "item", "occurrence": "amount", "elements": [1]}],
        "sum": [{"loop": "item", "occurrence": "amount", "elements": [2]}]},
      "unordered": {"per": "head",
        "target": [{"loop": "item", "occurrence": "amount", "elements": [2, 1], "sign": "-"}],
        "sum": [{"loop": "item", "occurrence": "amount", "elements": [4], "component": 1}]},
      "second": {"per": "head",
        "target": [{"loop": "item", "occurrence": "amount", "elements": [5], "component": 2}],
        "sum": [{"loop": "item", "occurrence": "amount", "elements": [1]}]},
      "unscaled": {"per": "head",
        "target": [{"loop": "item", "occurrence": "amount", "elements": [1]}],
        "sum": [{"loop": "item", "occurrence": "amount", "elements": [4], "component": 1}]},
      "ordered": {"per": "head",
        "target": [{"loop": "side", "occurrence": "extra", "elements": [1, 2]}],
        "sum": [{"loop": "side", "occurrence": "extra", "elements": [4], "component": 1,
                 "sign": "-"}]},
      "shared": {"per": "head",
        "target": [{"loop": "side", "occurrence": "extra", "elements": [2]}],
        "sum": [{"loop": "side", "occurrence": "extra", "elements": [1]}]},
      "wide": {"per": "head",
        "target": [{"occurrence": "wide", "elements": [1]}],
        "sum": [{"occurrence": "wide", "elements": [)" + wide_sum + R"(]}]},
      "wide_in_order": {"per": "head",
        "target": [{"loop": "side", "occurrence": "wide", "elements": [1]}],
        "sum": [{"loop": "side", "occurrence": "wide", "elements": [)" + wide_sum + R"(]}]},
      "wide_reversed": {"per": "head",
        "target": [{"occurrence": "wide", "elements": [70]}],
        "sum": [{"occurrence": "wide", "elements": [69, 3, 2]}]}}})";
  auto compiled = spec::testing::compile_small(patch.c_str());
  if (!compiled.ok()) {
    ADD_FAILURE() << compiled.error().message();
    std::abort();
  }
  return std::move(compiled).value();
}

// A rule's pending sum as the definition reads it.
struct Model {
  i128 target = 0;
  i128 sum = 0;
  bool failed = false;
  bool target_seen = false;
  bool first_seen = false;
  uint64_t first_element = 0;
  std::string first_text;
  std::vector<uint64_t> segments;
};

void model_feed(const spec::Spec& spec, const spec::BalanceRule& rule, spec::LoopId loop,
                size_t occurrence, const Segment& segment, Model& m) {
  const std::string& id = spec.loops[loop].occurrences[occurrence].segment;
  auto terms = [&](const std::vector<spec::BalanceTerm>& list, bool target) {
    for (const spec::BalanceTerm& term : list) {
      if (term.loop != loop || term.occurrence != occurrence) continue;
      if (m.segments.empty() || m.segments.back() != segment.index())
        m.segments.push_back(segment.index());
      if (target && !m.first_seen) {
        m.first_seen = true;
        m.first_element = term.elements.front();
        m.first_text = component_text(segment, term.elements.front(), term.component)
                           .value_or(std::string_view());
      }
      for (uint64_t e : term.elements) {
        const auto text = component_text(segment, e, term.component);
        if (!text || text->empty()) {
          const spec::ElementDef* def = spec.element_def(id, e, std::nullopt);
          if (def != nullptr && def->required) m.failed = true;
          continue;
        }
        i128 value;
        if (!column::parse::parse_r_to(*text, rule.scale, value)) {
          m.failed = true;
          continue;
        }
        i128& total = target ? m.target : m.sum;
        if (__builtin_add_overflow(total, term.negative ? -value : value, &total))
          m.failed = true;
      }
      if (target) m.target_seen = true;
    }
  };
  terms(rule.target, true);
  terms(rule.sum, false);
}

TEST(Balances, MatchReadingEachTermInOrder) {
  const spec::SpecPtr spec = balancing_spec();
  const check::occurrences::Limits limits = check::occurrences::limits(*spec);
  struct Place {
    spec::LoopId loop;
    size_t occurrence;
    const char* id;
    int elements;
  };
  auto place = [&](const char* loop, const char* occurrence, const char* id, int elements) {
    const spec::LoopId l = *spec->loop_id(loop);
    const auto& occs = spec->loops[l].occurrences;
    size_t k = 0;
    while (occs[k].name != occurrence) ++k;
    return Place{l, k, id, elements};
  };
  const Place places[] = {place("item", "amount", "AM", 5), place("side", "extra", "AM", 5),
                          place("head", "wide", "WD", 72), place("side", "wide", "WD", 72)};
  const char* const values[] = {"",   "",   "1",    "-2.5", "0.0001", "10.00001", "x",  ".5",
                                "1.", "-0", "1:2", "3:x",  "77",     "12345678901234567890",
                                "99999999999999999999999999999999999999",
                                "-99999999999999999999999999999999999999",
                                "9999999999999999999999999999999999",
                                "-9999999999999999999999999999999999"};
  Balances balances(*spec, limits.bases);
  const spec::LoopId head = *spec->loop_id("head");
  std::mt19937 random(20261207);
  // Amounts parsed before the sums read them, as the element check keeps
  // them: of present simple elements, each at a scale of its own, which may
  // not be a rule's.
  auto kept_amounts = [&](const Segment& segment) {
    Amounts amounts;
    const auto elements = segment.elements();
    for (uint64_t p = 1; p <= elements.size() && p < Amounts::kPositions; ++p) {
      const Element& e = elements[p - 1];
      const uint8_t scale = static_cast<uint8_t>(random() % 6);
      i128 value;
      if (!e.is_composite() && random() % 4 != 0 &&
          column::parse::parse_r_to(e.value(), scale, value))
        amounts.keep(p, scale, value);
    }
    return amounts;
  };
  // One instance of "head" over these segments, each placed as `at` says;
  // with `kept`, the sums are also given the amounts parsed before them.
  auto check_one = [&](const std::string& text, const std::vector<const Place*>& at, bool kept) {
    SCOPED_TRACE(text);
    SCOPED_TRACE(kept ? "with kept amounts" : "reading every value");
    const std::vector<Segment> segments = frame_all(text);
    ASSERT_EQ(segments.size(), at.size());
    std::vector<Model> models(spec->balancing.size());
    balances.open(head, 0);
    for (size_t s = 0; s < segments.size(); ++s) {
      const Amounts amounts = kept_amounts(segments[s]);
      balances.feed(limits.bases[at[s]->loop] + at[s]->occurrence, segments[s],
                    kept ? &amounts : nullptr);
      for (size_t r = 0; r < models.size(); ++r)
        model_feed(*spec, spec->balancing[r], at[s]->loop, at[s]->occurrence, segments[s],
                   models[r]);
    }
    std::vector<bool> reported(models.size(), false);
    balances.close(0, [&](const Pending& p) {
      SCOPED_TRACE(spec->balancing[p.rule].name);
      const Model& m = models[p.rule];
      reported[p.rule] = true;
      EXPECT_TRUE(p.target == m.target && p.sum == m.sum);
      EXPECT_EQ(p.segments, m.segments);
      EXPECT_EQ(p.first_seen, m.first_seen);
      EXPECT_EQ(p.first_target.element, m.first_element);
      EXPECT_EQ(p.first_target.text, m.first_text);
    });
    for (size_t r = 0; r < models.size(); ++r) {
      const Model& m = models[r];
      EXPECT_EQ(reported[r], m.target_seen && !m.failed && m.target != m.sum)
          << spec->balancing[r].name;
    }
  };
  auto check = [&](const std::string& text, const std::vector<const Place*>& at) {
    check_one(text, at, false);
    check_one(text, at, true);
  };

  // Cases random segments seldom make: a total that overflows only when the
  // elements are added in term order, and every place of the wide segment.
  const std::string big = "9999999999999999999999999999999999";
  check("AM*0*-" + big + "~AM*" + big + "*-" + big + "~", {&places[0], &places[0]});
  std::string wide = "WD";
  for (int e = 1; e <= 70; ++e) wide += "*" + std::to_string(e % 7);
  check(wide + "~" + wide + "~", {&places[2], &places[3]});

  for (int round = 0; round < 3000; ++round) {
    std::string text;
    std::vector<const Place*> at;
    const int count = 1 + static_cast<int>(random() % 6);
    for (int s = 0; s < count; ++s) {
      const Place& p = places[random() % std::size(places)];
      at.push_back(&p);
      text += p.id;
      // Mostly short segments, so that the wide one's sums do not always
      // overflow.
      const unsigned most = random() % 4 == 0 ? static_cast<unsigned>(p.elements) : 6;
      const int elements = static_cast<int>(random() % most);
      for (int e = 0; e < elements; ++e) {
        text += '*';
        text += values[random() % std::size(values)];
      }
      text += '~';
    }
    check(text, at);
  }
}

}  // namespace
}  // namespace zarvi_test
