// Running an encoder tool as a child process.
//
// The tool is started with posix_spawn, never through a shell: its arguments
// travel as an argv vector, so paths with spaces, quotes or umlauts need no
// escaping. Standard input and standard error are /dev/null; standard output
// goes to /dev/null or into a file the caller names.
#pragma once

#include <string>
#include <vector>

// Runs `toolPath` with `arguments` (argv[1..]) to completion.
//   stdoutPath     created or truncated and used as standard output; empty for
//                  /dev/null. When it cannot be created nothing is started.
//   workingFolder  the child's current folder; empty to inherit ours.
// True only when the child exited normally with status 0.
bool RunTool(const std::string& toolPath, const std::vector<std::string>& arguments,
             const std::string& stdoutPath, const std::string& workingFolder);
