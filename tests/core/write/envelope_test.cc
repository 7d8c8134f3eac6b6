#include "zarvi_core/write/envelope.h"

#include <gtest/gtest.h>

#include "zarvi_core/column/parse.h"
#include "zarvi_core/spec/builtin.h"

namespace zarvi_core::write::envelope {
namespace {

const spec::Spec& spec5010() { return *spec::shared_builtin_835().value(); }
const spec::Spec& spec4010() { return *spec::shared_builtin_835_4010().value(); }

const int32_t k2051 = column::days_from_civil({2051, 3, 1});
constexpr uint32_t k134530 = 13 * 3600 + 45 * 60 + 30;

Envelope sample() { return Envelope("ZZ", "ABC", "01", "RCV", k2051, k134530); }

Envelope with_delimiters(char element, char component, char segment,
                         std::optional<char> repetition, std::optional<char> release = {}) {
  Envelope e = sample();
  e.delimiters = Delimiters{element, component, segment, repetition, release};
  return e;
}

TEST(EnvelopeDefaults, ConstructorFillsTheRest) {
  const Envelope e = sample();
  EXPECT_EQ(e.usage_indicator, "P");
  EXPECT_EQ(e.application_sender, std::nullopt);
  EXPECT_EQ(e.control_number, 1u);
  EXPECT_EQ(e.delimiters, (Delimiters{'*', ':', '~', '^', std::nullopt}));
  EXPECT_FALSE(e.line_break);
}

TEST(DelimiterCheck, ListOrFirstFailure) {
  const DelimiterList four = {{'*', "element separator"}, {':', "component separator"},
                              {'~', "segment terminator"}, {'^', "repetition separator"}};
  const DelimiterList three(four.begin(), four.begin() + 3);
  const struct {
    const char* name;
    Envelope envelope;
    bool repetition;
    DelimiterList list;
    const char* error;
  } cases[] = {
      {"defaults with repetition", sample(), true, four, ""},
      {"header without repetition ignores it", sample(), false, three, ""},
      {"unset repetition without header", with_delimiters('*', ':', '~', std::nullopt), false,
       three, ""},
      {"repetition unset", with_delimiters('*', ':', '~', std::nullopt), true, {},
       "the interchange header carries a repetition separator, but the envelope field "
       "\"delimiters.repetition\" is not set"},
      {"unset repetition reported before a bad byte", with_delimiters('A', ':', '~', std::nullopt),
       true, {},
       "the interchange header carries a repetition separator, but the envelope field "
       "\"delimiters.repetition\" is not set"},
      {"shared names the earlier first", with_delimiters('*', '*', '~', '^'), true, {},
       "the element separator and the component separator are both \"*\"; each delimiter needs "
       "its own byte"},
      {"shared with repetition", with_delimiters('*', ':', '~', '~'), true, {},
       "the segment terminator and the repetition separator are both \"~\"; each delimiter "
       "needs its own byte"},
      {"shared repetition ignored without header", with_delimiters('*', ':', '~', '~'), false,
       three, ""},
      {"line feed terminator", with_delimiters('*', ':', '\n', '^'), true, {},
       "the segment terminator \"\\n\" is a letter, a digit or white space, which values hold"},
      {"letter", with_delimiters('A', ':', '~', '^'), true, {},
       "the element separator \"A\" is a letter, a digit or white space, which values hold"},
      {"digit", with_delimiters('*', '0', '~', '^'), true, {},
       "the component separator \"0\" is a letter, a digit or white space, which values hold"},
      {"space repetition", with_delimiters('*', ':', '~', ' '), true, {},
       "the repetition separator \" \" is a letter, a digit or white space, which values hold"},
      {"tab", with_delimiters('\t', ':', '~', '^'), true, {},
       "the element separator \"\\t\" is a letter, a digit or white space, which values hold"},
      {"form feed", with_delimiters('*', ':', '\f', '^'), true, {},
       "the segment terminator \"\\u{c}\" is a letter, a digit or white space, which values hold"},
      {"carriage return", with_delimiters('*', ':', '\r', '^'), true, {},
       "the segment terminator \"\\r\" is a letter, a digit or white space, which values hold"},
      // Entries are checked in list order, each for its byte and then for sharing.
      {"earlier sharing before later bad byte", with_delimiters('*', '*', 'x', '^'), true, {},
       "the element separator and the component separator are both \"*\"; each delimiter needs "
       "its own byte"},
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
    if (*c.error != '\0') {
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
      {0, 4, "0000"},
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

// One expected value: text (or "!" and the failure) and the field.
struct Expected {
  uint64_t element;
  std::string text;
  std::optional<Field> field;
};

void expect_values(const std::vector<Value>& values, const std::vector<Expected>& expected) {
  ASSERT_EQ(values.size(), expected.size());
  for (size_t i = 0; i < values.size(); ++i) {
    SCOPED_TRACE(values[i].element);
    EXPECT_EQ(values[i].element, expected[i].element);
    EXPECT_EQ(values[i].failure ? "!" + *values[i].failure : values[i].text, expected[i].text);
    EXPECT_EQ(values[i].field, expected[i].field);
  }
}

std::vector<Value> isa(const spec::Spec& spec, const Envelope& e, uint64_t control = 1) {
  return trigger_values(spec, "ISA", 0, 13, control_text(control, 9), e);
}
std::vector<Value> gs(const spec::Spec& spec, const Envelope& e) {
  return trigger_values(spec, "GS", 1, 6, control_text(e.control_number, 1), e);
}

const std::string kSpaces10(10, ' ');

TEST(TriggerValues, Interchange5010) {
  Envelope e = sample();
  e.usage_indicator = "T";
  expect_values(isa(spec5010(), e, 0),
                {{1, "00", {}},
                 {2, kSpaces10, {}},
                 {3, "00", {}},
                 {4, kSpaces10, {}},
                 {5, "ZZ", Field::SenderQualifier},
                 {6, "ABC            ", Field::SenderId},
                 {7, "01", Field::ReceiverQualifier},
                 {8, "RCV            ", Field::ReceiverId},
                 {9, "510301", Field::Date},
                 {10, "1345", Field::Time},
                 {11, "^", Field::Repetition},
                 {12, "00501", {}},
                 {13, "000000000", Field::ControlNumber},
                 {14, "0", {}},
                 {15, "T", Field::UsageIndicator},
                 {16, ":", Field::Component}});
}

TEST(TriggerValues, Interchange4010WritesTheRepetitionCode) {
  Envelope e = with_delimiters('*', ':', '~', std::nullopt);
  const auto values = isa(spec4010(), e);
  ASSERT_GE(values.size(), 12u);
  EXPECT_EQ(values[10].element, 11u);
  EXPECT_EQ(values[10].text, "U");
  EXPECT_EQ(values[10].field, Field::Repetition);
  EXPECT_EQ(values[11].text, "00401");
}

TEST(TriggerValues, UnsetRepetitionWithoutCodesGivesNoValue) {
  const auto values = isa(spec5010(), with_delimiters('*', ':', '~', std::nullopt));
  ASSERT_EQ(values.size(), 15u);
  EXPECT_EQ(values[10].element, 12u);
}

TEST(TriggerValues, Group) {
  expect_values(gs(spec5010(), sample()), {{1, "HP", {}},
                                           {2, "ABC", Field::ApplicationSender},
                                           {3, "RCV", Field::ApplicationReceiver},
                                           {4, "20510301", Field::Date},
                                           {5, "134530", Field::Time},
                                           {6, "1", Field::ControlNumber},
                                           {7, "X", {}},
                                           {8, "005010X221A1", Field::Version}});
}

TEST(TriggerValues, GroupIn4010TakesTheDeclaredVersionOverTheFirstCode) {
  const auto values = gs(spec4010(), sample());
  ASSERT_EQ(values.size(), 8u);
  EXPECT_EQ(values[7].text, "004010X091A1");
  EXPECT_EQ(values[7].field, Field::Version);
}

TEST(TriggerValues, Transaction) {
  expect_values(trigger_values(spec5010(), "ST", 2, 2, control_text(0, 4), sample()),
                {{1, "835", {}}, {2, "0000", Field::ControlNumber}, {3, "", {}}});
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
      {"time past a day", changed([](Envelope& e) { e.time = 86400; }), "ISA", 10,
       "!a time must fall within one day"},
      {"time past a day, group", changed([](Envelope& e) { e.time = 90000; }), "GS", 5,
       "!a time must fall within one day"},
      {"year past 9999", changed([](Envelope& e) { e.date = column::days_from_civil({10000, 1, 1}); }),
       "ISA", 9, "!a date needs a year from 1 to 9999"},
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

TEST(TriggerValues, UnknownSegmentGivesNothing) {
  EXPECT_TRUE(trigger_values(spec5010(), "XYZ", 0, 1, "1", sample()).empty());
}

}  // namespace
}  // namespace zarvi_core::write::envelope
