#pragma once
// The process-wide console control handler: on any console event it sets
// `stop`, closes the alert queue and reports the event handled, so the engine
// shuts down in order instead of being ended by the default handler.

#include <windows.h>

#include <memory>

#include "engine/alert_queue.h"
#include "engine/flags.h"

namespace tarnwick {

void install_console_handler(std::shared_ptr<EngineFlags> flags, std::shared_ptr<AlertQueue> queue);

// The registered routine; exposed so tests can call it directly.
BOOL WINAPI console_control_handler(DWORD event);

}  // namespace tarnwick
