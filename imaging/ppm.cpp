// The binary PPM intermediate file that the command-line encoders read (the
// pipeline's "full.ppm", the benchmark sources). Neighbours: the pipeline and
// the encoder invocation in core/, which remove a partly written file.
//
// Rows are converted from BGRA to RGB and written in blocks of whole rows
// through the platform's write seam, so fault-injection tests reach them.
#include "imaging/ppm.h"

#include <algorithm>
#include <vector>

#include "platform/files.h"
#include "platform/text.h"

namespace {

constexpr size_t kBlockBytes = 1 << 20;  // target size of one write

void ConvertRow(const std::uint8_t* bgra, std::uint32_t width, std::uint8_t* rgb) {
  for (std::uint32_t x = 0; x < width; ++x, bgra += 4, rgb += 3) {
    rgb[0] = bgra[2];
    rgb[1] = bgra[1];
    rgb[2] = bgra[0];
  }
}

bool WriteRows(const UniqueFd& file, const PixelImage& image) {
  const size_t rowBytes = static_cast<size_t>(image.width) * 3;
  const std::uint32_t rowsPerBlock =
      static_cast<std::uint32_t>(std::max<size_t>(1, kBlockBytes / rowBytes));
  std::vector<std::uint8_t> block(std::min<size_t>(rowsPerBlock, image.height) * rowBytes);
  for (std::uint32_t row = 0; row < image.height; row += rowsPerBlock) {
    const std::uint32_t rows = std::min(rowsPerBlock, image.height - row);
    for (std::uint32_t i = 0; i < rows; ++i) {
      ConvertRow(image.pixels.data() + (static_cast<size_t>(row) + i) * image.width * 4,
                 image.width, block.data() + i * rowBytes);
    }
    if (!WriteAll(file, block.data(), rows * rowBytes)) return false;
  }
  return true;
}

}  // namespace

bool WritePpm(const PixelImage& image, const std::string& path) {
  if (!IsUsableImage(image)) return false;
  UniqueFd file = CreateForWriting(path);
  if (!file.Valid()) return false;
  const std::string header =
      "P6\n" + FormatInteger(image.width) + " " + FormatInteger(image.height) + "\n255\n";
  const bool written = WriteAll(file, header.data(), header.size()) && WriteRows(file, image);
  const bool closed = CloseChecked(file);
  return written && closed;
}
