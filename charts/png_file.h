// Writing an opaque image to a PNG file, tuned for charts: large flat areas of few colours.
#pragma once

#include <cstdint>
#include <string>

// Writes the width x height pixels at data (rows stride bytes apart, each pixel a native
// 32-bit 0x00RRGGBB as in a cairo RGB24 surface) as an 8-bit RGB PNG. Returns false when
// the file cannot be created or written.
bool WritePngFile(const std::string& path, const unsigned char* data, int32_t width, int32_t height,
                  int32_t stride);

// The same image as the bytes of a PNG file, appended to bytes. Returns false when libpng
// fails.
bool EncodePng(const unsigned char* data, int32_t width, int32_t height, int32_t stride,
               std::string& bytes);
