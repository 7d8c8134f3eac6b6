#include "zarvi_core/write/plan.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "write_spec.h"
#include "zarvi_core/spec/builtin.h"

namespace zarvi_core::write::plan {
namespace {

using testing::compile_tiny;
using testing::loop_of;

// The plan's outcome for the tiny spec with `patch` merged over it: "ok" or
// the refusal text.
std::string outcome(const char* patch) {
  const spec::SpecPtr spec = compile_tiny(patch);
  if (spec == nullptr) return "does not compile";
  auto planned = WritePlan::make(*spec);
  return planned.ok() ? "ok" : planned.error().text();
}

std::string refused(const std::string& reason) {
  return "spec \"tiny\" cannot be written (1 reason)\n1. " + reason;
}

TEST(WritePlan, Refusals) {
  struct Case {
    const char* name;
    const char* patch;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"the tiny spec plans", "{}", "ok"},
      {"envelope occurrence",
       R"({"tables": {"items": {"columns": {"st": {"loop": "top", "segment": "ST", "element": 1}}}}})",
       refused(R"(table "items" column "st" reads the envelope occurrence "header" of loop "top", which the envelope and the writer's counts give)")},
      {"loop of the envelope",
       R"({"tables": {"items": {"columns": {"r": {"loop": "top", "occurrence": "ref", "element": 2}}}}})",
       refused(R"(table "items" column "r" reads loop "top", whose instances the envelope writes)")},
      {"loop with rows of another table",
       R"({"tables": {"subs": {"loops": ["sub"], "columns": {"c": {"loop": "item", "occurrence": "note", "element": 2}}}}})",
       refused(R"(table "subs" column "c" reads loop "item", whose instances table "items" writes)")},
      {"element written twice",
       R"({"tables": {"items": {"columns": {"a": {"segment": "IT", "element": 1}}}}})",
       refused(R"(table "items" column "n" writes IT01 of occurrence "item" in loop "item", which column "a" already writes)")},
      {"several occurrences match",
       R"({"tables": {"items": {"columns": {"r": {"segment": "RF", "element": 2}}}}})",
       refused(R"(table "items" column "r" reads "RF" in loop "item", which matches 2 of its occurrences ("ref_a", "ref_b"); name one with "occurrence")")},
      {"no occurrence matches",
       R"({"tables": {"items": {"columns": {"r": {"segment": "RF", "where": {"1": "D"}, "element": 2}}}}})",
       refused(R"(table "items" column "r" reads "RF" where {1: "D"} in loop "item", which matches none of its occurrences)")},
      {"anchor segment matches several",
       R"({"tables": {"rfs": {"loops": ["item"], "segment": "RF", "columns": {"v": {"element": 2}}}}})",
       refused(R"(table "rfs" anchor segment reads "RF" in loop "item", which matches 2 of its occurrences ("ref_a", "ref_b"); name one with "occurrence")")},
      {"picks with a gap",
       R"({"tables": {"items": {"columns": {"c1": {"occurrence": "note", "pick": 1, "element": 2},
                                            "c3": {"occurrence": "note", "pick": 3, "element": 2}}}}})",
       refused(R"(table "items" column "c3" picks occurrence "note" of loop "item" out of series (picks 1, 3); the picks of one occurrence must run from 1 with none missing, or be a lone "last")")},
      {"last among others",
       R"({"tables": {"items": {"columns": {"c1": {"occurrence": "note", "pick": "last", "element": 2},
                                            "c2": {"occurrence": "note", "element": 1}}}}})",
       refused(R"(table "items" column "c1" picks occurrence "note" of loop "item" out of series (picks "first", "last"); the picks of one occurrence must run from 1 with none missing, or be a lone "last")")},
      {"a lone second pick",
       R"({"tables": {"items": {"columns": {"c2": {"occurrence": "note", "pick": 2, "element": 2}}}}})",
       refused(R"(table "items" column "c2" picks occurrence "note" of loop "item" out of series (picks 2); the picks of one occurrence must run from 1 with none missing, or be a lone "last")")},
      {"required loop", R"({"loops": {"sub": {"usage": "required"}}})",
       refused(R"(loop "sub" (trigger "SB" with no conditions) is required in every "item", but no table is anchored on it and no column reads it)")},
      {"required occurrence", R"({"loops": {"item": {"occurrences": {"note": {"usage": "required"}}}}})",
       refused(R"(occurrence "note" ("NT") is required in every loop "item", but no column writes it)")},
      {"required element",
       R"({"segments": {"IT": {"elements": {"2": {"name": "kind", "type": "ID", "required": true, "codes": ["P", "Q"]}}}}})",
       refused(R"(required element IT02 (kind) of occurrence "item" in loop "item", written by table "items", has no column and no single code to write)")},
      {"required component of a written composite",
       R"({"segments": {"IT": {"elements": {"3": {"name": "pair", "type": "AN", "composite": {
             "1": {"name": "left", "type": "AN"}, "2": {"name": "right", "type": "AN", "required": true}}}}}},
           "tables": {"items": {"columns": {"l": {"segment": "IT", "element": 3, "component": 1}}}}})",
       refused(R"(required element IT03-2 (right) of occurrence "item" in loop "item", written by table "items", has no column and no single code to write)")},
      // A column without component writes component 1 of a composite.
      {"required composite written without component",
       R"({"segments": {"IT": {"elements": {"3": {"name": "pair", "type": "AN", "required": true, "composite": {
             "1": {"name": "left", "type": "AN", "required": true}, "2": {"name": "right", "type": "AN"}}}}}},
           "tables": {"items": {"columns": {"l": {"segment": "IT", "element": 3}}}}})",
       "ok"},
      {"optional composite written without component",
       R"({"segments": {"IT": {"elements": {"3": {"name": "pair", "type": "AN", "composite": {
             "1": {"name": "left", "type": "AN"}, "2": {"name": "right", "type": "AN", "required": true}}}}}},
           "tables": {"items": {"columns": {"l": {"segment": "IT", "element": 3}}}}})",
       refused(R"(required element IT03-2 (right) of occurrence "item" in loop "item", written by table "items", has no column and no single code to write)")},
      {"optional composite left alone",
       R"({"segments": {"IT": {"elements": {"3": {"name": "pair", "type": "AN", "composite": {
             "1": {"name": "left", "type": "AN", "required": true}}}}}}})",
       "ok"},
      {"later columns on one place name the first",
       R"({"tables": {"items": {"columns": {"a": {"segment": "IT", "element": 1},
                                            "b": {"segment": "IT", "element": 1}}}}})",
       "spec \"tiny\" cannot be written (2 reasons)\n"
       R"(1. table "items" column "b" writes IT01 of occurrence "item" in loop "item", which column "a" already writes)"
       "\n"
       R"(2. table "items" column "n" writes IT01 of occurrence "item" in loop "item", which column "a" already writes)"},
      // NT is long enough for its required places to be listed once for
      // both of its plans.
      {"a long segment's required element, in each plan",
       R"({"segments": {"NT": {"elements": {"40": {"name": "last", "type": "AN", "required": true},
             "3": {"name": "e3", "type": "AN"}, "4": {"name": "e4", "type": "AN"}, "5": {"name": "e5", "type": "AN"},
             "6": {"name": "e6", "type": "AN"}, "7": {"name": "e7", "type": "AN"}, "8": {"name": "e8", "type": "AN"},
             "9": {"name": "e9", "type": "AN"}, "10": {"name": "e10", "type": "AN"}, "11": {"name": "e11", "type": "AN"},
             "12": {"name": "e12", "type": "AN"}, "13": {"name": "e13", "type": "AN"}, "14": {"name": "e14", "type": "AN"},
             "15": {"name": "e15", "type": "AN"}, "16": {"name": "e16", "type": "AN"}, "17": {"name": "e17", "type": "AN"},
             "18": {"name": "e18", "type": "AN"}, "19": {"name": "e19", "type": "AN"}, "20": {"name": "e20", "type": "AN"},
             "21": {"name": "e21", "type": "AN"}, "22": {"name": "e22", "type": "AN"}, "23": {"name": "e23", "type": "AN"},
             "24": {"name": "e24", "type": "AN"}, "25": {"name": "e25", "type": "AN"}, "26": {"name": "e26", "type": "AN"},
             "27": {"name": "e27", "type": "AN"}, "28": {"name": "e28", "type": "AN"}, "29": {"name": "e29", "type": "AN"},
             "30": {"name": "e30", "type": "AN"}, "31": {"name": "e31", "type": "AN"}, "32": {"name": "e32", "type": "AN"}}}},
           "tables": {"items": {"columns": {"c1": {"occurrence": "note", "pick": 1, "element": 2},
                                            "c2": {"occurrence": "note", "pick": 2, "element": 2}}}}})",
       "spec \"tiny\" cannot be written (2 reasons)\n"
       R"(1. required element NT40 (last) of occurrence "note" in loop "item", written by table "items", has no column and no single code to write)"
       "\n"
       R"(2. required element NT40 (last) of occurrence "note" in loop "item", written by table "items", has no column and no single code to write)"},
      {"repeat without instances",
       R"({"tables": {"subrefs": {"loops": ["sub"], "segment": "SB", "columns": {"v": {"element": 1}}}}})",
       refused(R"(table "subrefs" writes one "SB" per row in loop "sub", but no table is anchored on that loop and no column reads it, so the segments have no instance to go in)")},
      // The refused table's columns would write NT02 twice; they are not planned.
      {"many anchor loops, once",
       R"({"tables": {"items": null, "both": {"loops": ["item", "side"], "columns": {
             "t1": {"segment": "NT", "element": 2}, "t2": {"segment": "NT", "element": 2}}}}})",
       refused(R"(table "both" is anchored on 2 loops ("item", "side"); a written row opens one loop instance and nothing in the row says which)")},
      {"refusals of every step, in step order",
       R"({"loops": {"item": {"occurrences": {"note": {"usage": "required"}}}},
           "tables": {"both": {"loops": ["side", "sub"]},
                      "items": {"columns": {"a": {"segment": "IT", "element": 1},
                                            "st": {"loop": "top", "segment": "ST", "element": 1}}},
                      "subrefs": {"loops": ["sub"], "segment": "SB", "columns": {"v": {"element": 1}}}}})",
       "spec \"tiny\" cannot be written (5 reasons)\n"
       R"(1. table "both" is anchored on 2 loops ("side", "sub"); a written row opens one loop instance and nothing in the row says which)"
       "\n"
       R"(2. table "items" column "st" reads the envelope occurrence "header" of loop "top", which the envelope and the writer's counts give)"
       "\n"
       R"(3. table "items" column "n" writes IT01 of occurrence "item" in loop "item", which column "a" already writes)"
       "\n"
       R"(4. table "subrefs" writes one "SB" per row in loop "sub", but no table is anchored on that loop and no column reads it, so the segments have no instance to go in)"
       "\n"
       R"(5. occurrence "note" ("NT") is required in every loop "item", but no column writes it)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(outcome(c.patch), c.expected);
  }
}

