#include "charts/png_file.h"

#include <png.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// libpng reports errors by longjmp to the setjmp of the writer; warnings are dropped.
void IgnoreWarning(png_structp, png_const_charp) {}

void AppendToString(png_structp png, png_bytep data, png_size_t length) {
  static_cast<std::string*>(png_get_io_ptr(png))
      ->append(reinterpret_cast<const char*>(data), length);
}

void FlushNothing(png_structp) {}

// Flat colours compress well at the fastest level; the Up filter turns the runs of identical
// rows of a chart into zeros.
void WriteRows(png_structp png, png_infop info, const unsigned char* data, int32_t width,
               int32_t height, int32_t stride, png_byte* row) {
  png_set_compression_level(png, Z_BEST_SPEED);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE,
               PNG_FILTER_TYPE_BASE);
  png_write_info(png, info);
  for (int32_t y = 0; y < height; ++y) {
    const unsigned char* pixels = data + static_cast<size_t>(y) * static_cast<size_t>(stride);
    png_byte* out = row;
    for (int32_t x = 0; x < width; ++x) {
      uint32_t pixel;
      std::memcpy(&pixel, pixels + 4 * static_cast<size_t>(x), sizeof(pixel));
      out[0] = static_cast<png_byte>(pixel >> 16);
      out[1] = static_cast<png_byte>(pixel >> 8);
      out[2] = static_cast<png_byte>(pixel);
      out += 3;
    }
    png_write_row(png, row);
  }
  png_write_end(png, nullptr);
}

}  // namespace

bool WritePngFile(const std::string& path, const unsigned char* data, int32_t width, int32_t height,
                  int32_t stride) {
  if (width <= 0 || height <= 0) return false;
  // Everything with a destructor is made before the setjmp below, so that a longjmp back to
  // it skips none.
  std::vector<png_byte> row(static_cast<size_t>(width) * 3);
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, IgnoreWarning);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (png == nullptr || info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return false;
  }
  png_init_io(png, file);
  WriteRows(png, info, data, width, height, stride, row.data());
  png_destroy_write_struct(&png, &info);
  const bool flushed = std::fflush(file) == 0 && std::ferror(file) == 0;
  return std::fclose(file) == 0 && flushed;
}

bool EncodePng(const unsigned char* data, int32_t width, int32_t height, int32_t stride,
               std::string& bytes) {
  if (width <= 0 || height <= 0) return false;
  std::vector<png_byte> row(static_cast<size_t>(width) * 3);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, IgnoreWarning);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (png == nullptr || info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, &bytes, AppendToString, FlushNothing);
  WriteRows(png, info, data, width, height, stride, row.data());
  png_destroy_write_struct(&png, &info);
  return true;
}
