// Projection: element checks, rows per anchor instance and per segment,
// carried columns, picks, key columns, dropped values and batches.
#include "zarvi_core/project/project.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "../process_support.h"
#include "zarvi_core/document.h"
#include "zarvi_core/process.h"
#include "zarvi_core/spec/builtin.h"

#include "../alloc_count.h"

namespace zarvi_test {
namespace {

// One transaction around `body`: ST is segment 0, the body starts at 1.
std::string tx(std::string_view body) {
  return "ST*835*1234~" + std::string(body) + "SE*9*1234~";
}

// Group elements whose position is not known type as binary (the other
// sources are typed in FillsTables).
TEST(ColumnType, UnknownGroupPositions) {
  spec::TableDef plain, far;
  far.segment = "CAS";
  far.repeat = spec::Repeat{UINT64_MAX, 3};
  spec::GroupElementSource group;
  group.offset = 1;
  for (const spec::TableDef* table : {&plain, &far})
    EXPECT_EQ(project::plan::column_type(projection_spec(), *table, group), column::ColumnType::binary());
}

TEST(Projector, ChecksElementValues) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"clean values pass",
       tx("BPR*I*-12.50~REF*EV*T~CLP*C1*22*10*2*-15~SVC*HC:A1*1~DTM*472*230115*1230~"), {}},
      {"absent required elements", "ST~",
       {"RequiredElementMissing@0.1", "RequiredElementMissing@0.2"}},
      {"a composite value is checked joined", "ST*83:5*1234~", {"CodeNotInList@0.1 \"83:5\""}},
      {"an R length counts digits only", tx("BPR*I*123.45~"), {"LengthOutOfRange@1.2 \"123.45\""}},
      {"a type mismatch hides the length", tx("BPR*I*1x345~"), {"TypeMismatch@1.2 \"1x345\""}},
      {"more fraction digits than the scale", tx("BPR*I*1.234~"), {"TypeMismatch@1.2 \"1.234\""}},
      {"a date that does not exist", tx("BPR*I*1**************20230229~"), {"TypeMismatch@1.16 \"20230229\""}},
      {"an N value with a point", tx("CLP*C1*1*10**1.5~"), {"TypeMismatch@1.5 \"1.5\""}},
      {"an N value past 64 bits", tx("CLP*C1*1*10**99999999999999999999~"),
       {"TypeMismatch@1.5 \"99999999999999999999\""}},
      {"a time past 23:59", tx("CLP*C1*1*10~SVC*HC:A1*1~DTM*472*20230101*2460~"),
       {"TypeMismatch@3.3 \"2460\""}},
      {"shape first, then each component", tx("CLP*C1*1*10~SVC*XX:ABCDEF:Z*1~"),
       {"CompositeShape@2.1-3 \"Z\"", "CodeNotInList@2.1-1 \"XX\"",
        "LengthOutOfRange@2.1-2 \"ABCDEF\""}},
      {"a simple value checked as component 1", tx("CLP*C1*1*10~SVC*ZZ*1~"),
       {"CodeNotInList@2.1-1 \"ZZ\"", "RequiredElementMissing@2.1-2"}},
      {"undefined positions and segments pass", tx("REF*EV*T*X*Y~FOO*~"), {}},
      {"an unplaced segment is not checked", "REF**~ST*835*1234~", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(briefs(project_text(projection_spec(), c.text).diagnostics), c.expected);
  }
}

