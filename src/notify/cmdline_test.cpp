#include "notify/cmdline.h"

#include <gtest/gtest.h>

#include "notify/cmdline_cases.h"
#include "testsupport/argv_split.h"

namespace tarnwick {
namespace {

using testing::split_command_line;

std::string quote_one(std::string_view arg) {
  std::string out;
  append_quoted_argument(arg, out);
  return out;
}

TEST(QuoteArgument, ExactForms) {
  const struct {
    const char* name;
    std::string in;
    std::string out;
  } cases[] = {
      {"bare", "abc", "abc"},
      {"empty", "", "\"\""},
      {"blank", "a b", "\"a b\""},
      {"tab", "a\tb", "\"a\tb\""},
      {"newline", "a\nb", "\"a\nb\""},
      {"vertical tab", "a\vb", "\"a\vb\""},
      {"backslashes alone stay bare", "C:\\dir\\", "C:\\dir\\"},
      {"trailing backslash in quotes doubled", "a b\\", "\"a b\\\\\""},
      {"inner backslashes kept", "a b\\c", "\"a b\\c\""},
      {"quote escaped", "a\"b", "\"a\\\"b\""},
      {"backslash before quote", "a\\\"b", "\"a\\\\\\\"b\""},
      {"only a quote", "\"", "\"\\\"\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(quote_one(c.in), c.out);
  }
}

TEST(QuoteArgument, EveryShortStringRoundTrips) {
  for (const auto& arg : testing::all_strings(testing::kQuotingAlphabet, 5)) {
    const std::vector<std::string> args{"x", arg, "y"};
    ASSERT_EQ(split_command_line(command_line("prog", args)),
              (std::vector<std::string>{"prog", "x", arg, "y"}))
        << "argument [" << arg << "]";
  }
}

TEST(QuoteArgument, HostileArgumentsRoundTripTogether) {
  const auto args = testing::hostile_arguments();
  std::vector<std::string> expected{"curl"};
  expected.insert(expected.end(), args.begin(), args.end());
  EXPECT_EQ(split_command_line(command_line("curl", args)), expected);
}

TEST(QuoteArgument, NulBecomesReplacementCharacter) {
  const std::string line = command_line("curl", {std::string("a\0b", 3), std::string("c \0", 3)});
  EXPECT_EQ(line.find('\0'), std::string::npos);
  EXPECT_EQ(split_command_line(line), (std::vector<std::string>{"curl", "a\uFFFDb", "c \uFFFD"}));
}

TEST(CommandLine, ProgramWithBlankIsQuoted) {
  EXPECT_EQ(command_line("C:\\Program Files\\curl.exe", {"-s"}),
            "\"C:\\Program Files\\curl.exe\" -s");
  EXPECT_EQ(command_line("curl", {}), "curl");
}

// The oracle itself, on the examples of the parser's documentation.
TEST(SplitCommandLine, DocumentedExamples) {
  const struct {
    std::string line;
    std::vector<std::string> argv;
  } cases[] = {
      {"p \"abc\" d e", {"p", "abc", "d", "e"}},
      {"p a\\\\\\b d\"e f\"g h", {"p", "a\\\\\\b", "de fg", "h"}},
      {"p a\\\\\\\"b c d", {"p", "a\\\"b", "c", "d"}},
      {"p a\\\\\\\\\"b c\" d e", {"p", "a\\\\b c", "d", "e"}},
      {"\"C:\\Program Files\\p.exe\" x", {"C:\\Program Files\\p.exe", "x"}},
      {"C:\\dir\\p.exe\t  x  ", {"C:\\dir\\p.exe", "x"}},
      {"p \"\" \"unterminated  x", {"p", "", "unterminated  x"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(split_command_line(c.line), c.argv);
  }
}

}  // namespace
}  // namespace tarnwick
