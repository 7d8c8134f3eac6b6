#include "zarvi_core/spec/raw.h"

#include <gtest/gtest.h>

#include <tuple>

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
  const std::tuple<const char*, std::string, std::string> cases[] = {
      {"not an object", problem(decode_loop(json::array())), "invalid type: sequence, expected a loop object"},
      {"spec expected text", problem(decode_spec(json(5))), R"~(invalid type: integer `5`, expected a spec object with "name" and "loops")~"},
      {"missing fields in declaration order", problem(decode_control(json::object())), "missing field `opener_element`"},
      {"unknown field, several expected", problem(decode_repeat(json::parse(R"({"from": 1, "step": 1, "x": 1})"))),
       "unknown field `x`, expected `from` or `step`"},
      {"unknown field before missing", problem(decode_qualifier(json::parse(R"({"zz": 1})"))),
       "unknown field `zz`, expected one of `element`, `component`, `codes`"},
      {"wrong member type", problem(decode_trigger(json::parse(R"({"segment": null})"))), "invalid type: null, expected a string"},
      {"negative count", problem(decode_occurrence(json::parse(R"({"segment": "A", "pos": -1})"))), "invalid value: integer `-1`, expected u64"},
      {"float count", problem(decode_occurrence(json::parse(R"({"segment": "A", "pos": 1.5})"))), "invalid type: floating point `1.5`, expected u64"},
      {"scale above a byte", problem(decode_element(json::parse(R"({"name": "a", "type": "R", "scale": 300})"))),
       "invalid value: integer `300`, expected u8"},
      {"string quoted", problem(decode_element(json::parse(R"({"name": "a", "type": "R", "required": "yes"})"))),
       R"~(invalid type: string "yes", expected a boolean)~"},
      {"nested map", problem(decode_segment(json::parse(R"({"elements": {"1": 5}})"))), "invalid type: integer `5`, expected an element object"},
      {"pick", problem(decode_pick(json(-1))), "a pick"},
      {"loops must be an object", problem(decode_spec(json::parse(R"({"name": "a", "loops": []})"))), "invalid type: sequence, expected a map"},
  };
  for (const auto& [name, got, expected] : cases) EXPECT_EQ(got, expected) << name;
}

TEST(SpecRaw, OptionalSectionsArePointersIntoTheValue) {
  const json spec = json::parse(R"({"name": "n", "loops": {}, "tables": {"t": {}}, "segments": null})");
  auto top = decode_spec(spec);
  ASSERT_TRUE(top.ok()) << top.error();
  EXPECT_EQ(top->loops, &spec["loops"]);
  EXPECT_EQ(top->segments, nullptr);
}

TEST(SpecRaw, PickWritten) {
  EXPECT_EQ(RawPick{uint64_t{3}}.written(), "3");
  EXPECT_EQ(RawPick{std::string("a\"b\n")}.written(), R"~("a\"b\n")~");
  EXPECT_EQ(decode_column(json::parse(R"({"pick": "last"})"))->pick->written(), R"~("last")~");
}

}  // namespace
}  // namespace zarvi_core::spec
