#include "zarvi_core/document.h"

#include <gtest/gtest.h>

#include <random>

#include "test_input.h"
#include "zarvi_core/tokenizer.h"

namespace zarvi_core {
namespace {

using testing::isa;

Document parse_ok(std::string_view input) {
  auto parsed = Document::parse(input);
  EXPECT_TRUE(parsed.ok()) << to_string(parsed.error());
  return std::move(parsed.value());
}

// Every span of many inputs is checked by the tiling properties below.
TEST(Document, AccessorsAreAbsentPastTheEnd) {
  const Document doc = parse_ok(testing::small_interchange());
  EXPECT_EQ(doc.size(), 7u);
  EXPECT_FALSE(doc.raw(7) || doc.segment(7) || doc.segment_id(7) || doc.frame(7));
}

TEST(Document, EntriesOutsideTheSourceAreAbsent) {
  const std::string input = "AB~CD~";
  const Document doc(input, Delimiters{},
                     {Body{0, 2}, Body{4, 3}, Body{4, 5}, Body{6, 6}, Body{7, 9}, Body{9, 9}});
  EXPECT_EQ(doc.raw(0), "AB~");
  EXPECT_FALSE(doc.span(1)) << "body ends before it starts";
  EXPECT_EQ(doc.raw(2), "D~") << "raw starts after the terminator of entry 1";
  EXPECT_FALSE(doc.span(3)) << "not last, so it needs a terminator past the end";
  EXPECT_FALSE(doc.span(4)) << "raw starts past the source";
  EXPECT_FALSE(doc.segment_id(5));
}

TEST(Document, SizeRule) {
  DocumentError size{DocumentError::Kind::Size, {}, SizeError{4294967296}};
  EXPECT_EQ(to_string(size),
            "input of 4294967296 bytes exceeds the document size limit of 4294967295 bytes "
            "(segment offsets are stored as 32-bit integers)");
  EXPECT_TRUE(check_size(4294967295).ok());
  EXPECT_EQ(check_size(4294967296).error().length, 4294967296u);
  // The index stops at the first offset above the limit, and reports the
  // whole input's length.
  struct Case { const char* name; std::string input; uint64_t limit; bool ok; };
  const Case cases[] = {
      {"terminator just past the limit", "AB~CD~", 5, true},
      {"body end past the limit", "AB~CD~", 4, false},
      {"trailing trivia at length", "AB~ ", 3, false},
      {"unterminated tail", "AB~CD", 4, false},
      {"two bytes past the limit, refused before the scan", "AB~CD~~", 4, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto bodies = detail::index(c.input, Delimiters{}, c.limit);
    EXPECT_EQ(bodies.ok(), c.ok);
    if (!bodies.ok()) {
      EXPECT_EQ(bodies.error().length, c.input.size());
    }
  }
}

TEST(Document, IndexIsShrunkToFit) {
  for (const std::string& input : {std::string(), std::string(1000, '~'), std::string(1000, 'A') + "~"}) {
    auto bodies = index(input, Delimiters{});
    ASSERT_TRUE(bodies.ok());
    EXPECT_EQ(bodies->capacity(), bodies->size()) << input.size() << " bytes";
  }
}

TEST(Document, OwnsOrBorrowsItsSource) {
  const std::string text = testing::small_interchange();
  EXPECT_EQ(parse_ok(text).source().data(), text.data());

  std::string buffer = text;
  const char* bytes = buffer.data();
  auto owned = Document::parse(std::move(buffer));
  ASSERT_TRUE(owned.ok());
  Document doc = std::move(owned.value());
  EXPECT_EQ(doc.source().data(), bytes) << "the buffer is taken over, not copied";
  const std::string_view id = *doc.segment_id(1);
  Document moved = std::move(doc);
  EXPECT_EQ(id, "GS") << "views stay valid when the document moves";
  EXPECT_EQ(moved.source(), text);
}

// The invariants every input must keep: raw spans tile the input in order,
// bodies lie inside them, and the tokenizer frames the same segments.
void check_tiling(std::string_view input, const Delimiters& d) {
  auto bodies = index(input, d);
  ASSERT_TRUE(bodies.ok());
  const Document doc(input, d, std::move(bodies.value()));
  uint64_t at = 0;
  Tokenizer tokens(input, d);
  for (std::size_t i = 0; i < doc.size(); ++i) {
    const std::optional<Span> s = doc.span(i);
    ASSERT_TRUE(s) << "segment " << i;
    ASSERT_EQ(s->raw_start, at) << "segment " << i;
    ASSERT_LE(s->raw_start, s->body_start);
    ASSERT_LE(s->body_end, s->raw_end);
    ASSERT_EQ(s->terminated, s->raw_end == s->body_end + 1);
    ASSERT_TRUE(!s->terminated || input[s->body_end] == d.segment) << "segment " << i;
    at = s->raw_end;

    const std::optional<Segment> from_doc = doc.segment(i);
    const std::optional<Segment> from_tokens = tokens.next();
    ASSERT_TRUE(from_doc && from_tokens) << "segment " << i;
    ASSERT_EQ(from_doc->raw(), from_tokens->raw());
    ASSERT_EQ(from_doc->id(), from_tokens->id());
    ASSERT_EQ(doc.segment_id(i), from_doc->id());
    ASSERT_EQ(from_doc->terminated(), from_tokens->terminated());
    ASSERT_EQ(from_tokens->index(), i);
    ASSERT_EQ(from_doc->elements().size(), from_tokens->elements().size());
  }
  ASSERT_EQ(at, input.size());
  ASSERT_FALSE(tokens.next()) << "the tokenizer found more segments";
  ASSERT_FALSE(doc.span(doc.size()));
}

// Document::parse and Tokenizer::create read the header alike.
void check_parse(std::string_view input) {
  auto doc = Document::parse(input);
  auto tokens = Tokenizer::create(input);
  ASSERT_EQ(doc.ok(), tokens.ok());
  if (!doc.ok()) {
    ASSERT_EQ(to_string(doc.error()), to_string(tokens.error()));
    return;
  }
  ASSERT_EQ(doc->delimiters(), tokens->delimiters());
  check_tiling(input, doc->delimiters());
}

TEST(DocumentProperty, EveryPrefixOfAnInterchange) {
  const std::string sample = testing::data_file("simple_5010.835");
  std::string crlf;
  for (char c : sample) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  const std::string inputs[] = {sample, crlf, "\xEF\xBB\xBF" + testing::small_interchange()};
  const Delimiters escaping = testing::released();
  for (const std::string& input : inputs) {
    for (std::size_t n = 0; n <= input.size(); ++n) {
      const std::string_view prefix = std::string_view(input).substr(0, n);
      SCOPED_TRACE(n);
      check_parse(prefix);
      check_tiling(prefix, escaping);
      if (::testing::Test::HasFatalFailure()) return;
    }
  }
}

TEST(DocumentProperty, RandomBytesAndDelimiters) {
  std::mt19937 rng(20260105);
  // Bytes that matter to framing, plus anything at all.
  const std::string alphabet = std::string("*:~^?\\|\r\n\t ISAGS0\xEF\xBB\xBF", 20);
  auto random_byte = [&] {
    return rng() % 4 == 0 ? static_cast<char>(rng() & 0xFF) : alphabet[rng() % alphabet.size()];
  };
  const std::string base = testing::small_interchange();
  for (int round = 0; round < 3000; ++round) {
    std::string input;
    switch (round % 3) {
      case 0:  // random bytes
        for (std::size_t n = rng() % 120; n > 0; --n) input += random_byte();
        break;
      case 1:  // a valid interchange with bytes changed
        input = base;
        for (int k = 0; k < 4; ++k) input[rng() % input.size()] = random_byte();
        break;
      default:  // a header followed by noise
        input = isa(random_byte(), random_byte(), random_byte()).substr(0, 90 + rng() % 17);
        for (std::size_t n = rng() % 60; n > 0; --n) input += random_byte();
    }
    Delimiters d;
    d.element = random_byte();
    d.component = random_byte();
    d.segment = random_byte();
    if (rng() % 2) d.release = random_byte();
    if (round % 5 == 0 && d.release) input += *d.release;  // release as the last byte
    SCOPED_TRACE(round);
    check_parse(input);
    check_tiling(input, d);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

TEST(DocumentProperty, CorpusFiles) {
  const auto files = testing::corpus_files();
  if (files.empty()) GTEST_SKIP() << "no corpus";
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    check_parse(bytes);
  }
}

}  // namespace
}  // namespace zarvi_core
