// TIFF decoding through libtiff, first page only, for the TIFF sources of the
// profile development. Neighbours: decode.cpp dispatches here.
//
// libtiff reads from the bytes in memory through client callbacks, so no file
// descriptor is opened here at all. Its RGBA reader handles every photometric
// interpretation it knows (grey, palette, RGB, YCbCr, separated CMYK); rows are
// delivered in the order the file stores them, like the other decoders, and
// messages go to a handler that discards them instead of standard error.
#include <tiffio.h>

#include <algorithm>
#include <cstring>

#include "imaging/decode.h"

namespace {

struct TiffMemory {
  const std::uint8_t* data = nullptr;  // the whole file
  std::uint64_t size = 0;              // bytes at data
  std::uint64_t offset = 0;            // read position
};

tmsize_t ReadTiff(thandle_t handle, void* out, tmsize_t count) {
  auto* memory = static_cast<TiffMemory*>(handle);
  if (count <= 0 || memory->offset >= memory->size) return 0;
  const std::uint64_t available = memory->size - memory->offset;
  const std::uint64_t taken = std::min<std::uint64_t>(available, static_cast<std::uint64_t>(count));
  std::memcpy(out, memory->data + memory->offset, static_cast<size_t>(taken));
  memory->offset += taken;
  return static_cast<tmsize_t>(taken);
}

tmsize_t RefuseWrite(thandle_t, void*, tmsize_t) { return 0; }

toff_t SeekTiff(thandle_t handle, toff_t offset, int whence) {
  auto* memory = static_cast<TiffMemory*>(handle);
  std::uint64_t base = 0;
  if (whence == SEEK_CUR) base = memory->offset;
  else if (whence == SEEK_END) base = memory->size;
  else if (whence != SEEK_SET) return static_cast<toff_t>(-1);
  if (offset > UINT64_MAX - base) return static_cast<toff_t>(-1);
  memory->offset = base + offset;
  return memory->offset;
}

int CloseTiff(thandle_t) { return 0; }
toff_t SizeOfTiff(thandle_t handle) { return static_cast<TiffMemory*>(handle)->size; }
int RefuseMap(thandle_t, void**, toff_t*) { return 0; }
void Unmap(thandle_t, void*, toff_t) {}

int DiscardMessage(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// An open TIFF handle and its options; closes both.
struct TiffHandle {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  TIFF* tiff = nullptr;
  TiffHandle() = default;
  TiffHandle(const TiffHandle&) = delete;
  TiffHandle& operator=(const TiffHandle&) = delete;
  ~TiffHandle() {
    if (tiff != nullptr) TIFFClose(tiff);
    if (options != nullptr) TIFFOpenOptionsFree(options);
  }
};

// libtiff's RGBA reader state; ends it on destruction.
struct RgbaReader {
  TIFFRGBAImage state{};
  bool begun = false;
  RgbaReader() = default;
  RgbaReader(const RgbaReader&) = delete;
  RgbaReader& operator=(const RgbaReader&) = delete;
  ~RgbaReader() {
    if (begun) TIFFRGBAImageEnd(&state);
  }
};

bool OpenTiff(TiffMemory& memory, TiffHandle& handle) {
  if (handle.options == nullptr) return false;
  TIFFOpenOptionsSetErrorHandlerExtR(handle.options, DiscardMessage, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(handle.options, DiscardMessage, nullptr);
  handle.tiff = TIFFClientOpenExt("memory", "rm", &memory, ReadTiff, RefuseWrite, SeekTiff,
                                  CloseTiff, SizeOfTiff, RefuseMap, Unmap, handle.options);
  return handle.tiff != nullptr;
}

// Rows per read: one strip or one row of tiles, so no strip is decoded twice
// and the buffer grows with the rows actually decoded.
std::uint32_t RowsPerBand(TIFF* tiff, std::uint32_t height) {
  std::uint32_t rows = 0;
  if (TIFFIsTiled(tiff)) TIFFGetField(tiff, TIFFTAG_TILELENGTH, &rows);
  else TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rows);
  return std::clamp<std::uint32_t>(rows, 1, height);
}

bool ReadBands(TIFF* tiff, RgbaReader& reader, PixelImage& image) {
  const std::uint32_t band = RowsPerBand(tiff, image.height);
  for (std::uint32_t row = 0; row < image.height; row += band) {
    const std::uint32_t rows = std::min(band, image.height - row);
    ExtendToRows(image, row + rows);
    reader.state.row_offset = static_cast<int>(row);
    auto* raster = reinterpret_cast<std::uint32_t*>(image.pixels.data() +
                                                    static_cast<size_t>(row) * image.width * 4);
    if (TIFFRGBAImageGet(&reader.state, raster, image.width, rows) == 0) return false;
  }
  return true;
}

// libtiff's packed ABGR words lie in memory as red, green, blue, alpha.
void SwapRedAndBlue(PixelImage& image) {
  std::uint8_t* pixel = image.pixels.data();
  for (size_t i = 0, n = image.pixels.size() / 4; i < n; ++i, pixel += 4) {
    std::swap(pixel[0], pixel[2]);
  }
}

}  // namespace

bool DecodeTiffMemory(const std::uint8_t* data, size_t size, PixelImage& image,
                      DecodeFailure* failure) {
  ClearImage(image);
  if (DetectImageFormat(data, size) != ImageFormat::Tiff) return false;
  TiffMemory memory{data, size, 0};
  TiffHandle handle;
  RgbaReader reader;
  char message[1024] = {};
  if (!OpenTiff(memory, handle) || !TIFFRGBAImageOK(handle.tiff, message) ||
      !TIFFRGBAImageBegin(&reader.state, handle.tiff, 1, message)) {
    return false;
  }
  reader.begun = true;
  // As stored: asking for the file's own orientation turns off every flip.
  reader.state.req_orientation = reader.state.orientation;
  if (!ReserveDecodedPixels(image, reader.state.width, reader.state.height, failure) ||
      !ReadBands(handle.tiff, reader, image)) {
    ClearImage(image);
    return false;
  }
  SwapRedAndBlue(image);
  return true;
}
