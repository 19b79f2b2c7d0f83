// stb_image compiled into the BMP and GIF fuzz targets, so its code is
// instrumented for coverage like ours (the system's shared library is not).
// The same header version as the shared library, so behaviour is identical.
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
