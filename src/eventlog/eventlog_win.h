#pragma once
// The "Tarnwick" event source: the writer the engine opens once per run, and
// the registration that install and uninstall add and remove.

#include <filesystem>
#include <memory>

#include "eventlog/eventlog.h"

namespace tarnwick {

// Opens the source; the handle lives as long as the writer. Under a source
// that is not registered the events still go to the Application log, only
// without their message text.
std::unique_ptr<EventLogWriter> open_windows_event_log();

// Creates or updates the source's key with EventMessageFile = `exe` and
// TypesSupported = 7. False when the key cannot be written.
bool register_event_source(const std::filesystem::path& exe);

// Removes the source's key; true when it is gone (or never was there).
bool remove_event_source();

}  // namespace tarnwick
