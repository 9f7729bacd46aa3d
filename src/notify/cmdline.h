#pragma once
// Windows command lines from argument lists, quoted so that the system's
// parser (CommandLineToArgvW and the C runtime) gives back exactly the same
// arguments whatever they contain: no text can add, split or merge arguments.

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

// Appends `arg` as one command-line argument: bare when it holds nothing the
// parser treats specially, otherwise in quotes with backslashes doubled
// before a quote and before the closing quote. A command line cannot carry
// NUL, so each NUL is written as U+FFFD.
void append_quoted_argument(std::string_view arg, std::string& out);

// `program` (in plain quotes if it holds a blank; it must hold no quote),
// then each argument after one blank.
std::string command_line(std::string_view program, const std::vector<std::string>& args);

}  // namespace tarnwick
