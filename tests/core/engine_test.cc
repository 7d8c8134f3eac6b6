#include "zarvi_core/engine.h"

#include <gtest/gtest.h>

#include <random>

#include "process_support.h"
#include "zarvi_core/spec/builtin.h"

namespace zarvi_test {
namespace {

// Each segment's events, segments separated by " | ".
std::string feed_text(std::string_view text, const spec::Spec& spec = mini_spec()) {
  engine::LoopEngine engine(spec);
  std::string out;
  for (const Segment& segment : frame_all(text))
    out += (out.empty() ? "" : " | ") + events_text(spec, engine.feed(segment));
  return out;
}

// Opens of the envelope loops that a body without them opens implicitly.
constexpr std::string_view kImplicit = "Open(interchange, 0, implicit) Open(group, 0, implicit) ";

TEST(LoopEngine, EventSequences) {
  const std::string envelope =
      "Open(interchange, 0) Segment(interchange, 0) | Open(group, 1) Segment(group, 1) | ";
  const std::string tx = std::string(kImplicit) + "Open(transaction, 0) Segment(transaction, 0) | ";
  struct Case {
    const char* name;
    const char* input;
    std::string events;
  };
  const Case cases[] = {
      {"envelope opens and ends", "ISA~GS~GE~IEA~",
       envelope + "Segment(group, 2) Close(group) | Segment(interchange, 3) Close(interchange)"},
      {"nothing open: every ancestor opens implicitly", "CLP~",
       std::string(kImplicit) + "Open(transaction, 0, implicit) Open(header, 0, implicit) "
       "Open(claim, 0) Segment(claim, 0)"},
      {"the trigger with a condition wins; a sibling closes the other", "ST~N1*PR~N1*PE~",
       tx + "Open(payer, 1) Segment(payer, 1) | Close(payer) Open(payee, 2) Segment(payee, 2)"},
      {"an end segment closes the inner loops, then its own", "ST~LX~CLP~SVC~SE~",
       tx + "Open(header, 1) Segment(header, 1) | Open(claim, 2) Segment(claim, 2) | "
       "Open(service, 3) Segment(service, 3) | "
       "Close(service) Close(claim) Close(header) Segment(transaction, 4) Close(transaction)"},
      {"the innermost loop that holds a segment takes it", "ST~CLP~CAS~SVC~CAS~",
       tx + "Open(header, 1, implicit) Open(claim, 1) Segment(claim, 1) | Segment(claim, 2) | "
       "Open(service, 3) Segment(service, 3) | Segment(service, 4)"},
      {"a held segment of an outer loop closes the inner ones", "ST~LX~CLP~PLB~",
       tx + "Open(header, 1) Segment(header, 1) | Open(claim, 2) Segment(claim, 2) | "
       "Close(claim) Close(header) Segment(transaction, 3)"},
      {"an unknown segment leaves the stack alone", "ISA~GS~ZZZ~GE~",
       envelope + "Unplaced(2) | Segment(group, 3) Close(group)"},
      {"a held segment with nothing open is unplaced", "CAS~", "Unplaced(0)"},
      {"trailing trivia and an empty body are empty segments", "ISA~~\n",
       "Open(interchange, 0) Segment(interchange, 0) | Empty(1) | Empty(2)"},
      {"an empty id with elements is not empty", "*A~", "Unplaced(0)"},
      {"a condition on a composite element does not match", "N1*PR:X~",
       std::string(kImplicit) + "Open(transaction, 0, implicit) Open(payee, 0) Segment(payee, 0)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(feed_text(c.input), c.events);
  }
}

TEST(LoopEngine, ConditionsCompareUnescapedBytes) {
  const spec::Spec& spec = mini_spec();
  Delimiters delimiters;
  delimiters.release = '?';
  const std::pair<const char*, bool> cases[] = {
      {"N1*PR", true}, {"N1*P?R", true}, {"N1*PRX", false}, {"N1", false}, {"N2*PR", false}};
  for (const auto& [body, matches] : cases) {
    SCOPED_TRACE(body);
    const std::string text = std::string(body) + "~";
    auto framed = next_frame(text, delimiters);
    ASSERT_TRUE(framed);
    Segment segment;
    segment.reparse(0, framed->frame, delimiters);
    EXPECT_EQ(engine::trigger_matches(spec.loops[*spec.loop_id("payer")].trigger, segment),
              matches);
  }
}

// Ids of any length reach their loop: the short ones (under 8 bytes) through
// the packed-integer table, the others through the string map; ids that are
// prefixes or extensions of known ones are unplaced.
TEST(TriggerIndex, FindsIdsOfEveryLength) {
  const spec::SpecPtr spec = compile_or_abort(R"({"name": "ids", "loops": {
    "top": {"trigger": {"segment": "T"}, "end": "ENDSEVEN", "occurrences": {
      "top": {"segment": "T", "pos": 1}, "seven": {"segment": "SEVENXX", "pos": 2}}},
    "eight": {"parent": "top", "trigger": {"segment": "EIGHTXXX"},
      "occurrences": {"eight": {"segment": "EIGHTXXX", "pos": 3}}},
    "long": {"parent": "top", "trigger": {"segment": "A-MUCH-LONGER-ID"},
      "occurrences": {"long": {"segment": "A-MUCH-LONGER-ID", "pos": 4}}}}})");
  EXPECT_EQ(feed_text("T~SEVENXX~EIGHTXXX~TT~SEVENX~EIGHTXXXX~*~A-MUCH-LONGER-ID~ENDSEVEN~", *spec),
            "Open(top, 0) Segment(top, 0) | Segment(top, 1) | Open(eight, 2) Segment(eight, 2) | "
            "Unplaced(3) | Unplaced(4) | Unplaced(5) | Unplaced(6) | "
            "Close(eight) Open(long, 7) Segment(long, 7) | Close(long) Segment(top, 8) Close(top)");
}

// The shortcut for segments held by the innermost loop must give the events
// of the general path whatever the stream: random mixes of every trigger
// (with and without its conditions), held id, end id, unknown id and empty
// segment. The small spec has ids that a loop holds and ends on, and an id
// that a loop holds and a child opens on.
TEST(LoopEngine, ShortcutMatchesGeneralPath) {
  const spec::SpecPtr ends_held = compile_or_abort(R"({"name": "ends", "loops": {
    "top": {"trigger": {"segment": "T"}, "end": "E", "occurrences": {
      "top": {"segment": "T", "pos": 1}, "h": {"segment": "H", "pos": 2},
      "e": {"segment": "E", "pos": 3}, "n": {"segment": "N", "pos": 4}}},
    "in": {"parent": "top", "trigger": {"segment": "I"}, "end": "H", "occurrences": {
      "in": {"segment": "I", "pos": 1}, "h": {"segment": "H", "pos": 2},
      "t": {"segment": "E", "pos": 3}}},
    "kid": {"parent": "top", "trigger": {"segment": "N", "where": {"1": "C"}}, "occurrences": {
      "kid": {"segment": "N", "pos": 1}}}}})");
  const std::pair<const char*, const spec::Spec*> specs[] = {
      {"mini", &mini_spec()},
      {"ends", ends_held.get()},
      {"835", spec::shared_builtin_835().value().get()},
  };
  for (const auto& [name, spec] : specs) {
    SCOPED_TRACE(name);
    std::vector<std::string> pool = {"ZZ", "", "*", "A-MUCH-LONGER-ID"};
    for (const spec::LoopDef& loop : spec->loops) {
      std::string trigger = loop.trigger.segment;
      uint64_t at = 0;
      for (const spec::Condition& condition : loop.trigger.conditions) {
        for (; at < condition.position; ++at) trigger += '*';
        trigger += condition.value;
      }
      pool.push_back(trigger);
      pool.push_back(loop.trigger.segment);
      for (const std::string& held : loop.held) pool.push_back(held + "*X");
      if (loop.end) pool.push_back(*loop.end);
    }
    std::mt19937 rng(11);
    for (int round = 0; round < 40; ++round) {
      std::string text;
      for (int i = 0; i < 300; ++i) text += pool[rng() % pool.size()] + "~";
      engine::LoopEngine fast(*spec);
      engine::LoopEngine general(*spec, false);
      for (const Segment& segment : frame_all(text)) {
        const std::string expected = events_text(*spec, general.feed(segment));
        ASSERT_EQ(events_text(*spec, fast.feed(segment)), expected)
            << round << " at " << segment.index();
      }
      std::vector<engine::Event> fast_closed, general_closed;
      fast.close_all(fast_closed);
      general.close_all(general_closed);
      ASSERT_EQ(events_text(*spec, fast_closed), events_text(*spec, general_closed)) << round;
    }
  }
}

}  // namespace
}  // namespace zarvi_test
