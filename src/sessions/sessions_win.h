#pragma once
// The real sessions (Remote Desktop Services API) and the real account
// names of SIDs. Starting a program in a session takes the session user's
// token, which only LocalSystem may ask for.

#include <optional>
#include <string>

#include "sessions/sessions.h"

namespace tarnwick {

class WindowsUserSessions final : public UserSessions {
 public:
  std::vector<uint32_t> active_sessions() override;
  bool start_in_session(uint32_t session, std::string_view command_line) override;
};

// "DOMAIN\name" of a SID given as text; nothing when the text is no SID or
// the system cannot name it.
std::optional<std::string> account_name(const std::string& sid);

}  // namespace tarnwick
