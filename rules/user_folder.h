// The per-user working folder of an installed program. The program opens every file by a
// relative name, so when it is started from the desktop menu it changes into a folder of the
// user's own, filled with the shipped defaults on first use.
#pragma once

#include <filesystem>
#include <string>

// Returns $XDG_DATA_HOME/Velk_VCP, or ~/.local/share/Velk_VCP when XDG_DATA_HOME is not set
// (an empty path when neither it nor HOME is set).
std::filesystem::path UserFolder();

// Returns true when folder holds a settings file or the English language file: a folder made
// ready to work in (the build's run folder, a folder prepared by hand, the per-user folder).
bool IsWorkingFolder(const std::filesystem::path& folder);

// Creates folder when missing (it and the parents it makes owner-only, 0700, whatever the
// umask) and copies into it each shipped file of shippedFolder (the language files, presets,
// device file, icons and the first-start settings Velk_VCP.CFG) that it does not hold yet,
// each private (0600) from the start; files the user already has stay as they are. Then makes
// folder the current directory. Returns false, with the reason in error, when the folder cannot be
// created or entered; a file that cannot be copied is reported in error but does not stop the rest.
bool EnterUserFolder(const std::filesystem::path& folder,
                     const std::filesystem::path& shippedFolder, std::string& error);
