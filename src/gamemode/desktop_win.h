#pragma once
// The foreground window and its monitor from the window manager.

#include "gamemode/gamemode.h"

namespace tarnwick {

class WindowsDesktopQuery final : public DesktopQuery {
 public:
  std::optional<ForegroundWindow> foreground() override;
};

}  // namespace tarnwick
