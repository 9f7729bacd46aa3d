#pragma once
// The process environment as the engine sees it: environment variables and
// the running executable's path, both as UTF-8. Safe from any thread.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

// The variable's value; nullopt when it is unset or not valid Unicode.
std::optional<std::string> get_env(std::string_view name);

// The full path of the running executable, or the error that prevented it.
struct ExecutablePath {
  std::optional<std::filesystem::path> path;
  unsigned long error_code = 0;
  std::string error_text;
};
ExecutablePath executable_path();

// Names the calling thread, as the system's debuggers and process viewers show
// it. Best effort: where the system cannot name threads nothing happens.
void name_current_thread(std::string_view name);

}  // namespace tarnwick