// A qualifier that reads a value has checked its code when the segment
// matched; a qualifier on another element or component has not, nor has one
// that read the first component of a composite checked as a whole.
TEST(Projector, QualifiedOccurrencesCheckTheirLists) {
  static const spec::SpecPtr compiled = compile_or_abort(R"json({"name": "qualified",
    "loops": {"tx": {"trigger": {"segment": "ST"}, "end": "SE", "occurrences": {
      "st": {"segment": "ST", "pos": 1},
      "val_a": {"segment": "VAL", "pos": 2,
        "qualifier": {"element": 2, "component": 1, "codes": ["A"]},
        "codes": {"1": ["A", "Q1"], "2-2": ["A", "Q1"]}},
      "val_b": {"segment": "VAL", "pos": 3,
        "qualifier": {"element": 2, "component": 1, "codes": ["B", "C"]},
        "codes": {"1": ["B", "Q2"]}},
      "one_a": {"segment": "ONE", "pos": 4, "qualifier": {"element": 1, "codes": ["A"]}},
      "one_b": {"segment": "ONE", "pos": 5, "qualifier": {"element": 1, "codes": ["B"]}}}}},
    "segments": {
      "VAL": {"elements": {"1": {"name": "code", "type": "ID", "codes": ["A", "B", "Q1", "Q2"]},
        "2": {"name": "comp", "type": "AN", "composite": {
          "1": {"name": "x", "type": "ID", "codes": ["A", "B", "C", "D"]},
          "2": {"name": "y", "type": "ID", "codes": ["A", "Q1", "Q2"]}}}}},
      "ONE": {"elements": {"1": {"name": "qual", "type": "ID", "codes": ["A", "B"]}}}}})json");
  struct Case {
    const char* name;
    const char* segments;  // one transaction each
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"each occurrence's own list", "VAL*Q1*A:Q1~VAL*Q2*B~VAL*B*C:Q2~ONE*A~ONE*B", {}},
      {"a code of another occurrence's list", "VAL*Q2*A~VAL*Q1*B",
       {"CodeNotInList@1.1 \"Q2\"", "CodeNotInList@4.1 \"Q1\""}},
      {"another component's list", "VAL*Q1*A:Q2", {"CodeNotInList@1.2-2 \"Q2\""}},
      {"no occurrence: the element's lists", "VAL*Q1*D:Q2~VAL*Q1*E",
       {"CodeNotInList@4.2-1 \"E\""}},
      {"a qualifier's composite is checked joined", "ONE*A:B", {"CodeNotInList@1.1 \"A:B\""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string text;
    for (std::string_view rest = c.segments; !rest.empty();) {
      const size_t end = std::min(rest.find('~'), rest.size());
      text += "ST~" + std::string(rest.substr(0, end)) + "~SE~";
      rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    EXPECT_EQ(briefs(project_text(*compiled, text).diagnostics), c.expected);
  }
}

// Every value of every type, random and edge texts, checked against the rules
// written out plainly: the text converts to a cell of its column type, its
// length (digits only for numbers) is within bounds, and a listed code is in
// the list that applies (element 9's comes from its occurrence alone).
TEST(Projector, ValueChecksFollowTheRules) {
  static const spec::SpecPtr compiled = compile_or_abort(R"json({"name": "values",
    "loops": {"tx": {"trigger": {"segment": "ST"}, "end": "SE", "occurrences": {
      "st": {"segment": "ST", "pos": 1},
      "val": {"segment": "VAL", "pos": 2, "codes": {"9": ["Q1", "Q22"]}}}}},
    "segments": {"VAL": {"elements": {
      "1": {"name": "an", "type": "AN", "required": true, "min": 2, "max": 5},
      "2": {"name": "r2", "type": "R", "scale": 2, "min": 1, "max": 6},
      "3": {"name": "dt", "type": "DT"}, "4": {"name": "tm", "type": "TM"},
      "5": {"name": "n2", "type": "N2", "max": 4},
      "6": {"name": "id", "type": "ID", "codes": ["A", "BB", "X1", "LONGCODE1"]},
      "7": {"name": "r0", "type": "R", "scale": 0, "required": true, "min": 2, "max": 3},
      "8": {"name": "comp", "type": "AN", "composite": {
        "1": {"name": "q", "type": "ID", "required": true, "codes": ["AD", "HC"]},
        "2": {"name": "n", "type": "R", "scale": 0, "max": 3},
        "3": {"name": "d", "type": "DT", "required": true}}},
      "9": {"name": "occ", "type": "ID"},
      "10": {"name": "r4", "type": "R", "scale": 4}}}}})json");
  using T = column::ColumnType;
  struct Rule {
    T type;
    bool number;
    bool required;
    uint64_t min, max;
    std::vector<std::string> codes;  // empty: any
  };
  const Rule simple[] = {
      {T::binary(), false, true, 2, 5, {}},
      {T::decimal128(38, 2), true, false, 0, 6, {}},
      {T::date32(), false, false, 0, UINT64_MAX, {}},
      {T::time32(), false, false, 0, UINT64_MAX, {}},
      {T::int64(2), true, false, 0, 4, {}},
      {T::binary(), false, false, 0, UINT64_MAX, {"A", "BB", "X1", "LONGCODE1"}},
      {T::decimal128(38, 0), true, true, 2, 3, {}},
      {},  // the composite
      {T::binary(), false, false, 0, UINT64_MAX, {"Q1", "Q22"}},
      {T::decimal128(38, 4), true, false, 0, UINT64_MAX, {}},
  };
  const Rule components[] = {
      {T::binary(), false, true, 0, UINT64_MAX, {"AD", "HC"}},
      {T::decimal128(38, 0), true, false, 0, 3, {}},
      {T::date32(), false, true, 0, UINT64_MAX, {}},
  };
  auto finding = [](const Rule& rule, const std::string& text, const std::string& where,
                    std::vector<std::string>& out) {
    if (text.empty()) {
      if (rule.required) out.push_back("RequiredElementMissing@" + where);
      return;
    }
    const std::string datum = " " + quote_bytes(text);
    if (!column::parse::cell_from_text(rule.type, text))
      return out.push_back("TypeMismatch@" + where + datum);
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    const uint64_t length =
        rule.number ? std::count_if(text.begin(), text.end(), digit) : text.size();
    if (length < rule.min || length > rule.max)
      return out.push_back("LengthOutOfRange@" + where + datum);
    const auto& codes = rule.codes;
    if (!codes.empty() && std::find(codes.begin(), codes.end(), text) == codes.end())
      out.push_back("CodeNotInList@" + where + datum);
  };
  std::mt19937 rng(2024);
  auto pick = [&](std::initializer_list<const char*> texts) {
    return std::string(texts.begin()[rng() % texts.size()]);
  };
  auto random_text = [&] {
    std::string out;
    switch (rng() % 8) {
      case 0:
        return pick({"", "A", "BB", "X1", "LONGCODE1", "LONGCODE", "Q1", "Q22", "Q3", "AD", "HC"});
      case 1: return pick({"20230229", "20240229", "19000229", "20000229", "00000101", "991231",
                           "500101", "20231131", "2023010", "1230", "235960", "2400", "12000599"});
      case 2:  // a date that may or may not exist
        return std::to_string(1 + rng() % 9999) + pick({"01", "02", "04", "12", "13", "00"}) +
               pick({"00", "01", "28", "29", "30", "31", "32"});
      case 3:  // a number of up to 45 digits, with sign and point
        if (rng() % 3 == 0) out += '-';
        for (size_t n = rng() % 46, point = rng() % 50; out.size() < n; )
          out += out.size() == point ? '.' : static_cast<char>('0' + rng() % 10);
        return out;
      default:
        for (size_t n = rng() % 11; n > 0; --n) out += "0123456789.-AQ1 +"[rng() % 17];
        return out;
    }
  };
  for (int round = 0; round < 3000; ++round) {
    std::string segment = "VAL";
    std::vector<std::string> expected;
    for (size_t e = 1; e <= std::size(simple); ++e) {
      const std::string where = "1." + std::to_string(e);
      segment += '*';
      if (e != 8) {
        const bool code = (e == 6 || e == 9) && rng() % 2;
        const std::string text = code ? pick({"A", "BB", "X1", "Q1", "Q22", "Q3"}) : random_text();
        segment += text;
        finding(simple[e - 1], text, where, expected);
        continue;
      }
      std::vector<std::string> parts(1 + rng() % 3);
      for (std::string& part : parts) part = random_text();
      for (size_t c = 0; c < parts.size(); ++c) segment += (c ? ":" : "") + parts[c];
      if (std::all_of(parts.begin(), parts.end(), [](const std::string& p) { return p.empty(); }))
        continue;
      for (size_t c = 0; c < std::size(components); ++c)
        finding(components[c], c < parts.size() ? parts[c] : "",
                where + "-" + std::to_string(c + 1), expected);
    }
    SCOPED_TRACE(segment);
    ASSERT_EQ(briefs(project_text(*compiled, "ST~" + segment + "~SE~").diagnostics), expected);
  }
}

