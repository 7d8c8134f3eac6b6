#include "zarvi_core/write/envelope.h"

#include <gtest/gtest.h>

#include "zarvi_core/column/parse.h"
#include "zarvi_core/spec/builtin.h"

namespace zarvi_core::write::envelope {
namespace {

const spec::Spec& spec5010() { return *spec::shared_builtin_835().value(); }
const spec::Spec& spec4010() { return *spec::shared_builtin_835_4010().value(); }

const int32_t k2051 = column::parse::days_from_civil({2051, 3, 1});
constexpr uint32_t k134530 = 13 * 3600 + 45 * 60 + 30;

Envelope sample() { return Envelope("ZZ", "ABC", "01", "RCV", k2051, k134530); }

Envelope with_delimiters(char element, char component, char segment,
                         std::optional<char> repetition, std::optional<char> release = {}) {
  Envelope e = sample();
  e.delimiters = Delimiters{element, component, segment, repetition, release};
  return e;
}

TEST(DelimiterCheck, ListOrFirstFailure) {
  const DelimiterList four = {{'*', "element separator"}, {':', "component separator"},
                              {'~', "segment terminator"}, {'^', "repetition separator"}};
  const DelimiterList three(four.begin(), four.begin() + 3);
  const auto bad = [](std::string what) {
    return "the " + what + "\" is a letter, a digit or white space, which values hold";
  };
  const auto shared = [](std::string what) {
    return "the " + what + "\"; each delimiter needs its own byte";
  };
  const std::string unset = "the interchange header carries a repetition separator, but the "
                            "envelope field \"delimiters.repetition\" is not set";
  const struct {
    const char* name;
    Envelope envelope;
    bool repetition;
    DelimiterList list;
    std::string error;
  } cases[] = {
      {"defaults with repetition", sample(), true, four, ""},
      {"header without repetition ignores it", sample(), false, three, ""},
      {"unset repetition without header", with_delimiters('*', ':', '~', {}), false, three, ""},
      {"repetition unset", with_delimiters('*', ':', '~', {}), true, {}, unset},
      {"unset repetition before a bad byte", with_delimiters('A', ':', '~', {}), true, {}, unset},
      {"shared names the earlier first", with_delimiters('*', '*', '~', '^'), true, {},
       shared("element separator and the component separator are both \"*")},
      {"shared with repetition", with_delimiters('*', ':', '~', '~'), true, {},
       shared("segment terminator and the repetition separator are both \"~")},
      {"shared repetition ignored without header", with_delimiters('*', ':', '~', '~'), false,
       three, ""},
      {"lf", with_delimiters('*', ':', '\n', '^'), true, {}, bad("segment terminator \"\\n")},
      {"letter", with_delimiters('A', ':', '~', '^'), true, {}, bad("element separator \"A")},
      {"digit", with_delimiters('*', '0', '~', '^'), true, {}, bad("component separator \"0")},
      {"space", with_delimiters('*', ':', '~', ' '), true, {}, bad("repetition separator \" ")},
      {"tab", with_delimiters('\t', ':', '~', '^'), true, {}, bad("element separator \"\\t")},
      {"form feed", with_delimiters('*', ':', '\f', '^'), true, {},
       bad("segment terminator \"\\u{c}")},
      {"return", with_delimiters('*', ':', '\r', '^'), true, {}, bad("segment terminator \"\\r")},
      // Entries are checked in list order, each for its byte and then for sharing.
      {"earlier sharing before later bad byte", with_delimiters('*', '*', 'x', '^'), true, {},
       shared("element separator and the component separator are both \"*")},
      {"vertical tab and control bytes are allowed", with_delimiters('\v', '\x01', '\x1c', '^'),
       true,
       {{'\v', "element separator"}, {'\x01', "component separator"}, {'\x1c', "segment terminator"},
        {'^', "repetition separator"}},
       ""},
      {"release character is not checked", with_delimiters('*', ':', '~', '^', 'A'), true, four,
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto result = delimiters(c.envelope, c.repetition);
    if (!c.error.empty()) {
      ASSERT_FALSE(result.ok());
      EXPECT_EQ(finding::to_string(result.error()), c.error);
    } else {
      ASSERT_TRUE(result.ok()) << finding::to_string(result.error());
      EXPECT_EQ(result.value(), c.list);
    }
  }
}

TEST(ControlText, PadsToTheMinimum) {
  const struct {
    uint64_t number;
    std::optional<uint64_t> min;
    const char* expected;
  } cases[] = {
      {1, 9, "000000001"},
      {0, 9, "000000000"},
      {1, 1, "1"},
      {12345, 4, "12345"},
      {5, std::nullopt, "5"},
      {UINT64_MAX, 9, "18446744073709551615"},
      // A minimum no value can reach is not padded to.
      {7, uint64_t{1} << 40, "7"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(control_text(c.number, c.min), c.expected);
  }
}

// The values as "element=text", "!failure" for text, "@field" after a field's.
std::string show(const std::vector<Value>& values) {
  std::string out;
  for (const Value& v : values) {
    out += (out.empty() ? "" : "|") + std::to_string(v.element) + "=";
    out += v.failure ? "!" + *v.failure : v.text;
    if (v.field) out += "@" + std::string(field_name(*v.field));
  }
  return out;
}

std::vector<Value> isa(const spec::Spec& spec, const Envelope& e, uint64_t control = 1) {
  return trigger_values(spec, "ISA", 0, 13, control_text(control, 9), e);
}
std::vector<Value> gs(const spec::Spec& spec, const Envelope& e) {
  return trigger_values(spec, "GS", 1, 6, control_text(e.control_number, 1), e);
}

TEST(TriggerValues, Segments) {
  Envelope test = sample();
  test.usage_indicator = "T";
  const Envelope unset = with_delimiters('*', ':', '~', std::nullopt);
  const std::string isa5010 =
      "1=00|2=          |3=00|4=          |5=ZZ@sender_qualifier|6=ABC            @sender_id|"
      "7=01@receiver_qualifier|8=RCV            @receiver_id|9=510301@date|10=1345@time|"
      "11=^@delimiters.repetition|12=00501|13=000000000@control_number|14=0|15=T@usage_indicator|"
      "16=:@delimiters.component";
  const std::string gs_head =
      "1=HP|2=ABC@application_sender|3=RCV@application_receiver|4=20510301@date|5=134530@time|"
      "6=1@control_number|7=X|8=";
  const struct {
    const char* name;
    std::vector<Value> values;
    std::string expected;
  } cases[] = {
      {"interchange", isa(spec5010(), test, 0), isa5010},
      {"group", gs(spec5010(), sample()), gs_head + "005010X221A1@version"},
      // The declared version, not the element's first code.
      {"group 4010", gs(spec4010(), sample()), gs_head + "004010X091A1@version"},
      {"transaction", trigger_values(spec5010(), "ST", 2, 2, control_text(0, 4), sample()),
       "1=835|2=0000@control_number|3="},
      {"unknown segment", trigger_values(spec5010(), "XYZ", 0, 1, "1", sample()), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(show(c.values), c.expected);
  }
  // An unset repetition writes 4010's code, and nothing where no code is given.
  EXPECT_NE(show(isa(spec4010(), unset)).find("|11=U@delimiters.repetition|12=00401|"),
            std::string::npos);
  EXPECT_NE(show(isa(spec5010(), unset)).find("|10=1345@time|12=00501|"), std::string::npos);
}

TEST(TriggerValues, FieldCases) {
  const auto value_of = [](const std::vector<Value>& values, uint64_t element) {
    for (const Value& v : values)
      if (v.element == element) return v.failure ? "!" + *v.failure : v.text;
    return std::string("(none)");
  };
  const auto changed = [](auto change) {
    Envelope e = sample();
    change(e);
    return e;
  };
  const struct {
    const char* name;
    Envelope envelope;
    const char* segment;
    uint64_t element;
    std::string expected;
  } cases[] = {
      {"whole minutes in both", changed([](Envelope& e) { e.time = 13 * 3600 + 45 * 60; }), "GS", 5,
       "1345"},
      {"group date of the same year", changed([](Envelope& e) { e.date = 0; }), "GS", 4,
       "19700101"},
      // Padding counts bytes, as a reader measures lengths.
      {"multibyte sender", changed([](Envelope& e) { e.sender_id = "\xC3\x89"; }), "ISA", 6,
       "\xC3\x89" + std::string(13, ' ')},
      {"long sender is not cut", changed([](Envelope& e) { e.sender_id = std::string(20, 'S'); }),
       "ISA", 6, std::string(20, 'S')},
      {"application sender trims the padded id",
       changed([](Envelope& e) { e.sender_id = "ABC   \t"; }), "GS", 2, "ABC"},
      {"application codes win", changed([](Envelope& e) {
         e.application_sender = "APP ";
         e.application_receiver = "";
       }),
       "GS", 2, "APP "},
      {"empty application receiver is kept", changed([](Envelope& e) { e.application_receiver = ""; }),
       "GS", 3, ""},
      {"component separator", changed([](Envelope& e) { e.delimiters.component = '>'; }), "ISA", 16,
       ">"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string_view id = c.segment;
    const auto values = id == "ISA" ? isa(spec5010(), c.envelope) : gs(spec5010(), c.envelope);
    EXPECT_EQ(value_of(values, c.element), c.expected);
  }
}

}  // namespace
}  // namespace zarvi_core::write::envelope