// The elements of one segment plan as text: "1=A" for a constant, "2<name"
// for a column, "3<name+1" for a repeated column at offset 1.
std::string show(const spec::Spec& spec, const SegmentPlan& plan) {
  std::string out;
  for (const ElementPlan& e : plan.elements) {
    if (!out.empty()) out += " ";
    out += std::to_string(e.element);
    if (e.component) out += "-" + std::to_string(*e.component);
    const auto& columns = spec.tables[plan.table].columns;
    if (const auto* c = std::get_if<Constant>(&e.value)) out += "=" + c->code;
    else if (const auto* v = std::get_if<ColumnValue>(&e.value)) out += "<" + columns[v->column].first;
    else {
      const auto& r = std::get<RepeatedValue>(e.value);
      out += "<" + columns[r.column].first + "+" + std::to_string(r.offset);
    }
  }
  return out;
}

// Each segment plan of the loop: "occurrence: elements".
std::vector<std::string> show_loop(const spec::Spec& spec, const WritePlan& plan,
                                   const char* loop) {
  const spec::LoopId l = loop_of(spec, loop);
  std::vector<std::string> out;
  for (const SegmentPlan& p : plan.segments(l)) {
    out.push_back(spec.loops[l].occurrences[p.occurrence].name + ": " + show(spec, p));
  }
  return out;
}

