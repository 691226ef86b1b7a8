// The PNG writer: every pixel read back as written, and failures reported.
#include <cairo.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "charts/png_file.h"
#include "run_program.h"

TEST(PngFile, PixelsReadBackExactly) {
  const std::string dir = MakeTempDir();
  const int32_t width = 37, height = 11, stride = 4 * 40;  // rows padded past their pixels
  std::vector<unsigned char> data(static_cast<size_t>(stride) * height, 0xAB);
  uint32_t state = 7;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      state = state * 1664525u + 1013904223u;
      const uint32_t pixel = state >> 8;  // 0x00RRGGBB
      std::memcpy(&data[static_cast<size_t>(y) * stride + 4 * x], &pixel, 4);
    }
  }
  const std::string path = dir + "/p.png";
  ASSERT_TRUE(WritePngFile(path, data.data(), width, height, stride));

  cairo_surface_t* back = cairo_image_surface_create_from_png(path.c_str());
  ASSERT_EQ(cairo_surface_status(back), CAIRO_STATUS_SUCCESS);
  ASSERT_EQ(cairo_image_surface_get_width(back), width);
  ASSERT_EQ(cairo_image_surface_get_height(back), height);
  const unsigned char* read = cairo_image_surface_get_data(back);
  const int readStride = cairo_image_surface_get_stride(back);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      uint32_t written, got;
      std::memcpy(&written, &data[static_cast<size_t>(y) * stride + 4 * x], 4);
      std::memcpy(&got, read + static_cast<size_t>(y) * readStride + 4 * x, 4);
      ASSERT_EQ(got & 0xffffff, written) << x << "," << y;
    }
  }
  cairo_surface_destroy(back);

  EXPECT_FALSE(WritePngFile(dir + "/no/such/folder.png", data.data(), width, height, stride));
  EXPECT_FALSE(WritePngFile(dir + "/empty.png", data.data(), 0, height, stride));
  EXPECT_FALSE(WritePngFile("/dev/full", data.data(), width, height, stride));
}
