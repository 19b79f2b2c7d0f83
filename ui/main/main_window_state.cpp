// Main window state and the image-list and results-list rules; see
// main_window_state.h. Neighbours: core/image_list.h (the list rules),
// platform/files.h (sizes).
#include "ui/main/main_window_state.h"

#include <algorithm>
#include <iterator>
#include <string_view>

#include "core/display_text.h"
#include "core/image_list.h"
#include "core/live_status.h"
#include "core/parallel_batch.h"
#include "platform/files.h"
#include "ui/main/main_texts.h"

MainWindowState& MainState() {
  static MainWindowState state;
  return state;
}

void ResetMainState() { MainState() = MainWindowState{}; }

void MergeImagePaths(std::vector<std::string>& list, const std::vector<std::string>& added,
                     const std::string& outputFolder) {
  AddToImageList(list, added, std::string(), outputFolder);
}

bool AddImagePaths(MainWindowState& state, const std::vector<std::string>& added) {
  MergeImagePaths(state.imageList, added, state.outputFolder);
  if (!state.outputFolder.empty() || state.imageList.empty()) return false;
  state.outputFolder = ParentFolder(state.imageList.front());
  return true;
}

std::string ImageListLine(const std::string& path) {
  return EscapeForDisplay(FileNamePart(path)) + "   |   " + FormatBytes(FileSize(path));
}

std::size_t PreviewIndexFor(int selectedRow, std::size_t count) {
  if (selectedRow < 0 || static_cast<std::size_t>(selectedRow) >= count) return 0;
  return static_cast<std::size_t>(selectedRow);
}

std::string BatchSummaryStatus(const std::vector<ImageResult>& results) {
  std::size_t optimized = 0;
  std::size_t failed = 0;
  std::uint64_t before = 0;
  std::uint64_t after = 0;
  for (const ImageResult& result : results) {
    if (result.optimized) ++optimized;
    if (result.failed) ++failed;
    before += result.originalBytes;
    // A kept or failed image counts with its source's size.
    after += result.optimized ? result.resultBytes : result.originalBytes;
  }
  return BatchFinishedStatus(optimized, results.size(), before, after, failed);
}

std::string BatchStoppedStatus(const std::vector<ImageResult>& results) {
  std::vector<ImageResult> done;
  std::copy_if(results.begin(), results.end(), std::back_inserter(done), WasDoneInBatch);
  std::string text = BatchSummaryStatus(done);
  return text.replace(0, std::string_view(kStatusBatchFinished).size(), kStatusBatchStopped);
}
