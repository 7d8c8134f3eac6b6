#include "zarvi_core/write/refusal.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace zarvi_core::write::refusal {
namespace {

TEST(Refusal, Texts) {
  struct Case {
    const char* name;
    Refusal refusal;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"required loop", Refusal::required_loop_unsourced("2100", R"("CLP" with no conditions)", "2000"),
       R"(loop "2100" (trigger "CLP" with no conditions) is required in every "2000", but no table is anchored on it and no column reads it)"},
      {"required occurrence",
       Refusal::required_occurrence_unwritten("patient_name", R"("NM1" where NM101 is "QC")", "2100"),
       R"(occurrence "patient_name" ("NM1" where NM101 is "QC") is required in every loop "2100", but no column writes it)"},
      {"required element with a table",
       Refusal::required_element_unwritten("BPR01", "transaction_handling_code", "financial_information",
                                           "transaction", "payments"),
       R"(required element BPR01 (transaction_handling_code) of occurrence "financial_information" in loop "transaction", written by table "payments", has no column and no single code to write)"},
      {"required element without a table",
       Refusal::required_element_unwritten("SVC01-2", "code", "service", "2110", std::nullopt),
       R"(required element SVC01-2 (code) of occurrence "service" in loop "2110", which no table writes, has no column and no single code to write)"},
      {"source matching none", Refusal::unmatched_source("claims", "x", R"("DTM" where {1: "999"})", "2100", {}),
       R"(table "claims" column "x" reads "DTM" where {1: "999"} in loop "2100", which matches none of its occurrences)"},
      {"anchor segment matching several",
       Refusal::unmatched_source("refs", std::nullopt, R"("REF")", "2100", {"a", "b"}),
       R"(table "refs" anchor segment reads "REF" in loop "2100", which matches 2 of its occurrences ("a", "b"); name one with "occurrence")"},
      {"picks", Refusal::picks_out_of_series("t", "c3", "note", "item", {"1", "3"}),
       R"(table "t" column "c3" picks occurrence "note" of loop "item" out of series (picks 1, 3); the picks of one occurrence must run from 1 with none missing, or be a lone "last")"},
      {"loop read by a table", Refusal::loop_read_twice("subs", "c", "item", R"(table "items")"),
       R"(table "subs" column "c" reads loop "item", whose instances table "items" writes)"},
      {"loop read by the envelope", Refusal::loop_read_twice("t", "c", "top", "the envelope"),
       R"(table "t" column "c" reads loop "top", whose instances the envelope writes)"},
      {"element twice", Refusal::element_written_twice("t", "n", "IT01", "item", "item", "a"),
       R"(table "t" column "n" writes IT01 of occurrence "item" in loop "item", which column "a" already writes)"},
      {"envelope occurrence", Refusal::envelope_occurrence_read("t", "c", "header", "top"),
       R"(table "t" column "c" reads the envelope occurrence "header" of loop "top", which the envelope and the writer's counts give)"},
      {"anchored twice", Refusal::loop_anchored_twice("b", "item", "a"),
       R"(table "b" is anchored on loop "item", whose rows table "a" already gives; a loop takes its rows from one table)"},
      {"many anchors", Refusal::many_anchor_loops("both", {"1000A", "1000B"}),
       R"(table "both" is anchored on 2 loops ("1000A", "1000B"); a written row opens one loop instance and nothing in the row says which)"},
      {"repeat without instances", Refusal::repeat_without_instances("refs", "SB", "sub"),
       R"(table "refs" writes one "SB" per row in loop "sub", but no table is anchored on that loop and no column reads it, so the segments have no instance to go in)"},
      {"code by a column", Refusal::code_not_allowed("t", "c", "o", "l", "Z", "RF01", {"A", "B"}),
       R"(table "t" column "c" writes occurrence "o" in loop "l" with the fixed code "Z" in RF01, which its code list ("A", "B") does not allow)"},
      {"code by the anchor segment",
       Refusal::code_not_allowed("t", std::nullopt, "o", "l", "Z", "CAS01", {"CO"}),
       R"(table "t" anchor segment writes occurrence "o" in loop "l" with the fixed code "Z" in CAS01, which its code list ("CO") does not allow)"},
      {"names are escaped", Refusal::envelope_occurrence_read("a\"b", "c\\d", "e\nf", "g"),
       R"(table "a\"b" column "c\\d" reads the envelope occurrence "e\nf" of loop "g", which the envelope and the writer's counts give)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.refusal.text(), c.expected);
  }
}

TEST(PlanError, NumbersEachRefusal) {
  const Refusal a = Refusal::many_anchor_loops("t", {"x", "y"});
  const Refusal b = Refusal::loop_read_twice("u", "c", "top", "the envelope");
  EXPECT_EQ((PlanError{"small", {a}}).text(),
            "spec \"small\" cannot be written (1 reason)\n1. " + a.text());
  EXPECT_EQ((PlanError{"small", {a, b}}).text(),
            "spec \"small\" cannot be written (2 reasons)\n1. " + a.text() + "\n2. " + b.text());
}

TEST(Place, Texts) {
  struct Case {
    const char* name;
    std::string segment;
    uint64_t element;
    std::optional<uint64_t> component;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"padded", "CLP", 1, std::nullopt, "CLP01"},
      {"two digits", "CAS", 19, std::nullopt, "CAS19"},
      {"past 99", "CLP", 123, std::nullopt, "CLP123"},
      {"component unpadded", "SVC", 1, 2, "SVC01-2"},
      {"large component", "SVC", 100, 12, "SVC100-12"},
      {"invalid id bytes", "N\xff", 1, std::nullopt, "N\xEF\xBF\xBD" "01"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(place(c.segment, c.element, c.component), c.expected);
  }
}

TEST(RenderSource, Texts) {
  using spec::Condition;
  struct Case {
    const char* name;
    std::string segment;
    std::vector<Condition> conditions;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"bare", "DTM", {}, R"("DTM")"},
      {"one condition", "DTM", {{1, "405"}}, R"("DTM" where {1: "405"})"},
      {"two conditions", "PER", {{1, "BL"}, {3, "TE"}}, R"("PER" where {1: "BL", 3: "TE"})"},
      {"escaped", "R\"F", {{12, "a\\b"}}, R"("R\"F" where {12: "a\\b"})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(render_source(c.segment, c.conditions), c.expected);
  }
}

}  // namespace
}  // namespace zarvi_core::write::refusal
