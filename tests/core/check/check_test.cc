// The envelope checker and the element checks, one crafted interchange per
// rule kind, run through the Processor.
#include "zarvi_core/check/check.h"

#include <gtest/gtest.h>

#include "../process_support.h"
#include "../test_input.h"
#include "zarvi_core/spec/builtin.h"

namespace zarvi_test {
namespace {

// ISA(0) GS(1) ST(2), the body from index 3, then SE GE IEA. SE01 counts ST
// through SE unless `se` overrides the whole SE segment.
std::string wrap(std::string_view body, std::string se = "") {
  size_t segments = 0;
  for (char c : body) segments += c == '~';
  if (se.empty()) se = "SE*" + std::to_string(segments + 2) + "*0001~";
  return isa() + "GS*HP*S*R*20200101*1200*7*X*005010X221A1~ST*835*0001~" + std::string(body) +
         se + "GE*1*7~IEA*1*000000001~";
}

// BPR(3) N1(4) LX(5) CLP(6) CAS(7), then SE(8) GE(9) IEA(10).
const std::string kBody = "BPR*I*100~N1*PR*PAYER~LX*1~CLP*C1*1*100*80~CAS*CO*45*20~";

std::string replace(std::string_view text, std::string_view from, std::string_view to) {
  std::string out(text);
  size_t at = out.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) out.replace(at, from.size(), to);
  return out;
}

struct Case {
  const char* name;
  std::string input;
  std::vector<std::string> expected;
};

TEST(EnvelopeChecker, Rules) {
  const std::string bom = "\xEF\xBB\xBF";
  const Case cases[] = {
      {"clean", wrap(kBody), {}},
      {"leading zeros in a count", wrap(kBody, "SE*0000007*0001~"), {}},
      {"byte order mark", bom + wrap(kBody), {"ByteOrderMark@0 \"\\u{feff}\""}},
      {"unknown segment, counted in SE01", wrap(replace(kBody, "N1*", "ZZZ*1~N1*")),
       {"UnknownSegment@4 \"ZZZ\""}},
      {"implicit loop", wrap(replace(kBody, "LX*1~", "")), {"ImplicitLoop@5 \"CLP\""}},
      {"count one too many", wrap(kBody, "SE*8*0001~"), {"ControlCountMismatch@8.1 \"8\""}},
      {"count with a trailing space", wrap(kBody, "SE*7 *0001~"),
       {"ControlCountMismatch@8.1 \"7 \""}},
      {"empty count", wrap(kBody, "SE**0001~"), {"ControlCountMismatch@8.1"}},
      {"a count of 2**64 + 7 is not 7", wrap(kBody, "SE*18446744073709551623*0001~"),
       {"ControlCountMismatch@8.1 \"18446744073709551623\""}},
      {"empty segments are not counted", replace(wrap(kBody), "LX*1~", "LX*1~~"), {}},
      {"count element missing", wrap(kBody, "SE~"),
       {"ControlElementMissing@8.1", "ControlElementMissing@8.2"}},
      {"opener missing: no number comparison",
       replace(wrap(kBody), "*1200*7*X*005010X221A1~", "*1200~"), {"ControlElementMissing@1.6"}},
      {"control number mismatch", replace(wrap(kBody), "IEA*1*000000001", "IEA*1*000000002"),
       {"ControlNumberMismatch@10.2 \"000000002\""}},
      {"group count counts transactions", replace(wrap(kBody), "GE*1*7", "GE*2*7"),
       {"ControlCountMismatch@9.1 \"2\""}},
      {"transaction closed by the next ST",
       replace(wrap(kBody), "SE*7*0001~GE*1*7~", "ST*835*0002~BPR*I*0~N1*PR*P~SE*4*0002~GE*2*7~"),
       {"UnterminatedLoop@8 \"ST\"", "RequiredOccurrenceMissing@8 \"ST\""}},
      // Occurrences and loops.
      {"required occurrence missing", wrap(replace(kBody, "BPR*I*100~", "")),
       {"RequiredOccurrenceMissing@7 \"SE\""}},
      {"required child loop missing", wrap(replace(kBody, "N1*PR*PAYER~", "")),
       {"RequiredLoopMissing@7 \"SE\""}},
      {"occurrence over its maximum",
       wrap(replace(kBody, "CAS*CO*45*20~", "CAS*CO*45*10~CAS*CO*45*5~CAS*CO*45*5~")),
       {"OccurrenceOverMax@9 \"CAS\""}},
      {"loop over its maximum under one parent", wrap(kBody + "SVC*HC:1*0~SVC*HC:2*0~SVC*HC:3*0~"),
       {"LoopOverMax@10 \"SVC\""}},
      {"occurrence after a closed child's higher position",
       wrap(replace(kBody, "LX*1~", "DTM*405*20200101~LX*1~")),
       {"OutOfOrder@5 \"DTM\""}},
      {"loop opened after a higher position", wrap(replace(kBody, "N1*", "PLB*1~N1*")),
       {"OutOfOrder@5 \"N1\"", "OutOfOrder@6 \"LX\""}},
      {"repeated child instances are in order", wrap(kBody + "LX*2~CLP*C2*1*0*0~"), {}},
      {"unknown occurrence", wrap(replace(kBody, "N1*", "REF*ZZ*X~N1*")),
       {"UnknownOccurrence@4.1 \"ZZ\""}},
      {"qualified occurrences", wrap(replace(kBody, "N1*", "REF*EV*X~REF*F2*Y~N1*")), {}},
      // Element values: the projector checks them (see project_test); here only
      // how its findings meet the checker's and the balance.
      {"type mismatch skips the balance", wrap(replace(kBody, "*100*80", "*1x0*80")),
       {"TypeMismatch@6.3 \"1x0\""}},
      {"composite with every component empty", wrap(kBody + "SVC*:*0~"),
       {"RequiredElementMissing@8.1"}},
      {"checker before projector in one segment", wrap(replace(kBody, "N1*", "REF**X~N1*")),
       {"UnknownOccurrence@4.1", "RequiredElementMissing@4.1"}},
      // Balancing.
      {"service lines balance the claim",
       wrap("BPR*I*100~N1*PR*P~LX*1~CLP*C1*1*100*80~CAS*CO*45*5~SVC*HC:99213*60~CAS*PR*1*15~"),
       {}},
      {"one cent off", wrap(replace(kBody, "*45*20~", "*45*20.01~")),
       {"BalanceMismatch@6.3 \"100\""}},
      {"more fraction digits than the scale skips",
       wrap(replace(kBody, "*45*20~", "*45*19.999~")), {"TypeMismatch@7.3 \"19.999\""}},
      {"an absent optional amount adds 0", wrap(replace(kBody, "*45*20~", "*45*10*1*A*10~")), {}},
      {"an empty optional amount adds 0 to a sum that still fails",
       wrap(replace(kBody, "*45*20~", "*45*19**A*~")), {"BalanceMismatch@6.3 \"100\""}},
      {"an empty required amount fails the sum, not the balance",
       wrap(replace(kBody, "*1*100*80", "*1**80")), {"RequiredElementMissing@6.3"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(briefs(run_text(mini_spec(), c.input)), c.expected);
  }
}

// A child loop whose first position is not above its parent's first takes
// part in no order test, wherever it opens, and hands nothing up when it
// closes.
TEST(EnvelopeChecker, ChildAtItsParentsPositionIsNeverOutOfOrder) {
  const spec::Compiled level = mini_spec().merge_patch(R"({"loops": {
      "claim": {"occurrences": {"moa": {"segment": "MOA", "pos": 1250}}},
      "service": {"occurrences": {"svc": {"pos": 1100}}}}})");
  ASSERT_TRUE(level.ok()) << level.error().message();
  const Case cases[] = {
      {"after the parent's later occurrence", wrap(kBody + "SVC*HC:1*0~"), {}},
      {"again in a later claim with its adjustment",
       wrap(kBody + "SVC*HC:1*0~LX*2~CLP*C2*1*0*0~CAS*CO*45*0~SVC*HC:2*0~"), {}},
      {"the parent's occurrence below the child's last after it closes",
       wrap(kBody + "SVC*HC:1*0~CAS*CO*45*0~MOA*1~"), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(briefs(run_text(*level.value(), c.input)), c.expected);
  }
}

// A root loop has no parent to count its instances under: its maximum holds
// over the whole stream.
TEST(EnvelopeChecker, RootLoopOverMax) {
  const spec::Compiled one = mini_spec().merge_patch(R"({"loops": {"interchange": {"max": 1}}})");
  ASSERT_TRUE(one.ok()) << one.error().message();
  const Case cases[] = {
      {"one interchange", wrap(kBody), {}},
      {"two interchanges", wrap(kBody) + wrap(kBody), {"LoopOverMax@11 \"ISA\""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(briefs(run_text(*one.value(), c.input)), c.expected);
  }
}

// One amount can feed several sums (a service adjustment feeds the claim's
// and the service's, a claim payment the claim's and the transaction's): each
// sum must see the value, or fail when it does not parse.
TEST(EnvelopeChecker, SharedAmountsFeedEverySum) {
  const std::string clean = zarvi_core::testing::data_file("simple_5010.835");
  const spec::Spec& builtin = *spec::shared_builtin_835().value();
  const Case cases[] = {
      {"all balance", clean, {}},
      {"service adjustment one cent over", replace(clean, "CAS*CO*45*30~", "CAS*CO*45*30.01~"),
       {"BalanceMismatch@24.2 \"80\"", "BalanceMismatch@15.3 \"200\""}},
      {"service adjustment unreadable", replace(clean, "CAS*CO*45*30~", "CAS*CO*45*3x~"), {}},
      {"claim payment one cent over", replace(clean, "*200*150*20*", "*200*150.01*20*"),
       {"BalanceMismatch@15.3 \"200\"", "BalanceMismatch@3.2 \"400\""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> balances;
    for (const std::string& b : briefs(run_text(builtin, c.input)))
      if (b.starts_with("BalanceMismatch")) balances.push_back(b);
    EXPECT_EQ(balances, c.expected);
  }
}

TEST(EnvelopeChecker, Sentences) {
  const std::pair<std::string, const char*> cases[] = {
      {wrap(kBody, "SE*8*0001~"),
       "SNIP 1 · SE01 declares \"8\" but the count is 7 · segment #8, element 1 · at "
       "interchange#1/group#1/transaction#1 · datum \"8\""},
      {wrap(replace(kBody, "*45*20~", "*45*20.01~")),
       "SNIP 3 · balancing rule \"claim_balance\" fails in loop \"claim\" opened at segment #6: "
       "CLP03 of claim \"clp\" - CLP04 of claim \"clp\" is 20.00, but sum CAS03, CAS06 of "
       "claim \"cas\" + sum CAS03, CAS06 of service \"svc_cas\" adds up to 20.01 (off by -0.01); "
       "read from segments #6, #7 · segment #6, element 3 · at "
       "interchange#1/group#1/transaction#1/header#1/claim#1 · datum \"100\""},
      {wrap(replace(kBody, "LX*1~", "")),
       "SNIP 1 · loop \"header\" opened without its own trigger (\"LX\" with no conditions) to "
       "hold segment \"CLP\" · segment #5 · at "
       "interchange#1/group#1/transaction#1/header#1 · datum \"CLP\""},
  };
  for (const auto& [input, expected] : cases) {
    const std::vector<Diagnostic> ds = run_text(mini_spec(), input);
    ASSERT_FALSE(ds.empty()) << expected;
    EXPECT_EQ(to_string(ds[0]), expected);
  }
}

}  // namespace
}  // namespace zarvi_test
