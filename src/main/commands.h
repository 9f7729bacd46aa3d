#pragma once
// The command words of tarnwick.exe and their console replies. The service
// manager sits behind a small interface so that the replies and the order of
// the steps are tested without a real one.

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "sysenv/sysenv.h"

namespace tarnwick {

inline constexpr std::string_view kServiceName = "Tarnwick";
inline constexpr std::string_view kServiceDisplayName = "Tarnwick Behavioral Sentinel";
inline constexpr uint32_t kErrorServiceDoesNotExist = 1060;

// One session with the local service manager; handles opened by it are
// closed when it is destroyed.
class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  virtual ExecutablePath own_path() = 0;
  // Opens the manager with full access.
  virtual bool open_manager() = 0;
  // Creates the own-process, auto-start service; the error code on failure.
  virtual std::optional<uint32_t> create_service(std::string_view name, std::string_view display,
                                                 std::string_view command_line) = 0;
  // Asks the created service to start; the outcome is not reported.
  virtual void start_service() = 0;
  // Opens an existing service with full access; the error code on failure.
  virtual std::optional<uint32_t> open_service(std::string_view name) = 0;
  // Sends the stop control without waiting; the outcome is not reported.
  virtual void stop_service() = 0;
  virtual bool delete_service() = 0;
  // Adds the alert event source with `exe` as its message file, or removes
  // it. Failures are silent: the service works without the source.
  virtual void add_event_source(const std::filesystem::path& exe) = 0;
  virtual void remove_event_source() = 0;
  // The system's text for an error code, empty when it has none.
  virtual std::string error_message(uint32_t code) = 0;
};

struct CommandEnv {
  ServiceManager& scm;
  std::function<void()> run_foreground;
  // Hands the process to the service dispatcher; false when not started by the SCM.
  std::function<bool()> dispatch_service;
  std::ostream& out;
  std::ostream& err;
  // The arguments after the command word.
  std::vector<std::string> arguments = {};
  // Shows a toast of two texts (see toast_document) in this session; false
  // when it was not shown.
  std::function<bool(std::string_view heading, std::string_view body)> show_toast = {};
  // Prints the status, as JSON when asked; reads only.
  std::function<void(bool json)> show_status = {};
};

// Runs the command word and returns the exit code: 0, except for "toast",
// which gives 1 when no toast was shown.
int run_command(std::string_view word, CommandEnv& env);

// "0x8007" and the low 16 bits of a Win32 code, in upper-case hex.
std::string win32_code_as_hresult(uint32_t code);

// "{message} (0x80070431)", or only the code when there is no message.
std::string create_service_error(std::string_view message, uint32_t code);

// "{message} (os error {code})"
std::string os_error(std::string_view message, uint32_t code);

// The registered command line: the quoted executable path and "service".
std::string service_command_line(std::string_view exe);

}  // namespace tarnwick