// The place and the open loops of a finding in a later transaction.
TEST(Projector, DiagnosticsNameTheOpenLoops) {
  const Projected p =
      project_text(projection_spec(), tx("") + tx("CLP*C1*1*10~SVC*HC:A1:X*1~DTM*150*20230101~"));
  ASSERT_EQ(briefs(p.diagnostics),
            (std::vector<std::string>{"CompositeShape@4.1-3 \"X\"", "CodeNotInList@5.1 \"150\""}));
  for (const Diagnostic& d : p.diagnostics) EXPECT_EQ(render_path(d.loops), "tx#2/claim#1/svc#1");
  EXPECT_EQ(to_string(p.diagnostics[0].rule),
            "element SVC01-3 (procedure) has 3 components; the spec declares 2");
  EXPECT_EQ(to_string(p.diagnostics[1].rule),
            "element DTM01 (qualifier) is not the one code the spec lists for it in occurrence "
            "\"dtm\" (\"472\")");
}

// Two transactions: every kind of column read, picks, a carried column, keys
// of enclosing rows, repeat groups and rows per end segment. Segments: ST 0,
// BPR 1, REF 2-3, N1 4, CLP 5, CAS 6-8, SVC 9, DTM 10-11, SVC 12, CLP 13,
// SE 14, ST 15, CLP 16, SE 17.
constexpr std::string_view kStream =
    "ST*835*1234~BPR*I*12.50**************20230301~REF*EV*TR1~REF*F2*OTHER~N1*PR*ACME~"
    "CLP*C1*1*100.00**150~CAS*CO*45*10.00*1*97*5.00~CAS*PR*1*7.00~CAS*OA*2*3.00~"
    "SVC*HC:A1*60.00~DTM*472*20230115*1230~DTM*472*20230116~SVC*AD:B2*40~CLP*C2*2*50~"
    "SE*15*1234~ST*835*5678~CLP*C3*22*5~SE*3*5678~";

