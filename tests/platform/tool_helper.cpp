// A tiny child program for the process-runner tests. The first argument picks
// what it does: "exit N", "print TEXT..." (one per line), "env NAME", "pwd",
// "fds" (the descriptors open besides 0, 1 and 2), "stdin" (how many bytes it
// held), "stderr" (writes there only), "signal" (kills itself with SIGKILL),
// "touch PATH", "hang PATH" (touch, then wait for a signal for ever), "nap
// PATH MS" (touch, then sleep), "group" (its process group id), and
// "signals" (the SigBlk: and SigIgn: lines the kernel reports).
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc < 2) return 64;
  const std::string command = argv[1];
  const char* argument = argc > 2 ? argv[2] : nullptr;
  if (command == "exit" && argument) return std::atoi(argument);
  if (command == "print") {
    for (int i = 2; i < argc; ++i) std::printf("%s\n", argv[i]);
  } else if (command == "env" && argument) {
    const char* value = std::getenv(argument);
    std::printf("%s\n", value == nullptr ? "(unset)" : value);
  } else if (command == "pwd") {
    char buffer[4096];
    if (getcwd(buffer, sizeof buffer) == nullptr) return 3;
    std::printf("%s\n", buffer);
  } else if (command == "fds") {
    DIR* listing = opendir("/proc/self/fd");
    if (listing == nullptr) return 3;
    while (const dirent* entry = readdir(listing)) {
      const int fd = std::atoi(entry->d_name);
      if (entry->d_name[0] != '.' && fd > 2 && fd != dirfd(listing)) std::printf("%d\n", fd);
    }
    closedir(listing);
  } else if (command == "stdin") {
    char buffer[256];
    size_t total = 0;
    for (ssize_t got; (got = read(0, buffer, sizeof buffer)) > 0;) total += static_cast<size_t>(got);
    std::printf("%zu\n", total);
  } else if (command == "stderr") {
    std::fprintf(stderr, "noise\n");
  } else if ((command == "touch" || command == "hang") && argument) {
    FILE* file = std::fopen(argument, "w");
    if (file == nullptr) return 3;
    std::fclose(file);
    while (command == "hang") pause();
  } else if (command == "nap" && argc > 3) {
    FILE* file = std::fopen(argument, "w");
    if (file == nullptr) return 3;
    std::fclose(file);
    usleep(static_cast<useconds_t>(std::atoi(argv[3])) * 1000);
  } else if (command == "group") {
    std::printf("%d\n", static_cast<int>(getpgrp()));
  } else if (command == "signals") {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return 3;
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr) {
      if (!std::strncmp(line, "SigBlk:", 7) || !std::strncmp(line, "SigIgn:", 7)) std::fputs(line, stdout);
    }
    std::fclose(status);
  } else if (command == "signal") {
    raise(SIGKILL);
  } else {
    return 65;
  }
  return 0;
}
