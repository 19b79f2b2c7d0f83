// orvel-cli optimize --json: one JSON object per image, one a line, in list
// order, then {"summary": {...}}. Scripts read these instead of the German
// result lines; errors still go to standard error in German.
//
// Strings are always valid UTF-8: bytes of a file name that are not valid
// UTF-8 are replaced by U+FFFD (nlohmann::json's replace error handler).
//
// Neighbours: cli_commands.cpp (writes the lines), core/pipeline (ImageResult).
#pragma once

#include <string>

#include "cli/cli_commands.h"
#include "core/pipeline.h"

// The object of one image (no newline). `reached` is false for an image that
// failed; `ms` is the image's wall time in milliseconds.
std::string FormatImageJson(const ImageResult& result, bool reached, double ms);

// {"summary": {...}} of the run (no newline).
std::string FormatSummaryJson(const BatchSummary& summary);