TEST(Projector, FillsTables) {
  const Projected p = project_text(projection_spec(), kStream);
  EXPECT_EQ(briefs(p.diagnostics), std::vector<std::string>{});
  struct Case {
    const char* table;
    std::string expected;
  };
  const Case cases[] = {
      {"payments", "## payments (rows: 2)\n"
       "row: int64 | segment: int64 | amount: decimal128(38, 2) | date: date32 | "
       "other_ref: binary | payer_name: binary | st_at: int64 | trace: binary\n"
       "0 | 0 | 12.50 | 2023-03-01 | OTHER | ACME | 0 | TR1\n"
       "1 | 15 | ∅ | ∅ | ∅ | ∅ | 15 | ∅\n\n"},
      {"claims", "## claims (rows: 3)\n"
       "row: int64 | segment: int64 | payment: int64 | cas_first: decimal128(38, 2) | "
       "cas_last: decimal128(38, 2) | cas_second: decimal128(38, 2) | "
       "charge: decimal128(38, 2) | claim_id: binary | trace: binary | units: int64 (scale 2)\n"
       "0 | 5 | 0 | 10.00 | 3.00 | 7.00 | 100.00 | C1 | TR1 | 150\n"
       "1 | 13 | 0 | ∅ | ∅ | ∅ | 50.00 | C2 | TR1 | ∅\n"
       "2 | 16 | 1 | ∅ | ∅ | ∅ | 5.00 | C3 | ∅ | ∅\n\n"},
      {"services", "## services (rows: 2)\n"
       "row: int64 | segment: int64 | payment: int64 | claim: int64 | "
       "charge: decimal128(38, 2) | code: binary | date: date32 | procedure: binary | "
       "time: time32 (seconds)\n"
       "0 | 9 | 0 | 0 | 60.00 | A1 | 2023-01-15 | HC:A1 | 12:30:00\n"
       "1 | 12 | 0 | 0 | 40.00 | B2 | ∅ | AD:B2 | ∅\n\n"},
      {"adjustments", "## adjustments (rows: 4)\n"
       "row: int64 | segment: int64 | payment: int64 | claim: int64 | "
       "amount: decimal128(38, 2) | at: int64 | group: binary | "
       "quantity: decimal128(38, 0) | reason: binary\n"
       "0 | 6 | 0 | 0 | 10.00 | 6 | CO | 1 | 45\n"
       "1 | 6 | 0 | 0 | 5.00 | 6 | CO | ∅ | 97\n"
       "2 | 7 | 0 | 0 | 7.00 | 7 | PR | ∅ | 1\n"
       "3 | 8 | 0 | 0 | 3.00 | 8 | OA | ∅ | 2\n\n"},
      {"endings", "## endings (rows: 2)\n"
       "row: int64 | segment: int64 | payment: int64 | count: binary\n"
       "0 | 14 | 0 | 15\n"
       "1 | 17 | 1 | 3\n\n"},
  };
  ASSERT_EQ(p.tables.size(), std::size(cases));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.table);
    const column::table::Table* table = p.tables.get(c.table);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(to_string(*table), c.expected);
  }
}