TEST(WritePlan, SegmentPlans) {
  struct Case {
    const char* name;
    const char* patch;
    const char* loop;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"the trigger of an envelope loop has no elements", "{}", "top", {"header: "}},
      {"picks first and 2 give two segments",
       R"({"tables": {"items": {"columns": {"c1": {"occurrence": "note", "pick": "first", "element": 2},
                                            "c2": {"occurrence": "note", "pick": 2, "element": 2}}}}})",
       "item", {"item: 1<n", "note: 2<c1", "note: 2<c2"}},
      {"each pick's columns make one segment",
       R"({"tables": {"items": {"columns": {"a2": {"occurrence": "note", "pick": 2, "element": 2},
                                            "b1": {"occurrence": "note", "pick": 1, "element": 2},
                                            "c2": {"occurrence": "note", "pick": 2, "element": 1}}}}})",
       "item", {"item: 1<n", "note: 2<b1", "note: 1<c2 2<a2"}},
      {"a lone last gives one segment",
       R"({"tables": {"items": {"columns": {"c": {"occurrence": "note", "pick": "last", "element": 2}}}}})",
       "item", {"item: 1<n", "note: 2<c"}},
      {"the one qualifier code replaces the where-code",
       R"({"tables": {"items": {"columns": {"r": {"segment": "RF", "where": {"1": "A"}, "element": 2}}}}})",
       "item", {"item: 1<n", "ref_a: 1=A 2<r"}},
      {"a where-code among several qualifier codes stays",
       R"({"tables": {"items": {"columns": {"r": {"segment": "RF", "where": {"1": "C"}, "element": 2}}}}})",
       "item", {"item: 1<n", "ref_b: 1=C 2<r"}},
      {"a column replaces its where-code",
       R"({"tables": {"items": {"columns": {"k": {"segment": "NT", "where": {"1": "X"}, "element": 1}}}}})",
       "item", {"item: 1<n", "note: 1<k"}},
      {"a required element with one code gets it",
       R"({"segments": {"IT": {"elements": {"2": {"name": "kind", "type": "ID", "required": true, "codes": ["P"]}}}}})",
       "item", {"item: 1<n 2=P"}},
      {"segments in position order, elements in place order",
       R"({"tables": {"items": {"columns": {"b": {"segment": "NT", "element": 2},
                                            "a": {"segment": "NT", "element": 1, "component": 2}}}}})",
       "item", {"item: 1<n", "note: 1-2<a 2<b"}},
      // Segment tables are planned before the row plans, and keep that order.
      {"a segment table's groups",
       R"({"segments": {"SB": {"elements": {"1": {"name": "a", "type": "AN"}}}},
           "tables": {"subs": {"loops": ["sub"], "columns": {"s": {"segment": "SB", "element": 1}}},
                      "groups": {"loops": ["sub"], "segment": "SB", "repeat": {"from": 2, "step": 2},
                                 "columns": {"g": {"element": 1}, "x": {"group_element": 1}, "y": {"group_element": 0, "component": 2}}}}})",
       "sub", {"sub: 1<g 2-2<y+0 3<x+1", "sub: 1<s"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const spec::SpecPtr spec = compile_tiny(c.patch);
    ASSERT_NE(spec, nullptr);
    auto planned = WritePlan::make(*spec);
    ASSERT_TRUE(planned.ok()) << planned.error().text();
    EXPECT_EQ(show_loop(*spec, planned.value(), c.loop), c.expected);
  }
}

