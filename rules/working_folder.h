// The working folder of the program and of its tools, chosen one way by all of them: --dir,
// else --user-folder, else the current folder when it is a working folder, else the per-user
// folder.
#pragma once

#include <filesystem>
#include <string>

struct WorkingFolder {
  std::filesystem::path path;
  bool perUser = false;  // the per-user folder
  bool implied = false;  // chosen without --dir or --user-folder
};

// Returns the folder of the running executable, where the shipped files lie (an empty path
// when it cannot be read).
std::filesystem::path ProgramFolder();

// Chooses the working folder from dir (empty: not given) and userFolder into chosen, without
// creating or entering it. Returns false with the reason in error when the current folder
// cannot be read (deleted) and neither option is given, or when no per-user folder can be
// named.
bool FindWorkingFolder(const std::string& dir, bool userFolder, WorkingFolder& chosen,
                       std::string& error);

// FindWorkingFolder, then makes the folder the current directory; a per-user folder is first
// created and filled with the shipped files of ProgramFolder (EnterUserFolder). Returns false
// with the reason in error when the folder cannot be chosen, created or entered; on success
// error may still name shipped files that could not be copied.
bool EnterWorkingFolder(const std::string& dir, bool userFolder, WorkingFolder& chosen,
                        std::string& error);

// Returns a line saying that folder lacks the shipped files and how to fill it, or an empty
// text when folder holds the settings file, the English language file or the device file.
std::string MissingShippedFilesAdvice(const std::filesystem::path& folder);