TEST(Projector, ColumnReads) {
  // Each case: the input, and the expected claims rows.
  struct Case {
    const char* name;
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {"first pick keeps the first repeat; nth and last wait for theirs",
       tx("CLP*C1*1*1~CAS*CO*1*1.00~"),
       "0 | 1 | 0 | 1.00 | 1.00 | ∅ | 1.00 | C1 | ∅ | ∅"},
      {"an unconvertible value reads as null", tx("CLP*C1*1*x**y~"),
       "0 | 1 | 0 | ∅ | ∅ | ∅ | ∅ | C1 | ∅ | ∅"},
      {"a present empty text is an empty binary value, null elsewhere", tx("CLP**1*~"),
       "0 | 1 | 0 | ∅ | ∅ | ∅ | ∅ |  | ∅ | ∅"},
      // C3 opens before its transaction's REF: the value of A must not leak in.
      {"a carried value is cleared by the next instance of its loop",
       tx("REF*EV*A~CLP*C1~CLP*C2~") + tx("CLP*C3~REF*EV*B~") + tx("REF*EV*C~CLP*C4~"),
       "0 | 2 | 0 | ∅ | ∅ | ∅ | ∅ | C1 | A | ∅\n"
       "1 | 3 | 0 | ∅ | ∅ | ∅ | ∅ | C2 | A | ∅\n"
       "2 | 6 | 1 | ∅ | ∅ | ∅ | ∅ | C3 | ∅ | ∅\n"
       "3 | 11 | 2 | ∅ | ∅ | ∅ | ∅ | C4 | C | ∅"},
      // The element check keeps the amounts it parses for these columns: a
      // segment whose amount it does not parse must not read the last one.
      {"an amount is read from its own segment",
       tx("CLP*C1*1*12~CAS*CO*1*2~CLP*C2*1*5:1~CAS*CO*1*~CLP*C3*1*1.234~CLP*C4*1*-0.5~"),
       "0 | 1 | 0 | 2.00 | 2.00 | ∅ | 12.00 | C1 | ∅ | ∅\n"
       "1 | 3 | 0 | ∅ | ∅ | ∅ | ∅ | C2 | ∅ | ∅\n"
       "2 | 5 | 0 | ∅ | ∅ | ∅ | ∅ | C3 | ∅ | ∅\n"
       "3 | 6 | 0 | ∅ | ∅ | ∅ | -0.50 | C4 | ∅ | ∅"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Projected p = project_text(projection_spec(), c.text);
    const column::table::Table* claims = p.tables.get("claims");
    ASSERT_NE(claims, nullptr);
    std::string lines;
    for (const std::string& line : row_lines(*claims)) lines += (lines.empty() ? "" : "\n") + line;
    EXPECT_EQ(lines, c.expected);
  }
}

TEST(Projector, FinishAppendsPendingRowsAndResets) {
  const spec::Spec& spec = projection_spec();
  engine::LoopEngine engine(spec);
  project::Projector projector(spec, Delimiters{});
  std::vector<column::table::Table> taken;
  // No SE: the transaction and its claim are still open at the end.
  for (const Segment& s : frame_all("ST*835*1234~CLP*A~")) (void)projector.on(engine.feed(s), s);
  (void)projector.finish();
  projector.take_rows(taken);
  EXPECT_EQ(column::table::Tables(std::move(taken)).get("claims")->rows(), 1u);
  // A new input after finish numbers rows and loop instances from the start.
  std::vector<engine::Event> close;
  engine.close_all(close);
  const std::vector<Segment> again = frame_all("ST**1~");
  const auto& ds = projector.on(engine.feed(again[0]), again[0]);
  ASSERT_EQ(ds.size(), 2u);
  EXPECT_EQ(render_path(ds[0].loops), "tx#1");
  (void)projector.finish();
  taken.clear();
  projector.take_rows(taken);
  EXPECT_EQ(row_lines(*column::table::Tables(std::move(taken)).get("payments")),
            std::vector<std::string>{"0 | 0 | ∅ | ∅ | ∅ | ∅ | 0 | ∅"});
}

TEST(Projector, WarmProjectorAllocatesOnlyToGrowColumns) {
  const spec::Spec& spec = projection_spec();
  engine::LoopEngine engine(spec);
  project::Projector projector(spec, Delimiters{});
  const std::vector<Segment> segments = frame_all(kStream);
  auto feed = [&] {
    for (int i = 0; i < 64; ++i)
      for (const Segment& s : segments) EXPECT_TRUE(projector.on(engine.feed(s), s).empty());
  };
  feed();
  size_t ordinary = 0, aligned = 0;
  {
    const AllocationCount warm;
    feed();
    ordinary = warm.ordinary();
    aligned = warm.aligned();
  }
  EXPECT_EQ(ordinary, 0u);
  // Doubling the rows grows each column buffer (validity, offsets, values)
  // at most twice.
  size_t buffers = 0;
  std::vector<column::table::Table> taken;
  projector.take_rows(taken);
  for (const column::table::Table& t : taken) buffers += 3 * t.columns().size();
  EXPECT_LE(aligned, 2 * buffers);
  EXPECT_GT(aligned, 0u);
}

// Segments the random streams are drawn from: every loop's trigger, end and
// held segments, with good, bad and odd values.
const char* const kPool[] = {
    "ST*835*1234~", "ST~",  "SE*1~",  "BPR*I*12.50~", "BPR*I*x~", "REF*EV*A~",
    "REF*F2*B~", "REF~", "N1*PR*P~", "N1*XX~", "CLP*C*1*10*2*150~", "CLP~",
    "CAS*CO*45*1*2*3*4*5*6*7~", "CAS*PR~", "CAS*::~", "SVC*HC:A1*9~", "SVC*:::::*~",
    "DTM*472*20230101*1230~", "DTM*1*2*3~", "ZZ*1~", "~", "*~", "SVC*HC:A1:B:C:D~",
};

// Segments of the pool, with one in four replaced by a few random bytes drawn
// from delimiters, digits and the letters of the spec's ids.
std::string random_stream(std::mt19937& rng, size_t length) {
  static constexpr char kBytes[] = "STCLPAVDMBRE*:~~.-0129\x00\xff";
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    if (rng() % 4 != 0) out += kPool[rng() % std::size(kPool)];
    else for (size_t n = rng() % 13; n > 0; --n) out += kBytes[rng() % (sizeof kBytes - 1)];
  }
  return out;
}

