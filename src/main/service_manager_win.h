#pragma once
// The real service manager session; handles close in reverse order of opening.

#include "main/commands.h"
#include "win/handle_win.h"

namespace tarnwick {

class WindowsServiceManager final : public ServiceManager {
 public:
  ExecutablePath own_path() override;
  bool open_manager() override;
  std::optional<uint32_t> create_service(std::string_view name, std::string_view display,
                                         std::string_view command_line) override;
  void start_service() override;
  std::optional<uint32_t> open_service(std::string_view name) override;
  void stop_service() override;
  bool delete_service() override;
  void add_event_source(const std::filesystem::path& exe) override;
  void remove_event_source() override;
  std::string error_message(uint32_t code) override;

 private:
  // Declared first so it is closed last.
  win::ServiceHandle manager_;
  win::ServiceHandle service_;
};

}  // namespace tarnwick