TEST(WritePlan, Roles) {
  struct Case {
    const char* name;
    const char* patch;
    std::vector<std::pair<const char*, Role>> roles;
  };
  const std::vector<Case> cases = {
      {"rows", "{}",
       {{"top", Role::Envelope}, {"item", Role::Rows}, {"sub", Role::NotWritten}, {"side", Role::NotWritten}}},
      {"read below the anchor",
       R"({"tables": {"items": {"columns": {"s": {"loop": "sub", "segment": "SB", "element": 1}}}}})",
       {{"item", Role::Rows}, {"sub", Role::ReadBy}}},
      {"ancestors of a written loop are implied",
       R"({"tables": {"items": null, "subs": {"loops": ["sub"], "columns": {"s": {"segment": "SB", "element": 1}}}}})",
       {{"top", Role::Envelope}, {"item", Role::Implied}, {"sub", Role::Rows}, {"side", Role::NotWritten}}},
      {"read above the anchor",
       R"({"tables": {"items": null, "subs": {"loops": ["sub"], "columns": {"n": {"loop": "item", "segment": "IT", "element": 1}}}}})",
       {{"item", Role::ReadAbove}, {"sub", Role::Rows}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const spec::SpecPtr spec = compile_tiny(c.patch);
    ASSERT_NE(spec, nullptr);
    auto planned = WritePlan::make(*spec);
    ASSERT_TRUE(planned.ok()) << planned.error().text();
    for (const auto& [loop, role] : c.roles) {
      EXPECT_EQ(planned->role(loop_of(*spec, loop)), role) << loop;
    }
  }
}

// Loop "item" with 40 more occurrences, each of a segment of its own, so
// that its occurrences are found through the sorted lists; RF's element 1
// takes any code.
std::string wide_item(const char* patch) {
  nlohmann::json wide = nlohmann::json::parse(R"({
    "loops": {"item": {"occurrences": {
      "zq": {"segment": "RF", "pos": 13, "qualifier": {"element": 1, "codes": ["Z"]}},
      "aq": {"segment": "RF", "pos": 14, "qualifier": {"element": 1, "codes": ["Y"]}},
      "k1": {"segment": "CQ", "pos": 15, "qualifier": {"element": 1, "component": 1, "codes": ["K"]}},
      "k2": {"segment": "CQ", "pos": 15, "qualifier": {"element": 1, "component": 1, "codes": ["L"]}}}}},
    "segments": {"RF": {"elements": {"1": {"codes": null}}},
                 "CQ": {"elements": {"1": {"name": "pair", "type": "AN", "composite": {
                   "1": {"name": "q", "type": "AN"}, "2": {"name": "v", "type": "AN"}}}}}}})");
  for (int i = 0; i < 40; ++i) {
    const std::string id = "P" + std::to_string(10 + i);
    wide["loops"]["item"]["occurrences"]["pad" + id] = {{"segment", id}, {"pos", 20}};
  }
  spec::merge_patch(wide, nlohmann::json::parse(patch));
  return wide.dump();
}

TEST(WritePlan, WideLoop) {
  struct Case {
    const char* name;
    const char* patch;
    std::string expected;  // the refusal, or the item loop's plans
  };
  const std::vector<Case> cases = {
      {"a where-code finds its occurrence",
       R"({"tables": {"items": {"columns": {"r": {"segment": "RF", "where": {"1": "Z"}, "element": 2}}}}})",
       "item: 1<n | zq: 1=Z 2<r"},
      {"one of a qualifier's several codes",
       R"({"tables": {"items": {"columns": {"r": {"segment": "RF", "where": {"1": "C"}, "element": 2}}}}})",
       "item: 1<n | ref_b: 1=C 2<r"},
      {"by name",
       R"({"tables": {"items": {"columns": {"r": {"occurrence": "aq", "element": 2}}}}})",
       "item: 1<n | aq: 1=Y 2<r"},
      {"a code no qualifier holds",
       R"({"tables": {"items": {"columns": {"r": {"segment": "RF", "where": {"1": "X"}, "element": 2}}}}})",
       refused(R"(table "items" column "r" reads "RF" where {1: "X"} in loop "item", which matches none of its occurrences)")},
      // In occurrence order, not name order.
      {"no where-code: every occurrence of the segment",
       R"({"tables": {"items": {"columns": {"r": {"segment": "RF", "element": 2}}}}})",
       refused(R"(table "items" column "r" reads "RF" in loop "item", which matches 4 of its occurrences ("ref_a", "ref_b", "zq", "aq"); name one with "occurrence")")},
      {"a where-code on another element",
       R"({"tables": {"items": {"columns": {"r": {"segment": "RF", "where": {"2": "v"}, "element": 1}}}}})",
       refused(R"(table "items" column "r" reads "RF" where {2: "v"} in loop "item", which matches 4 of its occurrences ("ref_a", "ref_b", "zq", "aq"); name one with "occurrence")")},
      // A condition names an element: a qualifier on a component rules
      // nothing out.
      {"qualifiers on a component",
       R"({"tables": {"items": {"columns": {"r": {"segment": "CQ", "where": {"1": "K"}, "element": 2}}}}})",
       refused(R"(table "items" column "r" reads "CQ" where {1: "K"} in loop "item", which matches 2 of its occurrences ("k1", "k2"); name one with "occurrence")")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const spec::SpecPtr spec = compile_tiny(wide_item(c.patch));
    ASSERT_NE(spec, nullptr);
    ASSERT_GT(spec->loops[loop_of(*spec, "item")].occurrences.size(), 40u);
    auto planned = WritePlan::make(*spec);
    if (!planned.ok()) {
      EXPECT_EQ(planned.error().text(), c.expected);
      continue;
    }
    std::string plans;
    for (const std::string& p : show_loop(*spec, planned.value(), "item")) {
      if (p.rfind("pad", 0) == 0) continue;
      plans += (plans.empty() ? "" : " | ") + p;
    }
    EXPECT_EQ(plans, c.expected);
  }
}

TEST(WritePlan, UnwrittenWhereCode) {
  const spec::SpecPtr spec = compile_tiny(
      R"({"tables": {"items": {"columns": {"z": {"segment": "NT", "where": {"1": "Z"}, "element": 2}}}}})");
  ASSERT_NE(spec, nullptr);
  auto planned = WritePlan::make(*spec);
  ASSERT_TRUE(planned.ok()) << planned.error().text();
  const std::vector<Unwritten> expected = {{"NT01", "Z", {"X", "Y"}, 0, 1}};
  EXPECT_EQ(planned->unwritten(), expected);
  EXPECT_EQ(show_loop(*spec, planned.value(), "item"), std::vector<std::string>{"item: 1<n"});
}

TEST(WritePlan, Builtin5010) {
  const spec::Spec& spec = *spec::shared_builtin_835().value();
  auto planned = WritePlan::make(spec);
  ASSERT_TRUE(planned.ok()) << planned.error().text();
  const WritePlan& plan = planned.value();
  auto table = [&](const char* loop) -> std::string {
    const auto t = plan.role_table(loop_of(spec, loop));
    return t ? spec.tables[*t].name : "-";
  };
  const std::vector<std::tuple<const char*, Role, std::string>> roles = {
      {"interchange", Role::Envelope, "-"}, {"group", Role::Envelope, "-"},
      {"transaction", Role::Rows, "payments"}, {"1000A", Role::ReadBy, "payments"},
      {"1000B", Role::ReadBy, "payments"}, {"2000", Role::ReadAbove, "claims"},
      {"2100", Role::Rows, "claims"}, {"2110", Role::Rows, "services"},
  };
  for (const auto& [loop, role, name] : roles) {
    SCOPED_TRACE(loop);
    EXPECT_EQ(plan.role(loop_of(spec, loop)), role);
    EXPECT_EQ(table(loop), name);
  }
  EXPECT_TRUE(plan.unwritten().empty());
  // The segment plans show in the expected-file comparison; a repeat's
  // offsets here.
  const auto claim = show_loop(spec, plan, "2100");
  ASSERT_EQ(claim.size(), 8u);
  EXPECT_EQ(claim[1], "claim_adjustment: 1<group_code 2<reason_code+0 3<amount+1 4<quantity+2");
}

// Every built-in spec plans, and writes every one of its loops.
TEST(WritePlan, BuiltinsWriteEveryLoop) {
  for (const spec::Compiled* compiled : {&spec::shared_builtin_835(), &spec::shared_builtin_835_4010()}) {
    const spec::Spec& spec = *compiled->value();
    auto planned = WritePlan::make(spec);
    ASSERT_TRUE(planned.ok()) << planned.error().text();
    for (spec::LoopId l = 0; l < spec.loops.size(); ++l) {
      EXPECT_NE(planned->role(l), Role::NotWritten) << spec.loops[l].name;
    }
  }
}

// The compatibility patch's tables read envelope segments and ambiguous
// segments, so it cannot be written.
TEST(WritePlan, CompatibilityPatchIsRefused) {
  auto patched = spec::shared_builtin_835().value()->merge_patch(spec::edi_835_parser_patch_text());
  ASSERT_TRUE(patched.ok());
  auto planned = WritePlan::make(*patched.value());
  ASSERT_FALSE(planned.ok());
  const std::string text = planned.error().text();
  EXPECT_EQ(text.substr(0, text.find('\n')),
            "spec \"edi_835_parser\" cannot be written (17 reasons)");
  EXPECT_EQ(planned.error().refusals.front().kind, refusal::Refusal::Kind::ManyAnchorLoops);
}

}  // namespace
}  // namespace zarvi_core::write::plan