TEST(Processor, BatchesTakenAtEachCloseEqualOneRun) {
  const spec::Spec& spec = projection_spec();
  std::mt19937 rng(777);
  for (int round = 0; round < 200; ++round) {
    const std::string text = random_stream(rng, 1 + round % 80);
    SCOPED_TRACE(text);
    const Document document = document_of(text);
    const process::RunResult whole = process::Processor::run(spec, document);
    RowsByTable expected;
    append_rows(expected, whole.tables);

    // By the close of each loop, and (no loop) after every segment.
    for (const char* by : {"tx", "claim", "svc", ""}) {
      SCOPED_TRACE(by);
      std::vector<Diagnostic> diagnostics;
      EXPECT_EQ(rows_in_batches(spec, document, spec.loop_id(by), diagnostics), expected);
      EXPECT_EQ(briefs(diagnostics), briefs(whole.diagnostics));
    }
  }
}

// A kept batch of the built-in spec holds its rows packed to their size and
// shares the names and types of the stream's tables; a batch without rows
// holds nothing per column (the spec's tables have 87 columns).
TEST(Processor, KeptBatchesHoldLittle) {
  const spec::Spec& spec = *spec::shared_builtin_835().value();
  std::string text;
  for (int i = 0; i < 50; ++i) text += zarvi_core::testing::data_file("simple_5010.835");
  auto parsed = Document::parse(std::string_view(text));
  ASSERT_TRUE(parsed.ok());
  const Document& document = parsed.value();
  const struct {
    const char* by;
    size_t batches;
    size_t bytes;  // the most a batch with rows may hold, on average
  } cases[] = {{"2100", 100, 1408}, {"transaction", 50, 2176}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.by);
    process::Processor processor(spec, document.delimiters());
    const spec::LoopId by = *spec.loop_id(c.by);
    std::vector<column::table::SharedTables> kept;
    kept.reserve(2 * c.batches);
    size_t rows = 0, empty = 0;
    auto keep = [&](size_t& bytes) {
      const size_t before = g_live_bytes.load();
      kept.push_back(column::table::freeze(processor.take_tables()));
      bytes += g_live_bytes.load() - before;
    };
    for (size_t i = 0; i < document.size(); ++i) {
      for (const engine::Event& e : processor.feed(*document.segment(i)).events) {
        if (e.kind != engine::Event::Kind::Close || e.loop != by) continue;
        keep(rows);
        keep(empty);  // taken again at once: no rows
      }
    }
    ASSERT_EQ(kept.size(), 2 * c.batches);
    EXPECT_LE(rows / c.batches, c.bytes);
    EXPECT_LE(empty / c.batches, 256u);
  }
}

}  // namespace
}  // namespace zarvi_test
