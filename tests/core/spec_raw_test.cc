#include "zarvi_core/spec/raw.h"

#include <gtest/gtest.h>

namespace zarvi_core::spec {
namespace {

using json = nlohmann::json;

template <class T>
std::string problem(const Decoded<T>& d) {
  return d.ok() ? std::string("ok") : d.error();
}

// The decoders stand behind the shape check; their texts are what a value
// that slips past it would report.
TEST(SpecRaw, DecodingErrors) {
  struct Case {
    const char* name;
    std::string got;
    std::string expected;
  };
  const Case cases[] = {
      {"not an object", problem(decode_loop(json::array())), "invalid type: sequence, expected a loop object"},
      {"spec expected text", problem(decode_spec(json(5))),
       R"~(invalid type: integer `5`, expected a spec object with "name" and "loops")~"},
      {"missing field", problem(decode_trigger(json::object())), "missing field `segment`"},
      {"missing fields in declaration order", problem(decode_control(json::object())), "missing field `opener_element`"},
      {"unknown field, several expected", problem(decode_repeat(json::parse(R"({"from": 1, "step": 1, "x": 1})"))),
       "unknown field `x`, expected `from` or `step`"},
      {"unknown field before missing", problem(decode_qualifier(json::parse(R"({"zz": 1})"))),
       "unknown field `zz`, expected one of `element`, `component`, `codes`"},
      {"wrong member type", problem(decode_trigger(json::parse(R"({"segment": 5})"))),
       "invalid type: integer `5`, expected a string"},
      {"negative count", problem(decode_occurrence(json::parse(R"({"segment": "A", "pos": -1})"))),
       "invalid value: integer `-1`, expected u64"},
      {"float count", problem(decode_occurrence(json::parse(R"({"segment": "A", "pos": 1.5})"))),
       "invalid type: floating point `1.5`, expected u64"},
      {"scale above a byte", problem(decode_element(json::parse(R"({"name": "a", "type": "R", "scale": 300})"))),
       "invalid value: integer `300`, expected u8"},
      {"string quoted", problem(decode_element(json::parse(R"({"name": "a", "type": "R", "required": "yes"})"))),
       R"~(invalid type: string "yes", expected a boolean)~"},
      {"nested record", problem(decode_loop(json::parse(R"({"trigger": []})"))),
       "invalid type: sequence, expected a trigger object"},
      {"nested map", problem(decode_segment(json::parse(R"({"elements": {"1": 5}})"))),
       "invalid type: integer `5`, expected an element object"},
      {"pick", problem(decode_pick(json(-1))), "a pick"},
      {"loops must be an object", problem(decode_spec(json::parse(R"({"name": "a", "loops": []})"))),
       "invalid type: sequence, expected a map"},
      {"balancing value expected text", problem(decode_balance(json::parse(R"({"per": "a", "target": [1], "sum": []})"))),
       "invalid type: integer `1`, expected a balancing value object"},
      {"table column must be an object", problem(decode_table(json::parse(R"({"loops": [], "columns": 1})"))),
       "invalid type: integer `1`, expected a map"},
      {"column", problem(decode_column(json::parse(R"({"segment_index": null})"))),
       "invalid type: null, expected a boolean"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.got, c.expected);
  }
}

TEST(SpecRaw, RecordsAndDefaults) {
  auto loop = decode_loop(json::parse(R"({"trigger": {"segment": "N1", "where": {"2": "X", "1": "PR"}},
      "parent": null, "max": null, "usage": "required",
      "occurrences": {"b": {"segment": "N1", "pos": 2}, "a": {"segment": "N3", "pos": 1, "codes": {"1": ["X"]}}}})"));
  ASSERT_TRUE(loop.ok()) << loop.error();
  EXPECT_FALSE(loop->parent.has_value());
  EXPECT_FALSE(loop->max.has_value());
  EXPECT_EQ(loop->usage, "required");
  EXPECT_EQ(loop->trigger.where.begin()->first, "1");
  EXPECT_EQ(loop->occurrences.begin()->first, "a");
  EXPECT_EQ(loop->occurrences.at("a").codes.at("1"), std::vector<std::string>{"X"});

  auto element = decode_element(json::parse(R"({"name": "a", "type": "AN", "composite": {"1": {"name": "b", "type": "ID", "codes": []}}})"));
  ASSERT_TRUE(element.ok()) << element.error();
  EXPECT_FALSE(element->required);
  EXPECT_FALSE(element->codes.has_value());
  ASSERT_TRUE(element->composite.has_value());
  EXPECT_EQ(element->composite->at("1").codes, std::vector<std::string>{});

  auto column = decode_column(json::parse(R"({"segment_index": true, "pick": "last", "where": {}})"));
  ASSERT_TRUE(column.ok()) << column.error();
  EXPECT_TRUE(column->segment_index);
  EXPECT_TRUE(column->where.has_value());
  EXPECT_EQ(column->pick->written(), R"~("last")~");

  const json spec = json::parse(R"({"name": "n", "loops": {}, "tables": {"t": {}}, "segments": null})");
  auto top = decode_spec(spec);
  ASSERT_TRUE(top.ok()) << top.error();
  EXPECT_EQ(top->loops, &spec["loops"]);
  EXPECT_EQ(top->tables, &spec["tables"]);
  EXPECT_EQ(top->segments, nullptr);
  EXPECT_EQ(top->balancing, nullptr);
  EXPECT_FALSE(top->version.has_value());

  auto term = decode_term(json::parse(R"({"occurrence": "o", "elements": [3, 4], "sign": "-"})"));
  ASSERT_TRUE(term.ok()) << term.error();
  EXPECT_EQ(term->elements, (std::vector<uint64_t>{3, 4}));
  EXPECT_EQ(term->sign, "-");
}

TEST(SpecRaw, PickWritten) {
  EXPECT_EQ(RawPick{uint64_t{3}}.written(), "3");
  EXPECT_EQ(RawPick{std::string("first")}.written(), R"~("first")~");
  EXPECT_EQ(RawPick{std::string("a\"b\n")}.written(), R"~("a\"b\n")~");
  auto zero = decode_pick(json(0));
  ASSERT_TRUE(zero.ok());
  EXPECT_EQ(zero->written(), "0");
}

}  // namespace
}  // namespace zarvi_core::spec
