#pragma once
// Reads what install_refusal weighs, for a real executable path.

#include <filesystem>

#include "main/install_check.h"

namespace tarnwick {

// The drive kind of `exe` and the access lists of its folder and of itself.
InstallFacts read_install_facts(const std::filesystem::path& exe);

// The allow entries of a file's or folder's access list; nullopt when it cannot be read.
std::optional<std::vector<AccessEntry>> read_access_entries(const std::filesystem::path& path);

}  // namespace tarnwick
