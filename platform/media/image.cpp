// JPEG through libjpeg (decompress and compress in memory) and PNG through
// libpng's simplified interface. Corrupt or truncated data never aborts: it
// gives an invalid image.
#include "platform/media/image.h"

#include "platform/base/files.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <jpeglib.h>
#include <jerror.h>
#include <png.h>

namespace image {

namespace {

// Pictures beyond this are refused rather than allocated (a forged header
// can claim gigabytes).
constexpr long long kMaxPixels = 100LL * 1000 * 1000;

bool isJpeg(const Bytes& b) {
  return b.size() >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF;
}

bool isPng(const Bytes& b) {
  static const unsigned char sig[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  return b.size() >= 8 && std::memcmp(b.data(), sig, 8) == 0;
}

struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
  bool truncated = false;
};

void jpegFail(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<JpegError*>(cinfo->err);
  std::longjmp(err->jump, 1);
}

// Warnings are not printed. Running out of data is remembered: libjpeg then
// pads the picture with grey, which is a damaged file, not a picture.
void jpegMessage(j_common_ptr cinfo, int level) {
  auto* err = reinterpret_cast<JpegError*>(cinfo->err);
  if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) err->truncated = true;
}

void jpegSilence(j_common_ptr) {}

Image decodeJpeg(const Bytes& bytes) {
  jpeg_decompress_struct cinfo;
  JpegError err;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = jpegFail;
  err.mgr.emit_message = jpegMessage;
  err.mgr.output_message = jpegSilence;
  // Everything the jump may skip lives outside this frame's registers.
  Image* volatile out = new Image;
  JSAMPLE* volatile row = nullptr;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    delete[] row;
    delete out;
    return Image{};
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
  if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK)
    jpegFail(reinterpret_cast<j_common_ptr>(&cinfo));
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  const long long w = cinfo.output_width, h = cinfo.output_height;
  if (w <= 0 || h <= 0 || w * h > kMaxPixels || cinfo.output_components != 3)
    jpegFail(reinterpret_cast<j_common_ptr>(&cinfo));
  out->width = static_cast<int>(w);
  out->height = static_cast<int>(h);
  out->pixels.resize(static_cast<size_t>(w * h));
  row = new JSAMPLE[static_cast<size_t>(w) * 3];
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW rows[1] = {row};
    const size_t y = cinfo.output_scanline;
    if (jpeg_read_scanlines(&cinfo, rows, 1) != 1) jpegFail(reinterpret_cast<j_common_ptr>(&cinfo));
    std::uint32_t* dst = out->pixels.data() + y * static_cast<size_t>(w);
    for (long long x = 0; x < w; ++x) {
      const JSAMPLE* p = row + x * 3;
      dst[x] = 0xFF000000u | (std::uint32_t(p[0]) << 16) | (std::uint32_t(p[1]) << 8) | p[2];
    }
  }
  if (err.truncated) jpegFail(reinterpret_cast<j_common_ptr>(&cinfo));
  jpeg_finish_decompress(&cinfo);
  if (err.truncated) jpegFail(reinterpret_cast<j_common_ptr>(&cinfo));
  jpeg_destroy_decompress(&cinfo);
  delete[] row;
  Image result = std::move(*out);
  delete out;
  return result;
}

Image decodePng(const Bytes& bytes) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&png, bytes.data(), bytes.size())) return Image{};
  png.format = PNG_FORMAT_RGBA;
  const long long w = png.width, h = png.height;
  if (w <= 0 || h <= 0 || w * h > kMaxPixels) {
    png_image_free(&png);
    return Image{};
  }
  std::vector<png_byte> buf(PNG_IMAGE_SIZE(png));
  if (!png_image_finish_read(&png, nullptr, buf.data(), 0, nullptr)) {
    png_image_free(&png);
    return Image{};
  }
  Image out;
  out.width = static_cast<int>(w);
  out.height = static_cast<int>(h);
  out.pixels.resize(static_cast<size_t>(w * h));
  for (size_t i = 0; i < out.pixels.size(); ++i) {
    const png_byte* p = buf.data() + i * 4;
    out.pixels[i] = (std::uint32_t(p[3]) << 24) | (std::uint32_t(p[0]) << 16) |
                    (std::uint32_t(p[1]) << 8) | p[2];
  }
  return out;
}

}  // namespace

Image decode(const Bytes& bytes) {
  if (isJpeg(bytes)) return decodeJpeg(bytes);
  if (isPng(bytes)) return decodePng(bytes);
  return Image{};
}

void pictureDimensions(const std::string& path, int* height, int* width) {
  const Image img = decode(readFile(path));
  if (height) *height = img.valid() ? img.height : 0;
  if (width) *width = img.valid() ? img.width : 0;
}

Bytes encodeJpeg(const Image& img, int quality) {
  if (!img.valid() || img.pixels.size() != size_t(img.width) * size_t(img.height)) return {};
  jpeg_compress_struct cinfo;
  JpegError err;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = jpegFail;
  err.mgr.output_message = jpegSilence;
  // The output buffer is malloc'ed by libjpeg; it lives on the heap behind a
  // pointer set before setjmp so that a failure can still free it.
  struct Dest {
    unsigned char* buf = nullptr;
    unsigned long size = 0;
  };
  std::unique_ptr<Dest> destOwner(new Dest);
  Dest* const dest = destOwner.get();
  std::vector<JSAMPLE> row(size_t(img.width) * 3);
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    std::free(dest->buf);
    return {};
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, &dest->buf, &dest->size);
  cinfo.image_width = static_cast<JDIMENSION>(img.width);
  cinfo.image_height = static_cast<JDIMENSION>(img.height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality < 1 ? 1 : quality > 100 ? 100 : quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    const std::uint32_t* src = img.pixels.data() + size_t(cinfo.next_scanline) * size_t(img.width);
    for (int x = 0; x < img.width; ++x) {
      row[size_t(x) * 3] = JSAMPLE((src[x] >> 16) & 0xFF);
      row[size_t(x) * 3 + 1] = JSAMPLE((src[x] >> 8) & 0xFF);
      row[size_t(x) * 3 + 2] = JSAMPLE(src[x] & 0xFF);
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  Bytes out(dest->buf, dest->buf + dest->size);
  jpeg_destroy_compress(&cinfo);
  std::free(dest->buf);
  return out;
}

Bytes encodePng(const Image& img) {
  if (!img.valid() || img.pixels.size() != size_t(img.width) * size_t(img.height)) return {};
  std::vector<png_byte> rgba(img.pixels.size() * 4);
  for (size_t i = 0; i < img.pixels.size(); ++i) {
    const std::uint32_t p = img.pixels[i];
    rgba[i * 4] = png_byte((p >> 16) & 0xFF);
    rgba[i * 4 + 1] = png_byte((p >> 8) & 0xFF);
    rgba[i * 4 + 2] = png_byte(p & 0xFF);
    rgba[i * 4 + 3] = png_byte(p >> 24);
  }
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(img.width);
  png.height = static_cast<png_uint_32>(img.height);
  png.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&png, nullptr, &size, 0, rgba.data(), 0, nullptr)) return {};
  Bytes out(size);
  if (!png_image_write_to_memory(&png, out.data(), &size, 0, rgba.data(), 0, nullptr)) return {};
  out.resize(size);
  return out;
}

Bytes readFile(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return {};
  Bytes out;
  unsigned char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) return {};
  return out;
}

bool writeFile(const std::string& path, const Bytes& bytes) {
  return files::replaceFile(path, std::string(bytes.begin(), bytes.end())) ==
         files::ReplaceResult::Done;
}

}  // namespace image
