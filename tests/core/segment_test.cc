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
  auto outside = [&](std::string_view v) {
    return !v.empty() && (v.data() < s.raw().data() || v.data() >= s.raw().data() + s.raw().size());
  };
  for (const Element& e : s.elements()) {
    std::string text;
    bool owned = false;
    if (e.is_composite()) {
      text = "[";
      for (const Bytes& c : e.components()) {
        text += std::string(c.view()) + "|";
        owned = owned || outside(c.view());
      }
      text.back() = ']';
    } else {
      text = e.value();
      owned = outside(e.value());
    }
    out.push_back(owned ? text + "(owned)" : text);
  }
  return out;
}

Segment parse(std::string_view body, const Delimiters& d, std::size_t index = 0) {
  Segment s;
  s.reparse(index, Frame{body, body, true}, d);
  return s;
}

using testing::released;

TEST(Segment, SplitsIdAndElements) {
  struct Case {
    const char* name;
    std::string body;
    Delimiters delimiters;
    std::string id;
    std::vector<std::string> elements;
  };
  const Delimiters plain;
  const Case cases[] = {
      {"no separator", "IEA", plain, "IEA", {}},
      {"empty body", "", plain, "", {}},
      {"trailing empty element", "N1*PR*", plain, "N1", {"PR", ""}},
      {"empty id", "*A", plain, "", {"A"}},
      {"composite", "SVC*HC:99213:25*100", plain, "SVC", {"[HC|99213|25]", "100"}},
      {"repetition kept whole", "REF*A^B^C", plain, "REF", {"A^B^C"}},
      {"released terminator", "NM1*A?~B", released(), "NM1", {"A~B(owned)"}},
      {"released element separator", "N1*A?*B*C", released(), "N1", {"A*B(owned)", "C"}},
      {"released component separator", "SVC*C?:D:E", released(), "SVC", {"[C:D|E](owned)"}},
      {"id keeps release bytes", "N?*1*X", released(), "N?*1", {"X"}},
      {"release at the end", "N1*A?", released(), "N1", {"A(owned)"}},
      {"released release", "N1*??*B", released(), "N1", {"?(owned)", "B"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Segment s = parse(c.body, c.delimiters);
    EXPECT_EQ(s.id(), c.id);
    EXPECT_EQ(render(s), c.elements);
  }
}

TEST(Segment, TextJoinsComponents) {
  struct Case {
    const char* name;
    std::size_t position;
    char separator;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"position 0", 0, ':', std::nullopt},
      {"composite", 1, ':', "HC:99213:25"},
      {"composite, other separator", 1, '>', "HC>99213>25"},
      {"simple", 2, ':', "100"},
      {"last, empty", 3, ':', ""},
      {"one past the last", 4, ':', std::nullopt},
  };
  const Segment s = parse("SVC*HC:99213:25*100*", Delimiters{});
  std::string buffer;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto got = s.text(c.position, c.separator, buffer);
    ASSERT_EQ(got.has_value(), c.expected.has_value());
    if (got) {
      EXPECT_EQ(*got, *c.expected);
    }
  }
  // Components come back unescaped, joined by the separator the caller gives.
  const Segment escaped = parse("SVC*A?:B:C", released());
  ASSERT_TRUE(escaped.text(1, ':', buffer).has_value());
  EXPECT_EQ(*escaped.text(1, ':', buffer), "A:B:C");
}

TEST(Segment, RefillReusesElementSlots) {
  Segment s;
  s.reparse(0, Frame{"SVC*A:B:C*1*2*3", "SVC*A:B:C*1*2*3", true}, Delimiters{});
  const Element* slots = s.elements().data();
  const Bytes* components = s.elements()[0].components().data();
  s.reparse(1, Frame{"LX*1", "LX*1", true}, Delimiters{});
  EXPECT_EQ(render(s), std::vector<std::string>{"1"});
  s.reparse(2, Frame{"SVC*X:Y*9", "SVC*X:Y*9", true}, Delimiters{});
  EXPECT_EQ(render(s), (std::vector<std::string>{"[X|Y]", "9"}));
  EXPECT_EQ(s.elements().data(), slots);
  EXPECT_EQ(s.elements()[0].components().data(), components);
}

// Without a release character the body is split a word at a time; with one
// that does not occur the general path must give the same segment. Random
// bodies over the separators, long enough to span several words, with
// separators that are high or zero bytes too, refilling one Segment each way.
TEST(Segment, PlainSplitAgreesWithReleasePath) {
  struct Case {
    const char* name;
    char element;
    char component;
  };
  const Case cases[] = {
      {"default", '*', ':'},
      {"high bytes", '\x80', '\xFF'},
      {"zero element separator", '\0', '\x1D'},
  };
  std::mt19937 random(835);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Delimiters plain_delimiters;
    plain_delimiters.element = c.element;
    plain_delimiters.component = c.component;
    Delimiters release_delimiters = plain_delimiters;
    release_delimiters.release = '?';
    const std::string alphabet = std::string("AB^ \x7F\x01") + c.element + c.element + c.component;
    Segment plain;
    Segment release_path;
    for (int round = 0; round < 3000; ++round) {
      std::string body(random() % 40, ' ');
      for (char& ch : body) ch = alphabet[random() % alphabet.size()];
      SCOPED_TRACE(body);
      plain.reparse(round, Frame{body, body, true}, plain_delimiters);
      release_path.reparse(round, Frame{body, body, true}, release_delimiters);
      ASSERT_EQ(plain.id(), release_path.id());
      ASSERT_EQ(render(plain), render(release_path));
    }
  }
}

// Every segment of the real files, with their own delimiters: the plain
// split must agree with the general path under a release byte the file does
// not hold.
TEST(Segment, PlainSplitAgreesOnCorpus) {
  const auto files = testing::corpus_files();
  if (files.empty()) GTEST_SKIP() << "corpus absent";
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    auto document = Document::parse(std::string_view(bytes));
    if (!document.ok()) continue;
    const Document& d = document.value();
    Delimiters release_delimiters = d.delimiters();
    for (int c = 1; c < 256; ++c) {
      if (bytes.find(static_cast<char>(c)) == std::string::npos) {
        release_delimiters.release = static_cast<char>(c);
        break;
      }
    }
    ASSERT_TRUE(release_delimiters.release.has_value());
    Segment plain;
    Segment release_path;
    for (std::size_t i = 0; i < d.size(); ++i) {
      const std::optional<Frame> frame = d.frame(i);
      ASSERT_TRUE(frame.has_value());
      plain.reparse(i, *frame, d.delimiters());
      release_path.reparse(i, *frame, release_delimiters);
      ASSERT_EQ(plain.id(), release_path.id()) << "segment " << i;
      ASSERT_EQ(render(plain), render(release_path)) << "segment " << i;
    }
  }
}

}  // namespace
}  // namespace zarvi_core
