// Encoding every candidate of one image's plan.
//
// WIC candidates are encoded in-process on the calling thread (the thread that
// runs the front-end); tool candidates run concurrently on a small pool of
// short-lived worker threads that take work through an atomic index. While the
// workers run, the calling thread refreshes the live status (unforced) and
// pumps the front-end's events every 15 ms. Results always come back in plan
// order, whatever order the tools finish in.
//
// After each lossy candidate (WIC, MozJPEG, Jpegli) is encoded, the source's
// metadata segments are written into it (jpeg_metadata.h) before its size is
// taken; a candidate whose rewrite fails counts as failed.
#pragma once

#include <string>
#include <vector>

#include "core/candidate_plan.h"
#include "core/encoder_invocation.h"
#include "imaging/pixel_image.h"
#include "platform/work_folder.h"

// "<prefix>_<id>.jpg" with the id zero-padded to four digits (full_0001.jpg).
std::string CandidateFileName(const std::string& prefix, std::uint32_t id);

// Encodes the whole plan into `results` (resized to one entry per plan entry,
// entry i for plan entry i).
//   jpegCopyPath      the source copy for jpegtran; may be empty
//   ppmPath           the source as PPM for the Jpegli and MozJPEG tools
//   sourceMetadata    the source's carried segments; empty: nothing to carry
// False when a worker thread could not be started (or one ended by an
// exception): no further work is handed out, the workers that did start are
// joined, and the results are incomplete.
bool EncodeAllCandidates(const std::vector<EncoderCandidate>& plan, const PixelImage& image,
                         const std::string& jpegCopyPath, const std::string& ppmPath,
                         const WorkFolder& folder, const std::string& prefix,
                         const std::string& sourceMetadata, std::vector<CandidateResult>& results);

// Number of worker threads for `deferredCount` tool candidates in `mode` on a
// machine with `hardwareThreads`: the least of the mode's cap, the hardware
// threads (1 when 0) and the tool candidates, and at least 1.
unsigned EncoderWorkerCount(int mode, unsigned hardwareThreads, size_t deferredCount);

// Test seam: called just before each worker thread is started, with its index
// from 0. A probe that throws std::system_error stands in for a thread the
// system refused. nullptr removes the probe.
using WorkerStartProbe = void (*)(unsigned workerIndex);
void SetWorkerStartProbe(WorkerStartProbe probe);
