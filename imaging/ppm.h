// The binary PPM ("P6") intermediate file that the command-line encoders read.
#pragma once

#include <string>

#include "imaging/pixel_image.h"

// Writes "P6\n<width> <height>\n255\n" followed by the pixels as red, green,
// blue, rows top to bottom. False for an unusable image (no file created) or
// when any byte could not be written; a partly written file is left for the
// caller to remove.
bool WritePpm(const PixelImage& image, const std::string& path);
