#include "zarvi_core/spec/builtin.h"

#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "test_input.h"
#include "zarvi_core/document.h"
#include "zarvi_core/tokenizer.h"

namespace zarvi_core::spec {
namespace {

using json = nlohmann::json;

std::vector<std::string> loop_names(const Spec& spec) {
  std::vector<std::string> names;
  for (const LoopDef& loop : spec.loops) names.push_back(loop.name);
  return names;
}

std::vector<std::string> table_names(const Spec& spec) {
  std::vector<std::string> names;
  for (const TableDef& table : spec.tables) names.push_back(table.name);
  return names;
}

const Spec& spec5010() { return *shared_builtin_835().value(); }
const Spec& spec4010() { return *shared_builtin_835_4010().value(); }

TEST(BuiltinTexts, AreCanonicalJson) {
  const std::pair<const char*, std::string_view> texts[] = {
      {"5010", builtin_835_text()},
      {"4010 patch", builtin_835_4010_patch_text()},
      {"compatibility patch", edi_835_parser_patch_text()},
  };
  for (const auto& [name, text] : texts) {
    SCOPED_TRACE(name);
    json value = json::parse(text);
    EXPECT_EQ(value.dump(2) + "\n", text);
  }
}

TEST(Builtin5010, Shape) {
  ASSERT_TRUE(shared_builtin_835().ok()) << shared_builtin_835().error().message();
  const Spec& spec = spec5010();
  EXPECT_EQ(spec.name, "835");
  EXPECT_EQ(loop_names(spec), (std::vector<std::string>{"1000A", "1000B", "2000", "2100", "2110",
                                                         "group", "interchange", "transaction"}));
  EXPECT_EQ(table_names(spec), (std::vector<std::string>{"adjustments", "claims", "payments",
                                                          "provider_adjustments", "services"}));
  ASSERT_TRUE(spec.version.has_value());
  EXPECT_EQ(spec.version->segment, "GS");
  EXPECT_EQ(spec.version->element, 8u);
  EXPECT_EQ(spec.version->values, std::vector<std::string>{"005010X221A1"});
}

TEST(Builtin5010, TablesLink) {
  const Spec& spec = spec5010();
  const TableDef& adjustments = *spec.table("adjustments");
  auto names = [&](const std::vector<std::size_t>& chain) {
    std::vector<std::string> out;
    for (std::size_t i : chain) out.push_back(spec.tables[i].name);
    return out;
  };
  EXPECT_EQ(names(adjustments.chain), (std::vector<std::string>{"payments", "claims", "services"}));
  EXPECT_EQ(spec.tables[*adjustments.parent].name, "services");
}

TEST(Builtin4010, Differences) {
  ASSERT_TRUE(shared_builtin_835_4010().ok()) << shared_builtin_835_4010().error().message();
  const Spec& spec = spec4010();
  EXPECT_EQ(spec.name, "835");
  EXPECT_EQ(spec.version->values,
            (std::vector<std::string>{"004010X091A1", "004010X091", "004010"}));
  EXPECT_EQ(spec.segments.count("RDM"), 0u);
  const ElementDef* isa11 = spec.element_def("ISA", 11, std::nullopt);
  ASSERT_NE(isa11, nullptr);
  EXPECT_EQ(isa11->type.kind, ElementType::Kind::ID);
  EXPECT_EQ(isa11->codes, std::vector<std::string>{"U"});
  EXPECT_EQ(spec.element_def("CLP", 14, std::nullopt), nullptr);
  EXPECT_EQ(spec.element_def("SVC", 1, 8), nullptr);
  const LoopDef& claim = spec.loops[*spec.loop_id("2100")];
  auto has = [&](const char* name) {
    return std::any_of(claim.occurrences.begin(), claim.occurrences.end(),
                       [&](const OccurrenceDef& o) { return o.name == name; });
  };
  EXPECT_TRUE(has("claim_date"));
  EXPECT_FALSE(has("other_subscriber_name"));
}

TEST(Builtin4010, VersionReadWithoutCompilingMatchesTheCompiledSpec) {
  const std::optional<DeclaredVersion>* read = builtin_835_4010_version();
  ASSERT_NE(read, nullptr);
  ASSERT_TRUE(read->has_value());
  EXPECT_EQ(*read, spec4010().version);
}

TEST(Builtins, AreSharedOncePerProcess) {
  EXPECT_EQ(shared_builtin_835().value().get(), shared_builtin_835().value().get());
  EXPECT_EQ(shared_builtin_835_4010().value().get(), shared_builtin_835_4010().value().get());
}

TEST(Builtins, ToJsonRoundTrips) {
  const std::pair<const char*, const Spec*> specs[] = {{"5010", &spec5010()},
                                                       {"4010", &spec4010()}};
  for (const auto& [name, spec] : specs) {
    SCOPED_TRACE(name);
    std::string text = spec->to_json();
    auto again = Spec::from_json(text);
    ASSERT_TRUE(again.ok()) << again.error().message();
    EXPECT_EQ(again.value()->to_json(), text);
    EXPECT_EQ(again.value()->source(), spec->source());
    EXPECT_EQ(again.value()->tables, spec->tables);
    EXPECT_EQ(again.value()->balancing, spec->balancing);
    EXPECT_EQ(again.value()->version, spec->version);
  }
}

TEST(CompatibilityPatch, YieldsSeventeenTables) {
  std::string_view text = edi_835_parser_patch_text();
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  auto patched = spec5010().merge_patch(text);
  ASSERT_TRUE(patched.ok()) << patched.error().message();
  EXPECT_EQ(patched.value()->name, "edi_835_parser");
  EXPECT_EQ(patched.value()->tables.size(), 17u);
  EXPECT_EQ(patched.value()->element_def("SVC", 5, std::nullopt)->type.kind, ElementType::Kind::AN);
  const TableDef& rows = *patched.value()->table("rows");
  std::vector<std::string> chain;
  for (std::size_t i : rows.chain) chain.push_back(patched.value()->tables[i].name);
  EXPECT_EQ(chain, (std::vector<std::string>{"rows_interchanges", "rows_payments", "rows_claims"}));
  // The patched spec is a new one; the built-in keeps its tables.
  EXPECT_EQ(spec5010().tables.size(), 5u);
}

struct PatchCase {
  const char* name;
  const char* patch;
  const char* expected;  // error message prefix, or "" for success
};

const PatchCase kPatchCases[] = {
    {"remove all tables", R"({"tables": null})", ""},
    {"empty patch", "{}", ""},
    {"not JSON", "{", "invalid spec JSON: "},
    {"top level replaced", "[]",
     "applying patch: the spec must be a JSON object; found an array"},
    {"unknown key in a loop", R"({"loops": {"2000": {"colour": "red"}}})",
     "applying patch: spec: unknown key \"colour\" at loops.2000"},
    {"version error", R"({"version": {"values": []}})",
     "applying patch: the spec's \"version\" is invalid: \"values\" is empty; list at least one "
     "value the element may hold"},
    {"version segment empty", R"({"version": {"segment": ""}})",
     "applying patch: the spec has an empty segment id at version.segment"},
};

TEST(MergePatch, OverTheBuiltin) {
  for (const PatchCase& c : kPatchCases) {
    SCOPED_TRACE(c.name);
    auto patched = spec5010().merge_patch(c.patch);
    if (*c.expected == '\0') {
      EXPECT_TRUE(patched.ok()) << patched.error().message();
    } else {
      ASSERT_FALSE(patched.ok());
      EXPECT_EQ(patched.error().message().rfind(c.expected, 0), 0u) << patched.error().message();
    }
  }
  auto bare = spec5010().merge_patch(R"({"tables": null})");
  ASSERT_TRUE(bare.ok());
  EXPECT_TRUE(bare.value()->tables.empty());
  EXPECT_EQ(spec5010().tables.size(), 5u);
}

TEST(SelectBuiltin, ByDeclaredVersion) {
  struct Case {
    const char* name;
    const char* input;
    const Spec* expected;
  };
  const Case cases[] = {
      {"5010", "ISA*x~GS*HP*S*R*1*1*1*X*005010X221A1~", &spec5010()},
      {"4010", "ISA*x~GS*HP*S*R*1*1*1*X*004010X091A1~", &spec4010()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Tokenizer tokens(c.input, Delimiters{});
    auto chosen = select_builtin([&] { return tokens.next(); });
    ASSERT_TRUE(chosen.ok());
    EXPECT_EQ(chosen.value().get(), c.expected);
  }
}

TEST(SelectBuiltin, ThirdPartyFiles) {
  const std::optional<std::filesystem::path> corpus = zarvi_core::testing::corpus_dir();
  if (!corpus) GTEST_SKIP() << "no corpus";
  const std::filesystem::path& dir = *corpus;
  struct Case {
    const char* file;
    const Spec* expected;
  };
  const Case cases[] = {
      {"4010__oopfactory__grip-elements_bom-indented.txt", &spec4010()},
      {"4010__pyx12__simple_reversals-plb.txt", &spec4010()},
      {"4010__stupidedi__pipe-caret-tilde_plb.edi", &spec4010()},
      // GS08 holds a placeholder, not a version.
      {"4010__oopfactory__nth-deidentified-01.dat", &spec5010()},
      // The GS has no element 8.
      {"4010__tigershark__perl-x12-sample_cr-terminator_dummy-values.txt", &spec5010()},
      // LF terminates segments and every id starts with a stray "~": no GS.
      {"4010__tigershark__pipe-caret_lf-then-tilde.txt", &spec5010()},
      {"5010__lfh__managed-care.835", &spec5010()},
      {"5010__oopfactory__gs08-5010-isa-00401_bom-indented.txt", &spec5010()},
      {"5010__x12parser-node__two-interchanges-one-line.edi", &spec5010()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::filesystem::path path = dir / c.file;
    if (!std::filesystem::exists(path)) continue;
    const std::string text = zarvi_core::testing::read_file(path.string());
    auto document = Document::parse(std::string_view(text));
    ASSERT_TRUE(document.ok());
    Segments segments(document.value());
    auto chosen = select_builtin([&] { return segments.next(); });
    ASSERT_TRUE(chosen.ok());
    EXPECT_EQ(chosen.value().get(), c.expected);
  }
}

}  // namespace
}  // namespace zarvi_core::spec
