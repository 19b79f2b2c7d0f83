// orvel-cli: the headless front-end to the optimiser. Parses the arguments
// into a record and runs it; everything else lives in cli_options.cpp,
// cli_commands.cpp, parallel_batch.cpp and (for profile development)
// bench_command.cpp.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/bench_command.h"
#include "cli/cli_commands.h"
#include "cli/cli_options.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (!arguments.empty() && arguments[0] == "bench") {
    return RunBenchCommand({arguments.begin() + 1, arguments.end()});
  }
  CliOptions options;
  std::string error;
  if (!ParseCliArguments(arguments, options, error)) {
    std::fprintf(stderr, "%s\n\n%s", error.c_str(), CliUsageText().c_str());
    return kExitUsage;
  }
  return RunCliCommand(options);
}
