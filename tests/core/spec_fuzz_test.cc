// Mutates a valid spec at random and checks that every outcome is a Spec or
// one SpecError, and that every Spec keeps the invariants its readers rely on.
#include <gtest/gtest.h>

#include <limits>
#include <random>

#include "spec_fixture.h"
#include "zarvi_core/spec/spec.h"

namespace zarvi_core::spec {
namespace {

using namespace testing;

// Every JSON pointer in the value, the root included.
void pointers(const json& v, const json::json_pointer& at, std::vector<json::json_pointer>& out) {
  out.push_back(at);
  if (v.is_object()) {
    for (const auto& [key, item] : v.items()) pointers(item, at / key, out);
  } else if (v.is_array()) {
    for (size_t i = 0; i < v.size(); ++i) pointers(v[i], at / i, out);
  }
}

json odd_value(std::mt19937& rng, const json& elsewhere) {
  switch (rng() % 18) {
    case 0: return nullptr;
    case 1: return true;
    case 2: return 0;
    case 3: return -1;
    case 4: return 2.5;
    case 5: return json::parse("1e30");
    case 6: return UINT64_MAX;
    case 7: return "";
    case 8: return "x";
    case 9: return std::string("\xFF\xC0 .#/\"");
    case 10: return json::array();
    case 11: return json::object();
    case 12: return json::array({"a", 1});
    case 13: return elsewhere;
    case 14: {
      json deep = 1;
      const int depth = static_cast<int>(rng() % 80);
      for (int i = 0; i < depth; ++i) deep = json::array({std::move(deep)});
      return deep;
    }
    case 15: return json::binary({1, 2, 3});
    case 16: return std::numeric_limits<double>::quiet_NaN();
    default: return std::to_string(rng() % 1000);
  }
}

std::string odd_key(std::mt19937& rng) {
  const char* keys[] = {"", "a.b", "01", "0", "1", "10", "x y", "q\"uote", "\xFF", "segment",
                        "pos", "max", "codes", "where", "trigger", "parent", "ISA"};
  return keys[rng() % std::size(keys)];
}

void mutate(json& spec, std::mt19937& rng) {
  std::vector<json::json_pointer> all;
  pointers(spec, json::json_pointer(), all);
  const json::json_pointer at = all[rng() % all.size()];
  const json elsewhere = spec[all[rng() % all.size()]];
  if (at.empty()) {
    if (rng() % 8 == 0) spec = odd_value(rng, elsewhere);
    return;
  }
  json& parent = spec[at.parent_pointer()];
  switch (rng() % 4) {
    case 0:  // drop
      if (parent.is_object()) {
        parent.erase(at.back());
      } else if (parent.is_array()) {
        parent.erase(std::stoul(at.back()));
      }
      break;
    case 1:  // duplicate under another key, or append again
      if (parent.is_object()) {
        parent[odd_key(rng)] = spec[at];
      } else if (parent.is_array()) {
        parent.push_back(spec[at]);
      }
      break;
    case 2:  // rename
      if (parent.is_object()) {
        json moved = std::move(parent[at.back()]);
        parent.erase(at.back());
        parent[odd_key(rng)] = std::move(moved);
      }
      break;
    default:  // retype
      spec[at] = odd_value(rng, elsewhere);
      break;
  }
}

void check_invariants(const Spec& s) {
  ASSERT_FALSE(s.loops.empty());
  for (size_t i = 1; i < s.loops.size(); ++i) ASSERT_LT(s.loops[i - 1].name, s.loops[i].name);
  for (LoopId id = 0; id < s.loops.size(); ++id) {
    const LoopDef& l = s.loops[id];
    ASSERT_FALSE(l.trigger.segment.empty());
    ASSERT_NE(l.max, std::optional<uint64_t>(0));
    for (LoopId c : l.children) ASSERT_EQ(s.loops[c].parent, id);
    ASSERT_LE(s.ancestors(id).size(), s.loops.size());
    ASSERT_TRUE(std::is_sorted(l.occurrences.begin(), l.occurrences.end(),
                               [](const OccurrenceDef& a, const OccurrenceDef& b) { return a.pos < b.pos; }));
    ASSERT_NE(trigger_occurrence(l.occurrences, l.trigger), nullptr);
  }
  for (LoopId r : s.roots) ASSERT_FALSE(s.loops[r].parent.has_value());
}

TEST(SpecFuzz, MutatedSpecsCompileOrFailWithOneError) {
  constexpr int kRounds = 1000;
  std::mt19937 rng(20261206);
  const json base = mini();
  size_t compiled = 0;
  for (int round = 0; round < kRounds; ++round) {
    json spec = base;
    const int changes = 1 + static_cast<int>(rng() % 3);
    for (int i = 0; i < changes; ++i) mutate(spec, rng);
    auto r = Spec::from_value(spec);
    if (r.ok()) {
      ++compiled;
      check_invariants(**r);
      ASSERT_EQ((*r)->source, spec);
    } else {
      ASSERT_FALSE(r.error().message().empty());
      ASSERT_FALSE(r.error().debug().empty());
    }
  }
  // The mutations leave some specs valid; the run covers both outcomes.
  EXPECT_GT(compiled, 0u);
  EXPECT_LT(compiled, static_cast<size_t>(kRounds));
}

TEST(SpecFuzz, DamagedTextIsRefusedCleanly) {
  std::mt19937 rng(7);
  const std::string text = mini().dump();
  for (int round = 0; round < 500; ++round) {
    std::string damaged = text;
    const int flips = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < flips; ++i) {
      const size_t at = rng() % damaged.size();
      switch (rng() % 3) {
        case 0: damaged[at] = static_cast<char>(rng()); break;
        case 1: damaged.erase(at, 1 + rng() % 8); break;
        default: damaged.insert(at, 1, "{}[]\",:\\"[rng() % 8]); break;
      }
      if (damaged.empty()) damaged = "x";
    }
    auto r = Spec::from_json(damaged);
    if (!r.ok()) {
      ASSERT_FALSE(r.error().message().empty());
    }
  }
}

}  // namespace
}  // namespace zarvi_core::spec
