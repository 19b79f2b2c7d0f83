// The one-line text of an image's outcome, as the results list shows it and
// orvel-cli prints it:
//   optimised: "<file>   |   <profile>   |   <winner>   |   <before> → <after>   |
//               <saving> % kleiner   |   Robust <score>   |   Worst-5% <worst5>   |
//               Kandidaten <encoded>/<planned>"            (one line, wrapped here)
//   kept:      "<file>   |   <profile>   |   Original behalten   |   <message>   |
//               Kandidaten <encoded>/<planned>"
#pragma once

#include <string>

#include "core/pipeline.h"

// The file name shown through EscapeForDisplay, so no name can break the line.
std::string FormatResultLine(const ImageResult& result);

// (1 - resultBytes / originalBytes) * 100; 0 when originalBytes is 0.
double SavingPercent(std::uint64_t originalBytes, std::uint64_t resultBytes);
