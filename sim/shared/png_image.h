// Pictures as PNG: the player's screenshots and the frames of the web page.
#ifndef KVN_SIM_PNG_IMAGE_H
#define KVN_SIM_PNG_IMAGE_H

#include <string>

#include "picture.h"

namespace kvn_sim {

// The part of a picture a PNG shows: all of it unless given.
struct Area {
    int x = 0, y = 0, width = -1, height = -1;
};

// Encodes `area` of `picture` as an RGB PNG into `out`; `fast` trades size
// for time (the web page's frames).  False when the area lies outside.
bool encode_png(const Picture &picture, Area area, bool fast, std::string &out);

// Reads the PNG file at `path` into `out` as 0xAARRGGBB words; false with
// `error` for a file that is no PNG or holds more than `max_pixels`, which
// is refused before its pixels are read.
bool read_png_file(const std::string &path, long max_pixels, Picture &out, std::string &error);

}  // namespace kvn_sim

#endif
