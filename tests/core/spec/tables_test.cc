#include "zarvi_core/spec/tables.h"

#include <gtest/gtest.h>

#include "../small_spec.h"

namespace zarvi_core::spec {
namespace {

using testing::compile_small;

const testing::PatchCase kTableCases[] = {
    {"plain row table", R"({"tables": {"t": {"loops": ["item"], "columns": { "v": {"segment": "AM", "element": 1}}}}})", ""},
    {"table named row", R"({"tables": {"row": {"loops": ["item"]}}})", R"(table "row": the name "row" is taken by an automatic column)"},
    {"empty table name", R"({"tables": {"": {"loops": ["item"]}}})", R"(table "": the table name is empty)"},
    {"unknown loop", R"({"tables": {"t": {"loops": ["item", "nope"]}}})", R"(table "t": loop "nope" does not exist)"},
    {"duplicate loop", R"({"tables": {"t": {"loops": ["item", "item"]}}})", R"(table "t": loop "item" is listed more than once in "loops")"},
    {"empty segment", R"({"tables": {"a b": {"loops": ["item"], "segment": ""}}})", R"(the spec has an empty segment id at tables."a b".segment)"},
    {"repeat from 0", R"({"tables": {"t": {"loops": ["item"], "segment": "AM", "repeat": {"from": 0, "step": 0}}}})",
     R"(table "t": "repeat.from" must be a 1-based position; found 0)"},
    {"repeat step 0", R"({"tables": {"t": {"loops": ["item"], "segment": "AM", "repeat": {"from": 1, "step": 0}}}})", R"(table "t": "repeat.step" is 0)"},
    {"segment not held", R"({"tables": {"t": {"loops": ["item", "sub"], "segment": "LT"}}})",
     R"(table "t": segment "LT" is neither the trigger nor a segment of loop "sub", so it is never read there)"},
    {"segment table on trigger segment", R"({"tables": {"t": {"loops": ["item"], "segment": "IT"}}})", ""},
    {"repeat without segment", R"({"tables": {"t": {"loops": ["item"], "repeat": {"from": 1, "step": 1}}}})",
     R"(table "t": "repeat" requires "segment": only a segment's elements repeat)"},
    {"nested anchors", R"({"tables": {"t": {"loops": ["sub", "head"]}}})",
     R"(table "t": anchor loops "head" and "sub" nest; a table without "segment" anchors in loops that do not)"},
    {"no source", R"({"tables": {"t": {"loops": ["item"], "columns": { "c": {"segment": "AM", "segment_index": false}}}}})",
     R"(table "t" column "c": a column takes exactly one of "element", "group_element" or "segment_index"; found 0)"},
    {"two sources", R"({"tables": {"t": {"loops": ["item"], "columns": { "c": {"segment": "AM", "element": 1, "segment_index": true}}}}})",
     R"(table "t" column "c": a column takes exactly one of "element", "group_element" or "segment_index"; found 2)"},
    {"component on index", R"({"tables": {"t": {"loops": ["item"], "columns": { "c": {"segment": "AM", "segment_index": true, "component": 1}}}}})",
     R"(table "t" column "c": "component" does not apply to "segment_index")"},
    {"element 0", R"({"tables": {"t": {"loops": ["item"], "columns": { "c": {"segment": "AM", "element": 0}}}}})",
     R"(table "t" column "c": "element" must be a 1-based position; found 0)"},
    {"column named row", R"({"tables": {"t": {"loops": ["item"], "columns": { "row": {"segment": "AM", "element": 1}}}}})",
     R"(table "t" column "row": the name "row" is taken by an automatic column)"},
    {"table error before column error", R"({"tables": {"t": {"loops": ["item"], "ref": "", "columns": { "row": {"segment": "AM", "element": 1}}}}})",
     R"(table "t": the ref is empty)"},
    {"loop in a segment table", R"({"tables": {"t": {"loops": ["item"], "segment": "AM", "columns": { "c": {"loop": "item", "element": 1}}}}})",
     R"(table "t" column "c": "loop" ("item") does not apply in a table anchored on segment "AM": its columns read that segment)"},
    {"where in a segment table", R"({"tables": {"t": {"loops": ["item"], "segment": "AM", "columns": { "c": {"where": {"1": "X"}, "element": 1}}}}})",
     R"(table "t" column "c": "where" ({"1":"X"}) does not apply in a table anchored on segment "AM": its columns read that segment)"},
    {"group without repeat", R"({"tables": {"t": {"loops": ["item"], "segment": "AM", "columns": { "c": {"group_element": 0}}}}})",
     R"(table "t" column "c": "group_element" requires the table's "repeat")"},
    {"offset beyond step", R"({"tables": {"t": {"loops": ["item"], "segment": "AM", "repeat": {"from": 2, "step": 3}, "columns": {"c": {"group_element": 3}}}}})",
     R"(table "t" column "c": "group_element" 3 is outside a group of 3 elements (offsets start at 0))"},
    {"unknown column loop", R"({"tables": {"t": {"loops": ["item"], "columns": { "c": {"loop": "nope", "segment": "AM", "element": 1}}}}})",
     R"(table "t" column "c": loop "nope" does not exist)"},
    {"unrelated loop", R"({"tables": {"t": {"loops": ["item"], "columns": { "c": {"loop": "side", "segment": "AM", "element": 1}}}}})",
     R"(table "t" column "c": loop "side" is neither anchor loop "item", a loop inside it nor a loop above it)"},
    {"pick without occurrence", R"({"tables": {"t": {"loops": ["item"], "columns": { "c": {"segment": "AM", "element": 1, "pick": "last"}}}}})",
     R"(table "t" column "c": "pick" ("last") requires "occurrence": only a named occurrence has a known repeat)"},
    {"no segment", R"({"tables": {"t": {"loops": ["item"], "columns": {"c": {"element": 1}}}}})",
     R"(table "t" column "c": the column names no "segment" or "occurrence" to read)"},
    {"non-canonical where", R"({"tables": {"t": {"loops": ["item"], "columns": { "c": {"segment": "AM", "where": {"01": "X"}, "element": 1}}}}})",
     R"(table "t" column "c": "where" position "01" is not a 1-based integer in canonical form)"},
    {"segment beside occurrence", R"({"tables": {"t": {"loops": ["item"], "columns": { "c": {"occurrence": "amount", "segment": "AM", "element": 1}}}}})",
     R"(table "t" column "c": "occurrence" already names the segment and its qualifier; "segment" ("AM") does not go with it)"},
    {"unknown occurrence", R"({"tables": {"t": {"loops": ["item"], "columns": { "c": {"occurrence": "zzz", "element": 1}}}}})",
     R"(table "t" column "c": loop "item" has no occurrence "zzz"; it declares "amount", "item", "late")"},
    {"occurrence segments differ", R"({"tables": {"t": {"loops": ["item", "side"], "columns": { "c": {"occurrence": "amount", "element": 1}}}}})",
     R"(table "t" column "c": occurrence "amount" is segment "AM" in anchor loop "item" but segment "NT" in anchor loop "side"; name the loop to read with "loop")"},
    {"pick on a single", R"({"tables": {"t": {"loops": ["item"], "columns": { "c": {"occurrence": "item", "pick": "first", "element": 1}}}}})",
     R"(table "t" column "c": occurrence "item" of loop "item" appears at most once, so "pick" ("first") has nothing to choose from)"},
    {"pick beyond max", R"({"tables": {"t": {"loops": ["item"], "columns": { "c": {"occurrence": "amount", "pick": 6, "element": 1}}}}})",
     R"(table "t" column "c": "pick" 6 is past occurrence "amount" of loop "item", which repeats at most 5 times)"},
    {"pick at max", R"({"tables": {"t": {"loops": ["item"], "columns": { "c": {"occurrence": "amount", "pick": 5, "element": 1}}}}})", ""},
    {"read above anchor before it opens", R"({"tables": {"t": {"loops": ["item"], "columns": { "c": {"loop": "head", "occurrence": "note", "element": 1}}}}})",
     ""},
    {"read above anchor after it opens", R"({"tables": {"t": {"loops": ["item"], "columns": { "c": {"loop": "head", "occurrence": "trailer", "element": 1}}}}})",
     R"(table "t" column "c": occurrence "trailer" (position 50) of loop "head" comes after anchor loop "item" opens (position 10): its segments arrive after the rows are appended, so the column never fills)"},
    {"shared anchor", R"({"tables": {"a": {"loops": ["item"]}, "b": {"loops": ["item"]}}})",
     R"(table "b": loop "item" already anchors table "a"; a loop anchors at most one table without "segment")"},
    {"ref taken by an unrelated table", R"({"tables": {"a": {"loops": ["item"], "ref": "x"}, "b": {"loops": ["side"], "ref": "x"}}})",
     R"(table "b": "ref" "x" is already used by table "a")"},
    {"anchors under different tables", R"({"tables": {"i": {"loops": ["item"]}, "d": {"loops": ["side"]}, "u": {"loops": ["item", "side"], "segment": "AM"}}})",
     R"(table "u": anchor loops "item" and "side" sit under tables that are not one chain: "item" under i, "side" under d)"},
    {"anchors under no table", R"({"tables": {"u": {"loops": ["item", "side"], "segment": "AM"}}})", ""},
    {"column named like an enclosing ref", R"({"tables": {"h": {"loops": ["head"], "ref": "header"}, "i": {"loops": ["item"], "columns": {"header": {"segment": "AM", "element": 1}}}}})",
     R"(table "i" column "header": the name "header" is taken by an automatic column)"},
    {"every table compiles before linking", R"({"tables": {"a": {"loops": ["item"]}, "b": {"loops": ["item"]}, "c": {"loops": []}}})",
     R"(table "c": "loops" is empty; a table anchors in at least one loop)"},
};

TEST(CompileTables, Cases) { testing::expect_compile(kTableCases); }

// Questions a column asks of every anchor are answered once per table; the
// message still names the first anchor (and the first column) that fails.
TEST(CompileTables, ManyAnchors) {
  // Two more siblings of "item" and "side" under "head", and a head
  // occurrence between the loops' openers.
  const auto with = [](const char* tables) {
    return std::string(R"({"loops": {
      "more": {"parent": "head", "trigger": {"segment": "MR"}, "occurrences": {
        "more": {"segment": "MR", "pos": 40, "max": 1}, "amount": {"segment": "AM", "pos": 41, "max": 2},
        "late": {"segment": "LT", "pos": 42, "max": 1}}},
      "most": {"parent": "head", "trigger": {"segment": "MS"}, "occurrences": {
        "most": {"segment": "MS", "pos": 5, "max": 1}, "amount": {"segment": "AM", "pos": 6}}},
      "head": {"occurrences": {"mid": {"segment": "MD", "pos": 20}}}},
      "tables": )") + tables + "}";
  };
  const struct {
    const char* name;
    std::string patch;
    const char* expected;
  } cases[] = {
      {"a segment every anchor holds, twice", with(R"({"t": {"loops": ["item", "more", "most"], "columns": {"a": {"segment": "AM", "element": 1}, "b": {"segment": "AM", "element": 2}}}})"), ""},
      {"a segment the third anchor lacks", with(R"({"t": {"loops": ["item", "more", "side"], "columns": {"a": {"segment": "AM", "element": 1}, "b": {"segment": "LT", "element": 1}}}})"),
       R"(table "t" column "b": segment "LT" is neither the trigger nor a segment of loop "side", so it is never read there)"},
      {"picks every anchor allows", with(R"({"t": {"loops": ["item", "more", "most"], "columns": {"a": {"occurrence": "amount", "element": 1}, "b": {"occurrence": "amount", "pick": "last", "element": 1}, "c": {"occurrence": "amount", "pick": 2, "element": 1}}}})"), ""},
      {"a pick past the second anchor's max", with(R"({"t": {"loops": ["item", "more", "most"], "columns": {"a": {"occurrence": "amount", "pick": 2, "element": 1}, "b": {"occurrence": "amount", "pick": 3, "element": 1}}}})"),
       R"(table "t" column "b": "pick" 3 is past occurrence "amount" of loop "more", which repeats at most 2 times)"},
      {"a pick on the second anchor's single", with(R"({"t": {"loops": ["item", "more"], "columns": {"a": {"occurrence": "late", "element": 1}, "b": {"occurrence": "late", "pick": "last", "element": 1}}}})"),
       R"(table "t" column "b": occurrence "late" of loop "more" appears at most once, so "pick" ("last") has nothing to choose from)"},
      {"an occurrence the second anchor lacks", with(R"({"t": {"loops": ["item", "more"], "columns": {"a": {"occurrence": "item", "element": 1}}}})"),
       R"(table "t" column "a": loop "more" has no occurrence "item"; it declares "amount", "late", "more")"},
      {"a loop inside the first anchor only", with(R"({"t": {"loops": ["item", "more"], "columns": {"a": {"loop": "sub", "segment": "AM", "element": 1}}}})"),
       R"(table "t" column "a": loop "sub" is neither anchor loop "more", a loop inside it nor a loop above it)"},
      {"read above, before every anchor opens", with(R"({"t": {"loops": ["more", "item", "side"], "columns": {"a": {"loop": "head", "occurrence": "ref_b", "element": 1}}}})"), ""},
      {"read above, after the second anchor opens", with(R"({"t": {"loops": ["more", "item", "most"], "columns": {"a": {"loop": "head", "segment": "RF", "element": 1}, "b": {"loop": "head", "occurrence": "mid", "element": 1}}}})"),
       R"(table "t" column "b": occurrence "mid" (position 20) of loop "head" comes after anchor loop "item" opens (position 10): its segments arrive after the rows are appended, so the column never fills)"},
      {"the first anchor with one inside, and the first inside it", with(R"({"t": {"loops": ["sub", "side", "head", "more", "item"]}})"),
       R"(table "t": anchor loops "head" and "sub" nest; a table without "segment" anchors in loops that do not)"},
      {"a default ref taken by an earlier table", with(R"({"a": {"loops": ["item"]}, "b": {"loops": ["side"], "ref": "c"}, "c": {"loops": ["more"]}})"),
       R"(table "c": "ref" "c" is already used by table "b")"},
      {"a chain that begins the longest", with(R"({"h": {"loops": ["head"]}, "i": {"loops": ["item"]}, "u": {"loops": ["side", "sub", "more"], "segment": "AM"}})"), ""},
      {"chains that part", with(R"({"h": {"loops": ["head"]}, "i": {"loops": ["item"]}, "m": {"loops": ["more"]}, "u": {"loops": ["side", "sub", "more"], "segment": "AM"}})"),
       R"(table "u": anchor loops "sub" and "more" sit under tables that are not one chain: "sub" under h/i, "more" under h/m)"},
      {"the first column named as any enclosing ref", with(R"({"h": {"loops": ["head"], "ref": "z"}, "i": {"loops": ["item"], "ref": "y"}, "s": {"loops": ["sub"], "columns": {"x": {"segment": "AM", "element": 1}, "y": {"segment": "AM", "element": 1}, "z": {"segment": "AM", "element": 1}}}})"),
       R"(table "s" column "y": the name "y" is taken by an automatic column)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto compiled = compile_small(c.patch.c_str());
    EXPECT_EQ(compiled.ok() ? std::string() : compiled.error().message(), c.expected);
  }
}

TEST(CompileTables, ChainsAndSources) {
  auto compiled = compile_small(R"({"tables": {
    "h": {"loops": ["head"], "ref": "header", "columns": {
      "first_ref": {"occurrence": "ref_b", "element": 2},
      "last_ref": {"occurrence": "ref_b", "pick": "last", "element": 2},
      "note_at": {"segment": "NT", "segment_index": true}}},
    "i": {"loops": ["item"], "columns": {
      "flagged": {"segment": "RF", "loop": "head", "where": {"2": "Y", "1": "B", "10": "Z"}, "element": 2}}},
    "s": {"loops": ["sub", "item"], "segment": "AM", "repeat": {"from": 2, "step": 2}, "columns": {
      "x": {"group_element": 1, "component": 1}}}}})");
  ASSERT_TRUE(compiled.ok()) << compiled.error().message();
  const Spec& spec = *compiled.value();
  ASSERT_EQ(spec.tables.size(), 3u);
  const TableDef& h = spec.tables[0];
  const TableDef& i = spec.tables[1];
  const TableDef& s = spec.tables[2];
  EXPECT_EQ(i.ref, "i");  // a table's ref defaults to its name
  EXPECT_EQ(h.parent, std::nullopt);
  EXPECT_EQ(i.chain, (std::vector<std::size_t>{0}));
  // Segment tables start their chains at the anchor loop itself.
  EXPECT_EQ(s.chain, (std::vector<std::size_t>{0, 1}));
  EXPECT_EQ(s.parent, std::optional<std::size_t>(1));
  EXPECT_EQ(s.loops, (std::vector<LoopId>{*spec.loop_id("sub"), *spec.loop_id("item")}));

  // Columns come in byte order of their names.
  const std::optional<LoopId> head = spec.loop_id("head");
  using Columns = std::vector<std::pair<std::string, ColumnSource>>;
  EXPECT_EQ(h.columns,
            (Columns{{"first_ref", ElementSource{std::nullopt, "RF", {}, "ref_b", {}, 2, {}}},
                     {"last_ref", ElementSource{std::nullopt, "RF", {}, "ref_b",
                                                Pick{Pick::Kind::Last, 0}, 2, {}}},
                     {"note_at", SegmentIndexSource{std::nullopt, "NT", {}, {}, {}}}}));
  EXPECT_EQ(i.columns,
            (Columns{{"flagged", ElementSource{head, "RF", {{1, "B"}, {2, "Y"}, {10, "Z"}},
                                               {}, {}, 2, {}}}}));
  EXPECT_EQ(s.columns, (Columns{{"x", GroupElementSource{1, 1}}}));

  for (const TableDef& t : spec.tables) EXPECT_EQ(spec.table(t.name), &t);
  for (const char* unknown : {"", "a", "hh", "j", "z"}) EXPECT_EQ(spec.table(unknown), nullptr) << unknown;
}

// "first" is shown by the pick-on-a-single case.
TEST(Pick, Text) {
  EXPECT_EQ(to_string(Pick{Pick::Kind::Last, 0}), "\"last\"");
  EXPECT_EQ(to_string(Pick{Pick::Kind::Nth, 3}), "3");
}

}  // namespace
}  // namespace zarvi_core::spec
