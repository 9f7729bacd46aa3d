#pragma once
// The Windows service side of tarnwick.exe: the dispatcher call, the service
// entry point and its control handler. The slots they share are written once
// (name before the dispatcher starts, status handle and flags by the entry
// point) and read by the SCM's threads only after a set check.

#include <windows.h>

namespace tarnwick {

// Runs the dispatcher; false when the process was not started by the SCM.
bool dispatch_service();

void WINAPI service_main(DWORD argc, LPWSTR* argv);
void WINAPI service_control_handler(DWORD control);

// For tests: sets the flags slot so the handler can be called directly.
struct EngineFlags;
void set_service_flags_for_test(EngineFlags* flags);

}  // namespace tarnwick
