#include "zarvi_core/engine.h"

#include <gtest/gtest.h>

#include "process_support.h"

namespace zarvi_test {
namespace {

// Each segment's events, segments separated by " | ".
std::string feed_text(std::string_view text, std::string* closing = nullptr) {
  const spec::Spec& spec = mini_spec();
  engine::LoopEngine engine(spec);
  std::string out;
  for (const Segment& segment : frame_all(text)) {
    if (!out.empty()) out += " | ";
    out += events_text(spec, engine.feed(segment));
  }
  if (closing != nullptr) {
    std::vector<engine::Event> events;
    engine.close_all(events);
    *closing = events_text(spec, events);
  }
  return out;
}

TEST(LoopEngine, EventSequences) {
  struct Case {
    const char* name;
    const char* input;
    const char* events;
  };
  const Case cases[] = {
      {"envelope opens and ends", "ISA~GS~GE~IEA~",
       "Open(interchange, 0) Segment(interchange, 0) | Open(group, 1) Segment(group, 1) | "
       "Segment(group, 2) Close(group) | Segment(interchange, 3) Close(interchange)"},
      {"a second ISA closes group and interchange", "ISA~GS~ISA~",
       "Open(interchange, 0) Segment(interchange, 0) | Open(group, 1) Segment(group, 1) | "
       "Close(group) Close(interchange) Open(interchange, 2) Segment(interchange, 2)"},
      {"a claim without its header opens the header implicitly", "ISA~GS~ST~CLP~",
       "Open(interchange, 0) Segment(interchange, 0) | Open(group, 1) Segment(group, 1) | "
       "Open(transaction, 2) Segment(transaction, 2) | "
       "Open(header, 3, implicit) Open(claim, 3) Segment(claim, 3)"},
      {"nothing open: every ancestor opens implicitly", "CLP~",
       "Open(interchange, 0, implicit) Open(group, 0, implicit) Open(transaction, 0, implicit) "
       "Open(header, 0, implicit) Open(claim, 0) Segment(claim, 0)"},
      {"the trigger with a condition wins; a sibling closes the other", "ST~N1*PR~N1*PE~",
       "Open(interchange, 0, implicit) Open(group, 0, implicit) Open(transaction, 0) "
       "Segment(transaction, 0) | Open(payer, 1) Segment(payer, 1) | "
       "Close(payer) Open(payee, 2) Segment(payee, 2)"},
      {"an end segment closes the inner loops, then its own", "ST~LX~CLP~SVC~SE~",
       "Open(interchange, 0, implicit) Open(group, 0, implicit) Open(transaction, 0) "
       "Segment(transaction, 0) | Open(header, 1) Segment(header, 1) | "
       "Open(claim, 2) Segment(claim, 2) | Open(service, 3) Segment(service, 3) | "
       "Close(service) Close(claim) Close(header) Segment(transaction, 4) Close(transaction)"},
      {"the innermost loop that holds a segment takes it", "CLP~CAS~SVC~CAS~",
       "Open(interchange, 0, implicit) Open(group, 0, implicit) Open(transaction, 0, implicit) "
       "Open(header, 0, implicit) Open(claim, 0) Segment(claim, 0) | Segment(claim, 1) | "
       "Open(service, 2) Segment(service, 2) | Segment(service, 3)"},
      {"a held segment of an outer loop closes the inner ones", "ST~LX~CLP~PLB~",
       "Open(interchange, 0, implicit) Open(group, 0, implicit) Open(transaction, 0) "
       "Segment(transaction, 0) | Open(header, 1) Segment(header, 1) | "
       "Open(claim, 2) Segment(claim, 2) | Close(claim) Close(header) Segment(transaction, 3)"},
      {"an unknown segment leaves the stack alone", "ISA~GS~ZZZ~GE~",
       "Open(interchange, 0) Segment(interchange, 0) | Open(group, 1) Segment(group, 1) | "
       "Unplaced(2) | Segment(group, 3) Close(group)"},
      {"a held segment with nothing open is unplaced", "CAS~", "Unplaced(0)"},
      {"trailing trivia and an empty body are empty segments", "ISA~~\n",
       "Open(interchange, 0) Segment(interchange, 0) | Empty(1) | Empty(2)"},
      {"an empty id with elements is not empty", "*A~", "Unplaced(0)"},
      {"a condition on a composite element does not match", "N1*PR:X~",
       "Open(interchange, 0, implicit) Open(group, 0, implicit) Open(transaction, 0, implicit) "
       "Open(payee, 0) Segment(payee, 0)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(feed_text(c.input), c.events);
  }
}

TEST(LoopEngine, CloseAllPopsInnermostFirst) {
  std::string closing;
  feed_text("ISA~GS~ST~LX~CLP~", &closing);
  EXPECT_EQ(closing, "Close(claim) Close(header) Close(transaction) Close(group) Close(interchange)");
  feed_text("ISA~GS~GE~IEA~", &closing);
  EXPECT_EQ(closing, "");
}

TEST(LoopEngine, ConditionsCompareUnescapedBytes) {
  const spec::Spec& spec = mini_spec();
  const std::optional<spec::LoopId> payer = spec.loop_id("payer");
  ASSERT_TRUE(payer);
  Delimiters delimiters;
  delimiters.release = '?';
  struct Case {
    const char* name;
    const char* body;
    bool matches;
  };
  const Case cases[] = {
      {"exact", "N1*PR", true},
      {"released byte is removed", "N1*P?R", true},
      {"longer value", "N1*PRX", false},
      {"missing element", "N1", false},
      {"other id", "N2*PR", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string text = std::string(c.body) + "~";
    auto framed = next_frame(text, delimiters);
    ASSERT_TRUE(framed);
    Segment segment;
    segment.reparse(0, framed->frame, delimiters);
    EXPECT_EQ(engine::trigger_matches(spec.loops[*payer].trigger, segment), c.matches);
  }
}

// Ids of any length reach their entry: the short ones (under 8 bytes) through
// the packed-integer table, the others through the string map; ids that are
// prefixes or extensions of known ones find nothing.
TEST(TriggerIndex, FindsIdsOfEveryLength) {
  auto compiled = spec::Spec::from_json(R"({
    "name": "ids",
    "loops": {
      "top": {"trigger": {"segment": "T"}, "end": "ENDSEVEN",
              "occurrences": {"top": {"segment": "T", "pos": 1}, "seven": {"segment": "SEVENXX", "pos": 2}}},
      "eight": {"parent": "top", "trigger": {"segment": "EIGHTXXX"},
                "occurrences": {"eight": {"segment": "EIGHTXXX", "pos": 3}}},
      "long": {"parent": "top", "trigger": {"segment": "A-MUCH-LONGER-ID"},
               "occurrences": {"long": {"segment": "A-MUCH-LONGER-ID", "pos": 4}}}
    }
  })");
  ASSERT_TRUE(compiled.ok()) << compiled.error().message();
  const spec::Spec& spec = *compiled.value();
  const engine::TriggerIndex index(spec);
  const spec::LoopId top = *spec.loop_id("top");
  struct Case {
    const char* id;
    std::optional<spec::LoopId> opener;  // none: no entry at all
    bool top_holds;
  };
  const Case cases[] = {
      {"T", top, false},
      {"SEVENXX", std::nullopt, true},
      {"ENDSEVEN", std::nullopt, true},
      {"EIGHTXXX", spec.loop_id("eight"), false},
      {"A-MUCH-LONGER-ID", spec.loop_id("long"), false},
      {"", std::nullopt, false},
      {"TT", std::nullopt, false},
      {"SEVENX", std::nullopt, false},
      {"EIGHTXXXX", std::nullopt, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    const engine::TriggerIndex::Entry* entry = index.find(c.id);
    if (!c.opener && !c.top_holds) {
      EXPECT_EQ(entry, nullptr);
      continue;
    }
    ASSERT_NE(entry, nullptr);
    if (c.opener)
      EXPECT_EQ(entry->openers, std::vector<spec::LoopId>{*c.opener});
    else
      EXPECT_TRUE(entry->openers.empty());
    EXPECT_EQ(entry->holds[top] != 0, c.top_holds);
  }
}

}  // namespace
}  // namespace zarvi_test
