#include "zarvi_core/process.h"

#include <algorithm>
#include <random>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "process_support.h"
#include "test_input.h"
#include "zarvi_core/spec/builtin.h"
#include "alloc_count.h"

namespace zarvi_test {
namespace {

constexpr std::string_view kClean =
    "GS*HP*S*R*20200101*1200*7*X*005010X221A1~ST*835*0001~BPR*I*100~N1*PR*PAYER~LX*1~"
    "CLP*C1*1*100*80~CAS*CO*45*5~SVC*HC:99213*60~CAS*PR*1*15~SE*9*0001~GE*1*7~"
    "IEA*1*000000001~";

std::string clean() { return isa() + std::string(kClean); }

TEST(Processor, FinishClosesInnermostFirstAndResets) {
  process::Processor processor(mini_spec(), Delimiters{});
  const std::string text = isa() + "GS*HP~ST*835*0001~LX*1~CLP*C*1*1*1~SVC*HC:1*1~";
  std::vector<spec::LoopId> stack;
  for (const Segment& segment : frame_all(text))
    check_nesting(processor.feed(segment).events, stack);
  ASSERT_EQ(stack.size(), 6u);
  const process::Output& last = processor.finish();
  EXPECT_EQ(events_text(mini_spec(), last.events),
            "Close(service) Close(claim) Close(header) Close(transaction) Close(group) "
            "Close(interchange)");
  EXPECT_EQ(check_nesting(last.events, stack), 0u);
  EXPECT_EQ(briefs(last.diagnostics),
            (std::vector<std::string>{"UnterminatedLoop@end", "RequiredOccurrenceMissing@end",
                                      "RequiredOccurrenceMissing@end", "RequiredLoopMissing@end",
                                      "UnterminatedLoop@end", "RequiredOccurrenceMissing@end",
                                      "UnterminatedLoop@end", "RequiredOccurrenceMissing@end"}));
  // A finished processor reads the next stream from scratch: ordinals restart.
  const std::string again = clean();
  for (const Segment& segment : frame_all(again)) processor.feed(segment);
  EXPECT_TRUE(processor.finish().diagnostics.empty());
}

// Random segments from the spec's ids and a few others, with random elements
// and composites: the walk never fails, events nest, and finish closes all.
TEST(Processor, RandomStreamsNeverBreak) {
  const char* ids[] = {"ISA", "GS", "ST", "SE", "GE", "IEA", "N1", "LX", "CLP",
                       "CAS", "SVC", "REF", "DTM", "PLB", "BPR", "ZZ", ""};
  const char* values[] = {"", "PR", "EV", "F2", "405", "1", "-1.5", "99999999999999999999999",
                          "HC:1", "::", "A:B:C:D", "0001", "CO", "x"};
  std::mt19937 rng(12345);
  for (int round = 0; round < 40; ++round) {
    std::string text;
    for (size_t i = 1 + rng() % 300; i > 0; --i) {
      text += ids[rng() % std::size(ids)];
      for (size_t e = rng() % 8; e > 0; --e)
        text += std::string("*") + values[rng() % std::size(values)];
      if (rng() % 50 != 0) text += '~';
      if (rng() % 20 == 0) text += "\r\n";
    }
    std::vector<Diagnostic> diagnostics;  // rows_in_batches checks nesting and places
    rows_in_batches(mini_spec(), document_of(text), std::nullopt, diagnostics);
  }
}

// The sample under the built-in 835 spec is clean; with segments dropped,
// repeated, swapped or cut short the walk never breaks, and batches taken at
// each claim's close join to the rows of one run.
TEST(Processor, BuiltinSampleAndItsMutations) {
  const spec::Spec& spec = *spec::shared_builtin_835().value();
  const std::string sample = zarvi_core::testing::data_file("simple_5010.835");
  auto document = Document::parse(std::string_view(sample));
  ASSERT_TRUE(document.ok());
  const process::RunResult clean_run = process::Processor::run(spec, document.value());
  EXPECT_TRUE(clean_run.diagnostics.empty()) << to_string(clean_run.diagnostics.front());
  EXPECT_GT(clean_run.tables.get("claims")->rows(), 0u);

  std::vector<std::string> pieces;
  for (size_t start = 0, end; start < sample.size(); start = end + 1) {
    end = std::min(sample.find('~', start), sample.size() - 1);
    pieces.push_back(sample.substr(start, end + 1 - start));
  }
  std::mt19937 rng(777);
  for (int round = 0; round < 200; ++round) {
    std::vector<std::string> mutated = pieces;
    for (int edit = 0; edit < 3; ++edit) {
      const size_t i = 1 + rng() % (mutated.size() - 1);
      const size_t j = 1 + rng() % (mutated.size() - 1);
      switch (rng() % 3) {
        case 0: mutated.erase(mutated.begin() + static_cast<long>(i)); break;
        case 1: mutated.insert(mutated.begin() + static_cast<long>(i), mutated[j]); break;
        default: std::swap(mutated[i], mutated[j]); break;
      }
    }
    std::string text;
    for (const std::string& piece : mutated) text += piece;
    text.resize(text.size() - rng() % 40);
    auto parsed = Document::parse(std::string_view(text));
    ASSERT_TRUE(parsed.ok());
    const process::RunResult whole = process::Processor::run(spec, parsed.value());
    RowsByTable expected;
    append_rows(expected, whole.tables);
    std::vector<Diagnostic> diagnostics;
    EXPECT_EQ(rows_in_batches(spec, parsed.value(), spec.loop_id("2100"), diagnostics), expected);
  }
}

// Repeated groups up to a segment's last element, from a file of our own: a
// group that ends there with or without its last element, and a group whose
// first element is the segment's last. The file is clean.
TEST(Processor, RepeatedGroupsReachTheLastElement) {
  const std::string text = zarvi_core::testing::data_file("last_groups_5010.835");
  auto document = Document::parse(std::string_view(text));
  ASSERT_TRUE(document.ok());
  const process::RunResult run =
      process::Processor::run(*spec::shared_builtin_835().value(), document.value());
  EXPECT_EQ(briefs(run.diagnostics), std::vector<std::string>{});
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      // row | segment | payment | claim | service | amount | group_code | quantity | reason_code
      {"adjustments",
       {"0 | 21 | 0 | 0 | 0 | 40.00 | PR | 1.00 | 1", "1 | 21 | 0 | 0 | 0 | 20.00 | PR | ∅ | 2",
        "2 | 26 | 0 | 0 | 1 | 50.00 | CO | 1.00 | 45",
        "3 | 26 | 0 | 0 | 1 | 10.00 | CO | 1.00 | 253",
        "4 | 30 | 0 | 1 | ∅ | 25.00 | OA | ∅ | 23", "5 | 30 | 0 | 1 | ∅ | ∅ | OA | ∅ | 94"}},
      // row | segment | payment | amount | fiscal_period_date | provider_id | reason_code |
      // reference_id
      {"provider_adjustments",
       {"0 | 33 | 0 | 15.00 | 2026-12-31 | 1999888777 | WO | NW-OVP-7",
        "1 | 33 | 0 | -2.50 | 2026-12-31 | 1999888777 | L6 | NW-INT-7",
        "2 | 33 | 0 | ∅ | 2026-12-31 | 1999888777 | FB | NW-FWD-7"}},
  };
  for (const auto& [name, rows] : cases) {
    SCOPED_TRACE(name);
    const column::table::Table* table = run.tables.get(name);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(row_lines(*table), rows);
  }
}

// A chain of 1000 nested loops: the deepest trigger opens every ancestor
// implicitly; then ten thousand openings, each one level deeper than the last
// or back up to a random level, stay nested and open nothing implicitly.
TEST(Processor, DeepLoopChain) {
  constexpr int kDepth = 1000;
  nlohmann::json loops = nlohmann::json::object();
  for (int i = 0; i < kDepth; ++i) {
    const std::string id = "L" + std::to_string(i);
    nlohmann::json loop = {{"trigger", {{"segment", id}}},
                           {"occurrences", {{"o", {{"segment", id}, {"pos", i + 1}}}}}};
    if (i > 0) loop["parent"] = "L" + std::to_string(i - 1);
    loops[id] = loop;
  }
  auto compiled = spec::Spec::from_value({{"name", "deep"}, {"loops", loops}});
  ASSERT_TRUE(compiled.ok()) << compiled.error().message();
  std::string text = "L" + std::to_string(kDepth - 1) + "~";
  std::mt19937 rng(5);
  for (int i = 0, level = kDepth - 1; i < 10000; ++i) {
    const int up = static_cast<int>(rng() % static_cast<unsigned>(level + 1));
    level = level + 1 < kDepth && rng() % 100 != 0 ? level + 1 : up;
    text += "L" + std::to_string(level) + "~";
  }
  std::vector<Diagnostic> diagnostics;  // rows_in_batches checks nesting
  rows_in_batches(*compiled.value(), document_of(text), std::nullopt, diagnostics);
  EXPECT_EQ(std::count_if(diagnostics.begin(), diagnostics.end(),
                          [](const Diagnostic& d) { return d.rule.kind() == RuleKind::ImplicitLoop; }),
            kDepth - 1);
}

TEST(Processor, WarmProcessorDoesNotAllocatePerSegment) {
  const std::string text = clean() + clean();
  const std::vector<Segment> segments = frame_all(text);
  process::Processor processor(mini_spec(), Delimiters{});
  for (int warm = 0; warm < 2; ++warm, processor.finish())
    for (const Segment& segment : segments) processor.feed(segment);
  size_t diagnostics = 0, allocations = 0;
  {
    const AllocationCount warm;
    for (const Segment& segment : segments)
      diagnostics += processor.feed(segment).diagnostics.size();
    allocations = warm.count();
  }
  EXPECT_EQ(diagnostics, 0u);
  EXPECT_EQ(allocations, 0u);
  processor.finish();
}

// A run that drops its rows reports exactly what a full run reports.
TEST(Processor, DroppingRowsKeepsEveryDiagnostic) {
  std::vector<std::pair<std::string, std::string>> files = zarvi_core::testing::corpus_files();
  files.emplace_back("simple_5010.835", zarvi_core::testing::data_file("simple_5010.835"));
  for (const auto& [name, text] : files) {
    SCOPED_TRACE(name);
    auto document = zarvi_core::Document::parse(std::string_view(text));
    if (!document.ok()) continue;
    zarvi_core::Segments segments(document.value());
    const zarvi_core::spec::Compiled spec =
        zarvi_core::spec::select_builtin([&] { return segments.next(); });
    ASSERT_TRUE(spec.ok());
    const auto full = zarvi_core::process::Processor::run(*spec.value(), document.value());
    const auto dropped = zarvi_core::process::Processor::run(*spec.value(), document.value(),
                                                             zarvi_core::project::Rows::Drop);
    std::vector<std::string> want;
    std::vector<std::string> got;
    for (const auto& d : full.diagnostics) want.push_back(zarvi_core::to_string(d));
    for (const auto& d : dropped.diagnostics) got.push_back(zarvi_core::to_string(d));
    EXPECT_EQ(got, want);
    for (const auto& table : dropped.tables) EXPECT_EQ(table.rows(), 0u) << table.name();
  }
}

// The peak heap bytes of parsing and running `body` inside a transaction
// under the built-in spec; the run gives at least `diagnostics` findings.
size_t run_peak(const std::string& body, size_t diagnostics = 0) {
  const std::string text = isa() + "GS*HP*S*R*20200101*1200*7*X*005010X221A1~ST*835*0001~" +
                           body + "SE*3*0001~GE*1*7~IEA*1*000000001~";
  const PeakBytes bytes;
  auto document = Document::parse(std::string_view(text));
  EXPECT_TRUE(document.ok());
  if (document.ok()) {
    const auto run = process::Processor::run(*spec::shared_builtin_835().value(), document.value());
    EXPECT_GE(run.diagnostics.size(), diagnostics);
  }
  return bytes.peak();
}

// One segment of many empty elements, or one element of many empty
// components, holds at most sixteen bytes per piece beyond the input while it
// is read, wherever it stands: the slope between two lengths leaves out what
// any file costs, and a few pages allow for the allocator's rounding. (A
// finding or a cell that quotes a composite's text also holds that text, as
// it would a simple value's.)
TEST(Processor, LongSegmentCostsSixteenBytesPerPiece) {
  struct Case {
    const char* name;
    std::string before;
    char separator;
  };
  const Case cases[] = {
      {"unknown segment", "LX*1~ZZ", '*'},
      {"claim segment", "LX*1~CLP*C1*1*100*80~CLP", '*'},
      {"repeated-group segment", "LX*1~CLP*C1*1*100*80~CAS", '*'},
      {"envelope segment", "GE", '*'},
      {"components in an unknown segment", "LX*1~ZZ*", ':'},
      {"components of a composite element", "LX*1~CLP*C1*1*100*80~SVC*", ':'},
      {"components past the defined elements", "LX*1~CLP*C1*1*100*80" + std::string(26, '*'),
       ':'},
  };
  constexpr size_t kPieces = 100000;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto peak = [&](size_t n) {
      return run_peak(c.before + std::string(n, c.separator) + "~");
    };
    EXPECT_LE(peak(2 * kPieces), peak(kPieces) + 16 * kPieces + 16384);
  }
}

