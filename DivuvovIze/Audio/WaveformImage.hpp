#pragma once

#include <cstdint>
#include <vector>

namespace divuvovize {

// A width and height in points, as callers measure a view; image sizes truncate them.
struct ImageSize {
  double width = 0;
  double height = 0;
};

// A bitmap whose pixels are the raw bytes of float samples, one sample per pixel: 8 bits per
// component, 32 bits per pixel, rows of width * 4 bytes with no padding, device RGB with the
// premultiplied alpha byte first in 32-bit little-endian order (so bytes in memory run
// B, G, R, A), drawn without interpolation and with the default rendering intent. It shows the
// bit patterns of the samples, not a drawn waveform.
struct WaveformImage {
  static constexpr int bitsPerComponent = 8;
  static constexpr int bitsPerPixel = 32;

  int width = 0;
  int height = 0;
  int bytesPerRow = 0;
  // height * bytesPerRow bytes, row after row.
  std::vector<std::uint8_t> pixels;
};

} // namespace divuvovize
