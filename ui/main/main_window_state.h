// The main window's state: the image list, the output folder, the results of
// the last batch, the busy flag, the live-status sampling, the preview image
// and the selected rows of the two lists.
//
// One process-wide record, Qt-free, so the compare window and the
// profile-development window read it without touching the main window's
// widgets. Written on the UI thread only. The Qt layer keeps the selected
// rows in step with its list widgets. The image-list rules (ordinal sorting,
// de-duplication, the line texts) are plain functions here, so tests run them
// without a display; the results list's rows are in result_columns.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/pipeline.h"
#include "imaging/pixel_image.h"
#include "ui/main/live_status_text.h"

struct MainWindowState {
  std::vector<std::string> imageList;  // full paths, sorted by UTF-16 code units, no duplicates
                                       // (by text or by file)
  std::string outputFolder;            // empty at start
  std::vector<ImageResult> results;    // one per image of the last batch, in list order
  bool batchRunning = false;           // true while a batch runs; commands are ignored then
  bool batchStopRequested = false;     // the running batch was asked to stop (Esc, menu, close)
  unsigned batchJobs = 0;              // images a batch runs at once; 0: AutomaticJobCount
  std::uint64_t batchStartTick = 0;    // TickCountMs at the batch's start, ms
  LiveStatusSampling liveStatusSampling;
  std::string previewPath;             // path whose pixels are in previewImage; empty when none
  PixelImage previewImage;             // decoded preview; empty when none
  std::string previewFailure;          // why the selected image cannot be shown; empty when it can
  std::uint64_t previewGeneration = 0; // counts changes of previewImage (painting caches)
  int selectedImageRow = -1;           // selected line of the image list; -1 when none
  int selectedResultRow = -1;          // selected line of the results list; -1 when none
};

// The one process-wide record.
MainWindowState& MainState();

// Back to the empty state of a fresh start.
void ResetMainState();

// Adds chosen or dropped paths to `list` by the batch rules of AddToImageList
// (core/image_list.h): folders searched for JPEG files, the whole list sorted
// by UTF-16 code units and free of repeated texts and files. Folder scans
// never enter `outputFolder`, where the batch writes.
void MergeImagePaths(std::vector<std::string>& list, const std::vector<std::string>& added,
                     const std::string& outputFolder = {});

// MergeImagePaths into the state's list; when the output folder is still
// empty and the list is not, it becomes the folder of the first entry. True
// when the output folder was set here.
bool AddImagePaths(MainWindowState& state, const std::vector<std::string>& added);

// The image list's line: file name, "   |   ", the file's size (0 B when it
// cannot be read).
std::string ImageListLine(const std::string& path);

// Which entry the preview shows for a selected row: the row, or 0 when none
// is selected or it lies beyond the list.
std::size_t PreviewIndexFor(int selectedRow, std::size_t count);

// The status-bar text after a batch: "Stapelbearbeitung abgeschlossen", the
// number of optimised images and the bytes of the whole batch before and
// after, with the saving in per cent, and the failures (BatchFinishedStatus).
std::string BatchSummaryStatus(const std::vector<ImageResult>& results);

// The same after a stop: "Stapelverarbeitung abgebrochen" in front, and the
// figures over the images done only (WasDoneInBatch).
std::string BatchStoppedStatus(const std::vector<ImageResult>& results);
