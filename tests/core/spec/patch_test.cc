#include "zarvi_core/spec/patch.h"

#include <gtest/gtest.h>

#include "zarvi_core/spec/spec.h"

namespace zarvi_core::spec {
namespace {

using json = nlohmann::json;

// The worked examples of the merge patch format, plus the cases a spec patch
// leans on: nested deletes and a non-object patch replacing everything.
const char* const kMergeCases[][4] = {  // name, target, patch, expected
    {"replace member", R"({"a":"b"})", R"({"a":"c"})", R"({"a":"c"})"},
    {"null deletes", R"({"a":"b"})", R"({"a":null})", R"({})"},
    {"nested merge", R"({"a":{"b":"c"}})", R"({"a":{"b":"d","c":null}})", R"({"a":{"b":"d"}})"},
    {"array of objects replaced whole", R"({"a":[{"b":"c"}]})", R"({"a":[1]})", R"({"a":[1]})"},
    {"array patch over object", R"({"a":"b"})", R"(["c"])", R"(["c"])"},
    {"null patch", R"({"a":"foo"})", R"(null)", R"(null)"},
    {"deleting absent key", R"({"e":null})", R"({"a":1})", R"({"a":1,"e":null})"},
    {"array item in target becomes object", R"([1,2])", R"({"a":"b","c":null})", R"({"a":"b"})"},
    {"created member merges nested nulls away", R"({})", R"({"a":{"bb":{"ccc":null}}})", R"({"a":{"bb":{}}})"},
};

TEST(MergePatch, Cases) {
  for (const auto& [name, target, patch, expected] : kMergeCases) {
    json value = json::parse(target);
    merge_patch(value, json::parse(patch));
    EXPECT_EQ(value, json::parse(expected)) << name;
  }
}

json minimal_spec(std::string name) {
  json value = json::parse(R"({"loops": {"only": {"trigger": {"segment": "ISA"},
    "occurrences": {"isa": {"segment": "ISA", "pos": 1}}}}})");
  value["name"] = std::move(name);
  return value;
}

TEST(ToJson, PrettyAndSorted) {
  auto spec = Spec::from_value(minimal_spec("m"));
  ASSERT_TRUE(spec.ok()) << spec.error().message();
  EXPECT_EQ(spec.value()->to_json(),
            "{\n  \"loops\": {\n    \"only\": {\n      \"occurrences\": {\n        \"isa\": {\n"
            "          \"pos\": 1,\n          \"segment\": \"ISA\"\n        }\n      },\n"
            "      \"trigger\": {\n        \"segment\": \"ISA\"\n      }\n    }\n  },\n"
            "  \"name\": \"m\"\n}");
  // Empty when the source cannot be written: only a value built in code can hold bytes that are not UTF-8.
  auto unwritable = Spec::from_value(minimal_spec("\xff"));
  ASSERT_TRUE(unwritable.ok()) << unwritable.error().message();
  EXPECT_EQ(unwritable.value()->to_json(), "");
}

// The source is kept in a compact form; every value a spec can be compiled
// from must come back exactly, bytes that are not UTF-8 included, and a
// patch must merge over it as over the original.
TEST(SpecSource, ComesBackExactly) {
  for (const json& value : {minimal_spec("m"), minimal_spec("\xff\xfe"), minimal_spec(std::string(300, 'x'))}) {
    auto spec = Spec::from_value(value);
    ASSERT_TRUE(spec.ok()) << spec.error().message();
    EXPECT_EQ(spec.value()->source(), value);
    auto renamed = spec.value()->merge_patch(R"({"name": "n"})");
    ASSERT_TRUE(renamed.ok()) << renamed.error().message();
    json expected = value;
    expected["name"] = "n";
    EXPECT_EQ(renamed.value()->source(), expected);
  }
}

TEST(SpecMergePatch, LeavesTheOriginalAlone) {
  auto spec = Spec::from_value(minimal_spec("m"));
  ASSERT_TRUE(spec.ok());
  auto changed = spec.value()->merge_patch(R"({"loops": {"only": {"max": 2}}})");
  ASSERT_TRUE(changed.ok()) << changed.error().message();
  EXPECT_EQ(changed.value()->loops[0].max, std::optional<uint64_t>(2));
  EXPECT_EQ(spec.value()->loops[0].max, std::nullopt);
  auto broken = spec.value()->merge_patch(R"({"loops": {"only": {"max": 0}}})");
  ASSERT_FALSE(broken.ok());
  EXPECT_EQ(broken.error().message(), "applying patch: loop \"only\" has \"max\" 0; a loop that may appear appears at least once");
  EXPECT_EQ(broken.error().kind(), SpecError::Kind::Patch);
}

}  // namespace
}  // namespace zarvi_core::spec
