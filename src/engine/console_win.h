#pragma once
// The process-wide console control handler of the foreground run: on any
// console event it sets `stop` and closes the alert queue, so the engine shuts
// down in order instead of being ended by the default handler. For close,
// logoff and shutdown, after which the system ends the process as soon as
// the handler returns, it first waits (bounded) for the engine to finish.

#include <windows.h>

#include <memory>

#include "engine/alert_queue.h"
#include "engine/flags.h"
#include "engine/stop.h"

namespace tarnwick {

void install_console_handler(std::shared_ptr<EngineFlags> flags, std::shared_ptr<AlertQueue> queue,
                             std::shared_ptr<EngineFinished> finished);

// The registered routine; exposed so tests can call it directly.
BOOL WINAPI console_control_handler(DWORD event);

}  // namespace tarnwick
