#include "zarvi_core/segment.h"

#include <random>

#include <gtest/gtest.h>

#include "test_input.h"
#include "zarvi_core/document.h"

namespace zarvi_core {
namespace {

// Elements as text: simple bytes, a composite as [a|b], with a trailing
// "(owned)" when some bytes do not point into the segment's raw bytes.
std::vector<std::string> render(const Segment& s) {
  std::vector<std::string> out;
  const std::string_view raw = s.raw();
  auto outside = [&](std::string_view v) {
    return !v.empty() && (v.data() < raw.data() || v.data() >= raw.data() + raw.size());
  };
  for (const Element& e : s.elements()) {
    std::string text = e.is_composite() ? "[" : std::string(e.value());
    bool owned = !e.is_composite() && outside(e.value());
    for (const Bytes& c : e.components()) {
      text += std::string(c.view()) + "|";
      owned = owned || outside(c.view());
    }
    if (e.is_composite()) text.back() = ']';
    out.push_back(owned ? text + "(owned)" : text);
  }
  return out;
}

Segment parse(std::string_view body, const Delimiters& d) {
  Segment s;
  s.reparse(0, Frame{body, body, true}, d);
  return s;
}

TEST(Segment, SplitsIdAndElements) {
  struct Case { const char* name; std::string body; Delimiters d; std::string id; std::vector<std::string> elements; };
  const Delimiters plain;
  const Delimiters released = testing::released();
  const Case cases[] = {
      {"no separator", "IEA", plain, "IEA", {}},
      {"trailing empty element", "N1*PR*", plain, "N1", {"PR", ""}},
      {"empty id", "*A", plain, "", {"A"}},
      {"composite", "SVC*HC:99213:25*100", plain, "SVC", {"[HC|99213|25]", "100"}},
      {"repetition kept whole", "REF*A^B^C", plain, "REF", {"A^B^C"}},
      {"empty components at the edges", "SVC*A:*:B", plain, "SVC", {"[A|]", "[|B]"}},
      {"released terminator", "NM1*A?~B", released, "NM1", {"A~B(owned)"}},
      {"released element separator", "N1*A?*B*C", released, "N1", {"A*B(owned)", "C"}},
      {"released component separator", "SVC*C?:D:E", released, "SVC", {"[C:D|E](owned)"}},
      {"id keeps release bytes", "N?*1*X", released, "N?*1", {"X"}},
      {"released release", "N1*??*B", released, "N1", {"?(owned)", "B"}},
      {"released release before a component", "SVC*A??:B", released, "SVC", {"[A?|B](owned)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Segment s = parse(c.body, c.d);
    EXPECT_EQ(s.id(), c.id);
    EXPECT_EQ(render(s), c.elements);
  }
}

TEST(Segment, TextJoinsComponents) {
  struct Case { std::size_t position; char separator; std::optional<std::string> expected; };
  const Case cases[] = {
      {0, ':', std::nullopt}, {1, ':', "HC:99213:25"}, {1, '>', "HC>99213>25"},
      {2, ':', "100"},        {3, ':', ""},            {4, ':', std::nullopt},
  };
  const Segment s = parse("SVC*HC:99213:25*100*", Delimiters{});
  std::string buffer;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.position) + c.separator);
    EXPECT_EQ(s.text(c.position, c.separator, buffer), c.expected);
  }
  // Components come back unescaped, joined by the separator the caller gives.
  EXPECT_EQ(parse("SVC*A?:B:C", testing::released()).text(1, ':', buffer), "A:B:C");
}

// Components and unescaped values live in the segment: a copy must read its
// own, and a refill, shorter or longer, reuses their storage and slots.
TEST(Segment, CopiesAndRefillsKeepParts) {
  const Delimiters released = testing::released();
  const std::vector<std::string> expected = {"[C:D|E](owned)", "N*B(owned)", "1"};
  std::optional<Segment> original = parse("SVC*C?:D:E*N?*B*1", released);
  const Segment copy = *original;
  Segment assigned;
  assigned = *original;
  const Element* slots = original->elements().data();
  const Bytes* parts = original->elements()[0].components().data();
  original->reparse(1, Frame{"LX*1", "LX*1", true}, released);
  EXPECT_EQ(render(*original), std::vector<std::string>{"1"});
  original->reparse(2, Frame{"SVC*X?:Y:Z*9", "SVC*X?:Y:Z*9", true}, released);
  EXPECT_EQ(render(*original), (std::vector<std::string>{"[X:Y|Z](owned)", "9"}));
  EXPECT_EQ(original->elements().data(), slots);
  EXPECT_EQ(original->elements()[0].components().data(), parts);
  original.reset();
  EXPECT_EQ(render(copy), expected);
  EXPECT_EQ(render(assigned), expected);
  EXPECT_EQ(copy.id_key(), id_table::short_key("SVC"));
  EXPECT_EQ(Segment().id_key(), id_table::short_key(""));
}

// Long segments take their slots by counting the separators left rather than
// by doubling; a shorter one between them keeps the slots.
TEST(Segment, LongSegmentsKeepEveryElement) {
  for (const Delimiters& d : {Delimiters{}, testing::released()}) {
    Segment s;
    for (std::size_t n : {1500u, 5000u, 20u, 9000u}) {
      SCOPED_TRACE(n);
      std::string body = "X";
      std::vector<std::string> expected;
      for (std::size_t i = 0; i < n; ++i) {
        const std::string v = i % 3 == 0 ? "" : std::to_string(i);
        body += (i % 7 == 3 ? "*A:" : "*") + v;
        expected.push_back(i % 7 == 3 ? "[A|" + v + "]" : v);
      }
      s.reparse(n, Frame{body, body, true}, d);
      EXPECT_EQ(render(s), expected);
    }
  }
}

// Long composites take their part slots by counting too, whether they come
// first, after other composites, or hold released bytes.
TEST(Segment, LongCompositesKeepEveryComponent) {
  for (const Delimiters& d : {Delimiters{}, testing::released()}) {
    Segment s;
    for (std::size_t n : {1500u, 5000u, 20u, 9000u}) {
      SCOPED_TRACE(n);
      std::string body = "X*A:B*";
      std::vector<std::string> expected = {"[A|B]"};
      std::string composite = "[";
      for (std::size_t i = 0; i < n; ++i) {
        const std::string v = i % 3 == 0 ? "" : std::to_string(i);
        const bool released = d.release && i % 5 == 1;
        body += (i == 0 ? "" : ":") + v + (released ? "??" : "");
        composite += v + (released ? "?" : "") + "|";
      }
      composite.back() = ']';
      expected.push_back(d.release ? composite + "(owned)" : composite);
      body += "*Z:";
      expected.push_back("[Z|]");
      s.reparse(n, Frame{body, body, true}, d);
      EXPECT_EQ(render(s), expected);
      const Segment copy = s;
      EXPECT_EQ(render(copy), expected);
    }
  }
}

// Without a release character the body is split a word at a time; the
// general path, under a release byte the body does not hold, must give the
// same segment. Refills one Segment each way.
void expect_same_split(std::size_t index, const Frame& frame, const Delimiters& plain,
                       Segment& a, Segment& b, char release) {
  Delimiters with_release = plain;
  with_release.release = release;
  a.reparse(index, frame, plain);
  b.reparse(index, frame, with_release);
  ASSERT_EQ(a.id(), b.id()) << "segment " << index;
  // Both pack the id as a lookup would.
  const uint64_t key =
      a.id().size() <= id_table::kShortBytes ? id_table::short_key(a.id()) : 0;
  ASSERT_EQ(a.id_key(), key) << "segment " << index;
  ASSERT_EQ(b.id_key(), key) << "segment " << index;
  ASSERT_EQ(render(a), render(b)) << "segment " << index;
}

// Random bodies over the separators, long enough to span several words,
// with separators that are high or zero bytes too.
TEST(Segment, PlainSplitAgreesWithReleasePath) {
  const std::pair<char, char> separators[] = {{'*', ':'}, {'\x80', '\xFF'}, {'\0', '\x1D'}};
  std::mt19937 random(835);
  for (const auto& [element, component] : separators) {
    Delimiters d;
    d.element = element;
    d.component = component;
    const std::string alphabet = std::string("AB^ \x7F\x01") + element + element + component;
    Segment plain, release_path;
    for (int round = 0; round < 3000; ++round) {
      std::string body(random() % 40, ' ');
      for (char& ch : body) ch = alphabet[random() % alphabet.size()];
      SCOPED_TRACE(body);
      expect_same_split(round, Frame{body, body, true}, d, plain, release_path, '?');
      if (HasFatalFailure()) return;
    }
  }
}

// Bodies of every length on both sides of 64 bytes, where the plain split
// changes method, from sparse to nothing but separators: more elements than
// a segment's first slots, component separators in the id, in the last byte
// and next to element separators. Every tenth round starts from new segments.
TEST(Segment, PlainSplitAgreesAcrossLengths) {
  const std::string alphabets[] = {"ABCDEFG*:", "AB**::", "*:", "*", ":A"};
  std::mt19937 random(5010);
  Segment plain, release_path;
  for (int round = 0; round < 6000; ++round) {
    const std::string& alphabet = alphabets[round % 5];
    std::string body(random() % 140, ' ');
    for (char& ch : body) ch = alphabet[random() % alphabet.size()];
    SCOPED_TRACE(body);
    if (round % 10 == 0) plain = release_path = Segment();
    expect_same_split(round, Frame{body, body, true}, Delimiters{}, plain, release_path, '?');
    if (HasFatalFailure()) return;
  }
}

// Every segment of the real files, with their own delimiters.
TEST(Segment, PlainSplitAgreesOnCorpus) {
  const auto files = testing::corpus_files();
  if (files.empty()) GTEST_SKIP() << "corpus absent";
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    auto document = Document::parse(std::string_view(bytes));
    if (!document.ok()) continue;
    const Document& d = document.value();
    int release = 1;
    while (release < 256 && bytes.find(static_cast<char>(release)) != std::string::npos) ++release;
    ASSERT_LT(release, 256);
    Segment plain, release_path;
    for (std::size_t i = 0; i < d.size(); ++i) {
      const std::optional<Frame> frame = d.frame(i);
      ASSERT_TRUE(frame.has_value());
      expect_same_split(i, *frame, d.delimiters(), plain, release_path, static_cast<char>(release));
      if (HasFatalFailure()) return;
    }
  }
}

}  // namespace
}  // namespace zarvi_core