// Junk segments, one diagnostic each, at several depths: a diagnostic shares
// its loops with its neighbours and is never copied to make room, so each
// costs its record (120 bytes) and its segment's place in the document.
TEST(Processor, JunkSegmentsCostLittleEach) {
  const std::string cases[] = {"", "LX*1~", "LX*1~CLP*C1*1*100*80~SVC*HC:1*1~"};
  constexpr size_t kJunk = 50000;
  for (const std::string& before : cases) {
    SCOPED_TRACE(before);
    std::string one = before, two = before;
    for (size_t i = 0; i < kJunk; ++i) one += "X~";
    for (size_t i = 0; i < 2 * kJunk; ++i) two += "X~";
    EXPECT_LE(run_peak(two, 2 * kJunk), run_peak(one, kJunk) + 136 * kJunk);
  }
}

// Findings name the spec's own names, places and lists: shared with the
// spec, never copied, so that a long list costs a finding nothing.
TEST(Processor, FindingsShareTheSpecsTexts) {
  const spec::Spec& spec = mini_spec();
  const std::string text = isa() +
                           "GS*HP~ST*834*0001~REF*ZZ*1~REF*ZZ*2~DTM*050*X~LX*1~CLP*C*1*1*1~"
                           "SVC*HC:1*1~SE*1*0001~ST*835*0002~SE*1*0002~";
  const std::vector<Diagnostic> ds = run_text(spec, text);
  const auto first = [&]<class R>(std::type_identity<R>, size_t skip = 0) -> const R* {
    for (const Diagnostic& d : ds)
      if (const R* r = d.rule.get_if<R>(); r != nullptr && skip-- == 0) return r;
    ADD_FAILURE() << "no " << typeid(R).name();
    return nullptr;
  };
  const spec::LoopDef& transaction = spec.loops[*spec.loop_id("transaction")];
  const spec::ElementDef* st01 = spec.element_def("ST", 1);
  const spec::ElementDef* dtm01 = spec.element_def("DTM", 1);
  ASSERT_TRUE(st01 != nullptr && dtm01 != nullptr);

  const auto* code = first(std::type_identity<Rule::CodeNotInList>{});
  ASSERT_NE(code, nullptr);
  EXPECT_EQ(&code->codes.get(), &st01->codes);
  EXPECT_EQ(&code->name.get(), &st01->name);
  EXPECT_EQ(&code->place.id.get(), &spec.segments.find("ST")->first);

  // DTM's occurrence narrows its codes: the list and the name are the
  // occurrence's.
  const auto* narrowed = first(std::type_identity<Rule::CodeNotInList>{}, 1);
  ASSERT_NE(narrowed, nullptr);
  const auto dtm = std::find_if(transaction.occurrences.begin(), transaction.occurrences.end(),
                                [](const spec::OccurrenceDef& o) { return o.name == "dtm"; });
  ASSERT_NE(dtm, transaction.occurrences.end());
  EXPECT_EQ(&narrowed->codes.get(), &dtm->codes.begin()->second);
  ASSERT_TRUE(narrowed->occurrence.has_value());
  EXPECT_EQ(&narrowed->occurrence->get(), &dtm->name);
  EXPECT_EQ(&narrowed->name.get(), &dtm01->name);

  // Two findings of one kind share one list and the loop's name, and their
  // path names the loops by the spec's own names.
  const auto* one = first(std::type_identity<Rule::UnknownOccurrence>{});
  const auto* two = first(std::type_identity<Rule::UnknownOccurrence>{}, 1);
  ASSERT_TRUE(one != nullptr && two != nullptr);
  EXPECT_EQ(&one->occurrences.get(), &two->occurrences.get());
  EXPECT_EQ(one->occurrences.get(), (std::vector<std::string>{"ref_ev", "ref_f2"}));
  EXPECT_EQ(&one->loop.get(), &transaction.name);
  for (const Diagnostic& d : ds)
    for (const LoopRef& loop : d.loops)
      EXPECT_EQ(&loop.key.get(), &spec.loops[*spec.loop_id(loop.key.get())].name);

  // A rendered text is rendered once and shared.
  const auto* missing = first(std::type_identity<Rule::RequiredOccurrenceMissing>{});
  ASSERT_NE(missing, nullptr);
  size_t same = 0;
  for (const Diagnostic& d : ds) {
    const auto* r = d.rule.get_if<Rule::RequiredOccurrenceMissing>();
    if (r != nullptr && r->occurrence == missing->occurrence) {
      EXPECT_EQ(&r->selector.get(), &missing->selector.get());
      ++same;
    }
  }
  EXPECT_EQ(same, 2u);
}

TEST(Processor, WrongCodesOfOnePlaceShareOneRule) {
  const std::vector<Diagnostic> ds =
      run_text(mini_spec(), isa() + "GS*HP~ST*834*0001~SE*1*0001~ST*834*0002~SE*1*0002~");
  std::vector<const Diagnostic*> wrong;
  for (const Diagnostic& d : ds)
    if (d.rule.get_if<Rule::CodeNotInList>() != nullptr) wrong.push_back(&d);
  ASSERT_EQ(wrong.size(), 2u);
  EXPECT_EQ(wrong[0]->rule.get_if<Rule::CodeNotInList>(),
            wrong[1]->rule.get_if<Rule::CodeNotInList>());
  // Each keeps its own segment and bytes.
  EXPECT_NE(wrong[0]->segment, wrong[1]->segment);
  EXPECT_EQ(wrong[0]->datum, "834");
  EXPECT_EQ(to_string(wrong[0]->rule), to_string(wrong[1]->rule));
}

}  // namespace
}  // namespace zarvi_test
