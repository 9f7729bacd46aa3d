#include <gtest/gtest.h>

#include "text/text.h"

namespace tarnwick {
namespace {

TEST(Utf8ToUtf16, ReplacesEachIllFormedSubsequence) {
  struct Case {
    const char* name;
    std::string in;
    std::u16string out;
  };
  const Case cases[] = {
      {"ascii", "abc", u"abc"},
      {"two three four bytes", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", u"\u00E9\u20AC\U0001F600"},
      {"lone continuation", "a\x80z", u"a\uFFFDz"},
      {"truncated three-byte", "a\xE2\x82", u"a\uFFFD"},
      {"truncated then ascii", "\xE2\x82z", u"\uFFFDz"},
      {"overlong slash", "\xC0\xAF", u"\uFFFD\uFFFD"},
      {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"invalid lead", "\xFF", u"\uFFFD"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(utf8_to_utf16(c.in), c.out);
  }
}

TEST(Utf16ToUtf8, ReplacesUnpairedSurrogates) {
  EXPECT_EQ(utf16_to_utf8(u"\u00E9\U0001F600"), "\xC3\xA9\xF0\x9F\x98\x80");
  const char16_t high_alone[] = {u'a', 0xD83D, u'b', 0};
  EXPECT_EQ(utf16_to_utf8(high_alone), "a\xEF\xBF\xBD" "b");
  const char16_t low_alone[] = {0xDE00, 0};
  EXPECT_EQ(utf16_to_utf8(low_alone), "\xEF\xBF\xBD");
  const char16_t high_at_end[] = {u'x', 0xD800, 0};
  EXPECT_EQ(utf16_to_utf8(high_at_end), "x\xEF\xBF\xBD");
}

TEST(Utf16ToUtf8, LittleEndianBytesMatchTheUnitConversionAndAppend) {
  const std::u16string inputs[] = {
      u"plain.txt", u"\u00E9t\u00E9.LOCKED", u"\U0001F600x",
      std::u16string{u'a', char16_t(0xD83D), u'b'}, std::u16string{char16_t(0xDE00)},
      std::u16string{u'x', char16_t(0xD800)}, std::u16string{char16_t(0xD800), u'\u00E9'}};
  for (const auto& units : inputs) {
    std::string bytes;
    for (char16_t u : units) {
      bytes.push_back(static_cast<char>(u & 0xFF));
      bytes.push_back(static_cast<char>(u >> 8));
    }
    std::string out = "kept:";
    append_utf16le(reinterpret_cast<const unsigned char*>(bytes.data()), units.size(), out);
    EXPECT_EQ(out, "kept:" + utf16_to_utf8(units));
  }
}

TEST(Utf16, ValidityCheck) {
  const char16_t pair[] = {u'a', 0xD83D, 0xDE00, 0};
  const char16_t lone_high[] = {0xD83D, u'b', 0};
  const char16_t lone_low[] = {0xDE00, 0};
  const char16_t high_at_end[] = {u'x', 0xD800, 0};
  EXPECT_TRUE(is_valid_utf16(pair));
  EXPECT_FALSE(is_valid_utf16(lone_high));
  EXPECT_FALSE(is_valid_utf16(lone_low));
  EXPECT_FALSE(is_valid_utf16(high_at_end));
}

TEST(Utf8, ValidityCheck) {
  EXPECT_TRUE(is_valid_utf8("plain \xC3\xA9 \xEF\xBF\xBD"));
  EXPECT_FALSE(is_valid_utf8("\xC3"));
  EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));
  EXPECT_FALSE(is_valid_utf8("ok\xFF"));
}

TEST(ToLower, FullUnicodeMapping) {
  struct Case {
    const char* name;
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"ascii", "C:\\Windows\\System32\\CMD.EXE", "c:\\windows\\system32\\cmd.exe"},
      {"ascii long", std::string(100, 'Q') + "x", std::string(100, 'q') + "x"},
      {"latin", "\xC3\x84RGER \xC3\x89T\xC3\x89", "\xC3\xA4rger \xC3\xA9t\xC3\xA9"},
      {"dotted capital I", "\xC4\xB0STANBUL", "i\xCC\x87stanbul"},
      {"kelvin sign to ascii k", "\xE2\x84\xAA", "k"},
      {"greek final sigma", "\xCE\x9F\xCE\xA3\xCE\x9F\xCE\xA3", "\xCE\xBF\xCF\x83\xCE\xBF\xCF\x82"},
      {"sigma alone is not final", "\xCE\xA3", "\xCF\x83"},
      {"sigma before a word break", "\xCE\x91\xCE\xA3 x", "\xCE\xB1\xCF\x82 x"},
      {"sigma then ignorable then letter", "\xCE\x91\xCE\xA3'\xCE\x91", "\xCE\xB1\xCF\x83'\xCE\xB1"},
      {"ascii letter before sigma", "A\xCE\xA3", "a\xCF\x82"},
      {"invalid bytes become U+FFFD", "A\xFF" "B", "a\xEF\xBF\xBD" "b"},
      {"already lower", "\xD1\x8F", "\xD1\x8F"},
      {"cyrillic", "\xD0\xAF", "\xD1\x8F"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(to_lower(c.in), c.out);
  }
}

TEST(ToLower, AppendsToExistingBuffer) {
  std::string out = "x:";
  append_lower("AB\xC3\x89", out);
  EXPECT_EQ(out, "x:ab\xC3\xA9");
}

TEST(AsciiLower, LeavesNonAsciiAlone) {
  EXPECT_EQ(ascii_lower("GAME.EXE \xC3\x89"), "game.exe \xC3\x89");
}

TEST(FileName, AfterLastSeparatorOfEitherKind) {
  EXPECT_EQ(file_name("C:\\Tools\\NGROK.EXE"), "NGROK.EXE");
  EXPECT_EQ(file_name("/usr/bin/x"), "x");
  EXPECT_EQ(file_name("a/b\\c"), "c");
  EXPECT_EQ(file_name("bare.exe"), "bare.exe");
  EXPECT_EQ(file_name("C:\\dir\\"), "");
}

TEST(Utf8Prefix, NeverEndsInsideACharacter) {
  const std::string text = "ab\xE2\x82\xAC" "cd";  // "ab€cd"
  EXPECT_EQ(utf8_prefix(text, 2), "ab");
  EXPECT_EQ(utf8_prefix(text, 3), "ab");
  EXPECT_EQ(utf8_prefix(text, 4), "ab");
  EXPECT_EQ(utf8_prefix(text, 5), "ab\xE2\x82\xAC");
  EXPECT_EQ(utf8_prefix(text, 100), text);
}

TEST(TrimWhiteSpace, RemovesUnicodeWhiteSpaceAtBothEnds) {
  struct Case {
    const char* name;
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"ascii", " \t\r\n x y \v\f", "x y"},
      {"no-break and ideographic spaces", "\xC2\xA0\xE3\x80\x80x\xE2\x80\xA8", "x"},
      {"next line U+0085", "\xC2\x85x\xC2\x85", "x"},
      {"zero width space is not white space", "\xE2\x80\x8Bx", "\xE2\x80\x8Bx"},
      {"all white space", " \xE2\x80\x80 ", ""},
      {"ill-formed byte kept", "\xFF ", "\xFF"},
      {"non-ASCII kept whole", " \xC3\xA9", "\xC3\xA9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(trim_white_space(c.in), c.out);
  }
}

}  // namespace
}  // namespace tarnwick
