#include "zarvi_core/spec/builtin.h"

#include <filesystem>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "../test_input.h"
#include "zarvi_core/document.h"
#include "zarvi_core/tokenizer.h"

namespace zarvi_core::spec {
namespace {

using json = nlohmann::json;

const Spec& spec5010() { return *shared_builtin_835().value(); }
const Spec& spec4010() { return *shared_builtin_835_4010().value(); }

TEST(BuiltinTexts, AreCanonicalJson) {
  for (std::string_view text : {builtin_835_text(), builtin_835_4010_patch_text(), edi_835_parser_patch_text()}) {
    EXPECT_EQ(json::parse(text).dump(2) + "\n", text) << text.substr(0, 80);
  }
}

TEST(Builtins, Compile) {
  ASSERT_TRUE(shared_builtin_835().ok()) << shared_builtin_835().error().message();
  ASSERT_TRUE(shared_builtin_835_4010().ok()) << shared_builtin_835_4010().error().message();
  // The 4010 patch really applies: a 5010-only segment is gone.
  EXPECT_EQ(spec5010().segments.count("RDM"), 1u);
  EXPECT_EQ(spec4010().segments.count("RDM"), 0u);
  // Shared once per process.
  EXPECT_EQ(shared_builtin_835().value().get(), &spec5010());
  EXPECT_EQ(shared_builtin_835_4010().value().get(), &spec4010());
}

TEST(Builtin4010, VersionReadWithoutCompilingMatchesTheCompiledSpec) {
  const std::optional<DeclaredVersion>* read = builtin_835_4010_version();
  ASSERT_NE(read, nullptr);
  ASSERT_TRUE(read->has_value());
  EXPECT_EQ(*read, spec4010().version);
}

TEST(Builtins, ToJsonRoundTrips) {
  const std::pair<const char*, const Spec*> specs[] = {{"5010", &spec5010()}, {"4010", &spec4010()}};
  for (const auto& [name, spec] : specs) {
    SCOPED_TRACE(name);
    std::string text = spec->to_json();
    auto again = Spec::from_json(text);
    ASSERT_TRUE(again.ok()) << again.error().message();
    EXPECT_EQ(again.value()->to_json(), text);
    EXPECT_EQ(again.value()->source(), spec->source());
  }
}

TEST(MergePatch, OverTheBuiltin) {
  auto patched = spec5010().merge_patch(edi_835_parser_patch_text());
  ASSERT_TRUE(patched.ok()) << patched.error().message();
  EXPECT_EQ(patched.value()->tables.size(), 17u);
  EXPECT_EQ(patched.value()->table("rows")->chain.size(), 3u);  // rows_interchanges, rows_payments, rows_claims
  auto bare = spec5010().merge_patch(R"({"tables": null})");
  ASSERT_TRUE(bare.ok()) << bare.error().message();
  EXPECT_TRUE(bare.value()->tables.empty());
  EXPECT_EQ(spec5010().tables.size(), 5u);  // a patched spec is a new one
  auto bad = spec5010().merge_patch(R"({"version": {"values": []}})");
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.error().message(),
            "applying patch: the spec's \"version\" is invalid: \"values\" is empty; list at least one value the element may hold");
}

TEST(SelectBuiltin, ByDeclaredVersion) {
  const std::pair<const char*, const Spec*> cases[] = {{"ISA*x~GS*HP*S*R*1*1*1*X*005010X221A1~", &spec5010()},
                                                       {"ISA*x~GS*HP*S*R*1*1*1*X*004010X091A1~", &spec4010()}};
  for (const auto& [input, expected] : cases) {
    Tokenizer tokens(input, Delimiters{});
    auto chosen = select_builtin([&] { return tokens.next(); });
    ASSERT_TRUE(chosen.ok());
    EXPECT_EQ(chosen.value().get(), expected) << input;
  }
}

TEST(SelectBuiltin, ThirdPartyFiles) {
  const std::optional<std::filesystem::path> corpus = zarvi_core::testing::corpus_dir();
  if (!corpus) GTEST_SKIP() << "no corpus";
  const std::pair<const char*, const Spec*> cases[] = {
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
  for (const auto& [file, expected] : cases) {
    SCOPED_TRACE(file);
    const std::filesystem::path path = *corpus / file;
    if (!std::filesystem::exists(path)) continue;
    const std::string text = zarvi_core::testing::read_file(path.string());
    auto document = Document::parse(std::string_view(text));
    ASSERT_TRUE(document.ok());
    Segments segments(document.value());
    auto chosen = select_builtin([&] { return segments.next(); });
    ASSERT_TRUE(chosen.ok());
    EXPECT_EQ(chosen.value().get(), expected);
  }
}

}  // namespace
}  // namespace zarvi_core::spec
