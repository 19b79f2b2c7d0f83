// The fuzz targets: one function per parser of untrusted input, each taking
// the raw bytes libFuzzer (or a replayed corpus file) hands in.
//
// Each function drives the parser and then checks what must hold for any
// input: a failed decode leaves an empty image, a successful one a usable
// image; a metadata rewrite yields a header that parses again and carries
// exactly the source's segments; a parsed session file survives being written
// and read again. A function returns false when such a property is broken;
// memory errors and undefined behaviour are left to the sanitizers.
//
// fuzz_main.cpp turns one function into a libFuzzer binary; the hardening
// tests replay the committed seed corpora and every crashing input ever found
// through the same functions in the ordinary build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// DecodeImageMemory: the content-sniffing entry point over every format.
bool FuzzDecodeImage(const std::uint8_t* data, size_t size);
// The single-format decoders.
bool FuzzDecodeJpeg(const std::uint8_t* data, size_t size);
bool FuzzDecodePng(const std::uint8_t* data, size_t size);
bool FuzzDecodeTiff(const std::uint8_t* data, size_t size);
bool FuzzDecodeBmpGif(const std::uint8_t* data, size_t size);

// The JPEG marker copy: the input is a source and a candidate JPEG, split as
// described at SplitMetadataInput.
bool FuzzJpegMetadata(const std::uint8_t* data, size_t size);

// The key=value parser of benchmark_current.ini.
bool FuzzSessionFile(const std::uint8_t* data, size_t size);

// SplitCsvLine and the raw-row reader of the candidate summary; the input is
// one or more lines.
bool FuzzCsvLines(const std::uint8_t* data, size_t size);

// The metadata target's input format: two bytes (big-endian) giving the
// source's length, the source, then the candidate. A short input is all
// source and no candidate.
std::string JoinMetadataInput(const std::string& source, const std::string& candidate);

// Names of the targets as used for corpus folders and binaries, and the
// function behind each; nullptr for an unknown name.
using FuzzTarget = bool (*)(const std::uint8_t* data, size_t size);
FuzzTarget FindFuzzTarget(const std::string& name);
extern const char* const kFuzzTargetNames[];
extern const size_t kFuzzTargetCount;
