// Pictures: JPEG decoded with libjpeg, PNG with libpng's simplified reader.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/text.h"

namespace image {

using model::Bytes;

// A decoded picture: 32-bit rows, 0xAARRGGBB per pixel.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
  bool valid() const { return width > 0 && height > 0; }
};

// Decodes JPEG or PNG bytes (recognised by their signature); an invalid
// image when the bytes are neither or cannot be decoded.
Image decode(const Bytes& bytes);

// Height and width of the picture in a file; 0 and 0 when it cannot be decoded.
void pictureDimensions(const std::string& path, int* height, int* width);

// Encodes 24-bit RGB as JPEG (the preparation and artwork tools).
Bytes encodeJpeg(const Image& img, int quality);
// Encodes as PNG with alpha (the artwork tool).
Bytes encodePng(const Image& img);

// Whole-file read into bytes (empty when unreadable) and write (the file
// replaced whole, never through a symbolic link; false on failure, and an
// earlier file of that name is then left as it was).
Bytes readFile(const std::string& path);
bool writeFile(const std::string& path, const Bytes& bytes);

}  // namespace image
