// The desktop program's command line: files and folders to open, as a file
// manager's "Öffnen mit" passes them, and the two options every program
// answers (--version, --help).
//
// Qt-free and read before Qt starts, so --version and a wrong option work
// without a display. The paths go to the main window's image list through
// the same function as a drop (extension rule, de-duplication, sorting).
// Neighbours: application.cpp (the caller).
#pragma once

#include <string>
#include <vector>

enum class StartAction { kRun, kVersion, kHelp, kUsageError };

struct StartArguments {
  StartAction action = StartAction::kRun;
  std::vector<std::string> paths;  // files and folders, as given
  std::string badOption;           // the first unknown option (kUsageError)
};

// Reads argv[1..]. Everything after "--" is a path, and so is "-" and every
// argument not starting with "-"; any other option than --version and
// --help (or -h) is an error.
StartArguments ParseStartArguments(const std::vector<std::string>& arguments);

// "Orvel JPEG Optimizer <version>\n".
std::string StartVersionText();
// The short German usage message.
std::string StartUsageText();
// What stderr shows for a wrong option: the option named, then the usage.
std::string StartUsageErrorText(const std::string& badOption);

// Exit status after a wrong option.
constexpr int kStartExitUsage = 2;
