// The in-process JPEG encoder that keeps the engine name "WIC": libjpeg-turbo
// with 4:2:0 subsampling, standard progressive scans, optimised Huffman tables,
// no metadata. It decodes to the same pixels as a baseline file at the same
// quality.
#pragma once

#include <string>

#include "imaging/pixel_image.h"

// The integer libjpeg quality for a factor: clamp to 0.01..1.0, times 100,
// rounded.
int WicQualityFromFactor(float quality);

// Encodes `image` to `path` with the clamped quality factor. False for an
// unusable image, an image whose width * height * 3 exceeds 4,294,967,295 bytes,
// or any failure of the file or the encoder.
bool EncodeJpegWic(const PixelImage& image, const std::string& path, float quality);
