#pragma once
// Whether tarnwick.exe may be registered as a service where it lies. The
// service runs as LocalSystem, and Windows looks in the executable's own
// folder first for the programs it starts by name and for the DLLs it loads
// that are not KnownDLLs; so anyone who can change that folder or the file
// itself could run code as LocalSystem. A drive mapped or substituted in one
// logon session does not exist for the service at all.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick {

enum class DriveKind { Local, Network, Substituted };

// One allow entry of an access list, as far as the check needs it.
struct AccessEntry {
  std::string sid;     // "S-1-5-32-545"
  uint32_t mask = 0;   // the access mask, generic rights as stored
  bool inherit_only = false;  // applies to children only, not to the object itself
};

// An access list that could not be read is nullopt; a null list (which
// grants everyone everything) is a list holding an Everyone entry for all.
struct InstallFacts {
  DriveKind drive = DriveKind::Local;
  std::optional<std::vector<AccessEntry>> folder_access;
  std::optional<std::vector<AccessEntry>> file_access;
};

// Every right that lets an account change a file or folder or what it holds:
// write or add file, append or add subfolder, delete child, delete, write-DAC,
// write-owner, generic write and generic all.
inline constexpr uint32_t kChangingRights =
    0x2u | 0x4u | 0x40u | 0x10000u | 0x40000u | 0x80000u | 0x40000000u | 0x10000000u;

// The reason to refuse, or nullopt when the location is safe. Entries for
// Users, Authenticated Users, Everyone and INTERACTIVE with any changing
// right count; deny entries are not weighed against them.
std::optional<std::string> install_refusal(const InstallFacts& facts);

// "Refusing to install from {folder}: {reason}. Copy tarnwick.exe to a folder
// under Program Files first."
std::string install_refusal_message(const std::string& folder, const std::string& reason);

}  // namespace tarnwick
