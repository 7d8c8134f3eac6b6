// A small valid spec for the spec tests, and helpers that change it at JSON
// pointers and compile it.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "zarvi_core/spec/spec.h"

namespace zarvi_core::spec::testing {

using json = nlohmann::json;

inline const char* const kMiniSpec = R"({
  "name": "mini",
  "loops": {
    "interchange": {"trigger": {"segment": "ISA"}, "usage": "required", "end": "IEA",
      "control": {"opener_element": 13, "closer_element": 2, "count_element": 1, "count": "children"},
      "occurrences": {"header": {"segment": "ISA", "pos": 100, "usage": "required", "max": 1},
                      "trailer": {"segment": "IEA", "pos": 900, "usage": "required", "max": 1}}},
    "transaction": {"parent": "interchange", "trigger": {"segment": "ST"}, "end": "SE",
      "control": {"opener_element": 2, "closer_element": 2, "count_element": 1, "count": "segments"},
      "occurrences": {"header": {"segment": "ST", "pos": 100},
                      "receiver": {"segment": "REF", "pos": 200, "qualifier": {"element": 1, "codes": ["EV"]}},
                      "version": {"segment": "REF", "pos": 300, "qualifier": {"element": 1, "codes": ["F2"]}},
                      "date": {"segment": "DTM", "pos": 400, "codes": {"1": ["405"]}}}},
    "1000A": {"parent": "transaction", "trigger": {"segment": "N1", "where": {"1": "PR"}}, "max": 1,
      "occurrences": {"payer": {"segment": "N1", "pos": 100, "qualifier": {"element": 1, "codes": ["PR"]}},
                      "address": {"segment": "N3", "pos": 200}}},
    "1000B": {"parent": "transaction", "trigger": {"segment": "N1", "where": {"1": "PE"}}, "max": 1,
      "occurrences": {"payee": {"segment": "N1", "pos": 100, "qualifier": {"element": 1, "codes": ["PE"]}},
                      "address": {"segment": "N3", "pos": 200}}},
    "2110": {"parent": "transaction", "trigger": {"segment": "SVC"}, "max": 999,
      "occurrences": {"service": {"segment": "SVC", "pos": 100}, "date": {"segment": "DTM", "pos": 200, "max": 3}}}
  },
  "segments": {
    "N1": {"elements": {"1": {"name": "entity", "type": "ID", "required": true, "codes": ["PE", "PR"]},
                        "2": {"name": "name", "type": "AN", "min": 1, "max": 60}}},
    "REF": {"elements": {"1": {"name": "qualifier", "type": "ID", "min": 2, "max": 3},
                         "2": {"name": "value", "type": "AN"}}},
    "DTM": {"elements": {"1": {"name": "qualifier", "type": "ID"}, "2": {"name": "date", "type": "DT"}}},
    "SVC": {"elements": {"1": {"name": "procedure", "type": "AN", "composite": {
                                 "1": {"name": "qualifier", "type": "ID", "codes": ["HC", "NU"]}, "2": {"name": "code", "type": "AN"}}},
                         "2": {"name": "charge", "type": "R"}, "5": {"name": "units", "type": "R", "scale": 4}}}
  }
})";

inline json mini() { return json::parse(kMiniSpec); }

// A marker for `edit`: remove the member at the pointer.
inline json removed() { return json(json::value_t::discarded); }

// `base` with each (JSON pointer, value) applied in order.
inline json edit(json base, const std::vector<std::pair<std::string, json>>& changes) {
  for (const auto& [pointer, value] : changes) {
    const json::json_pointer p(pointer);
    if (value.is_discarded()) base[p.parent_pointer()].erase(p.back());
    else base[p] = value;
  }
  return base;
}

// The message of the compile error, or "ok".
template <class R>
std::string message_or_ok(const R& r) { return r.ok() ? std::string("ok") : r.error().message(); }
inline std::string outcome(json value) { return message_or_ok(Spec::from_value(std::move(value))); }
inline std::string outcome_text(std::string_view text) { return message_or_ok(Spec::from_json(text)); }

struct EditCase {
  const char* name;
  std::vector<std::pair<std::string, json>> changes;
  std::string expected;
};

// Each case's edits applied to the mini spec compile to its expected outcome.
template <size_t N>
void expect_outcomes(const EditCase (&cases)[N]) {
  for (const EditCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(outcome(edit(mini(), c.changes)), c.expected);
  }
}

}  // namespace zarvi_core::spec::testing
