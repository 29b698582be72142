// Writes the Windows program's icon file from the program icon:
//
//   salvatrix_make_icon OUT.ico
//
// Two 32 x 32 images: one of 256 colours (8 bits per pixel, palette and transparency mask), for
// displays and tools that want the form's own kind of icon, and one of 32 bits with alpha.
// Exit code 1, with a message, when the icon has more colours than a palette holds or the file
// cannot be written.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "app/program_icon.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kSize = salvatrix::kIconSize;
constexpr std::size_t kPaletteEntries = 256;
constexpr std::size_t kMaskRowBytes = (kSize / 8 + 3) / 4 * 4;
constexpr std::size_t kInfoHeaderBytes = 40;

void Put(Bytes& bytes, std::uint32_t value, int size) {
  for (int i = 0; i < size; ++i) {
    bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  }
}

std::uint32_t Pixel(int x, int y) {
  return salvatrix::ProgramIcon()[static_cast<std::size_t>(y * kSize + x)];
}

bool Transparent(std::uint32_t argb) {
  return argb >> 24 == 0;
}

/// A BITMAPINFOHEADER for an icon image: twice the height, for the colours and the mask.
void PutInfoHeader(Bytes& bytes, int bits, std::size_t image_bytes) {
  Put(bytes, kInfoHeaderBytes, 4);
  Put(bytes, kSize, 4);
  Put(bytes, 2 * kSize, 4);
  Put(bytes, 1, 2);  // planes
  Put(bytes, static_cast<std::uint32_t>(bits), 2);
  Put(bytes, 0, 4);  // BI_RGB
  Put(bytes, static_cast<std::uint32_t>(image_bytes), 4);
  Put(bytes, 0, 4);
  Put(bytes, 0, 4);
  Put(bytes, bits == 8 ? kPaletteEntries : 0, 4);  // colours used
  Put(bytes, 0, 4);
}

/// The AND mask, rows bottom-up: a bit set where the screen shows through.
void PutMask(Bytes& bytes) {
  for (int y = kSize - 1; y >= 0; --y) {
    Bytes row(kMaskRowBytes, 0);
    for (int x = 0; x < kSize; ++x) {
      if (Transparent(Pixel(x, y))) {
        row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
      }
    }
    bytes.insert(bytes.end(), row.begin(), row.end());
  }
}

bool PalettedImage(Bytes& image) {
  // Entry 0 is black: transparent pixels draw nothing over the screen the mask leaves.
  std::vector<std::uint32_t> palette = {0};
  std::vector<std::uint8_t> indices;
  for (int y = kSize - 1; y >= 0; --y) {
    for (int x = 0; x < kSize; ++x) {
      const std::uint32_t argb = Pixel(x, y);
      const std::uint32_t rgb = Transparent(argb) ? 0 : argb & 0xFFFFFF;
      std::size_t index = 0;
      while (index < palette.size() && palette[index] != rgb) {
        ++index;
      }
      if (index == palette.size()) {
        if (palette.size() == kPaletteEntries) {
          std::fprintf(stderr, "the icon has more than %zu colours\n", kPaletteEntries);
          return false;
        }
        palette.push_back(rgb);
      }
      indices.push_back(static_cast<std::uint8_t>(index));
    }
  }
  palette.resize(kPaletteEntries, 0);
  PutInfoHeader(image, 8, indices.size() + kMaskRowBytes * kSize);
  for (const std::uint32_t rgb : palette) {
    Put(image, rgb, 4);  // blue, green, red, reserved
  }
  image.insert(image.end(), indices.begin(), indices.end());
  PutMask(image);
  return true;
}

void TrueColourImage(Bytes& image) {
  PutInfoHeader(image, 32, kSize * kSize * 4 + kMaskRowBytes * kSize);
  for (int y = kSize - 1; y >= 0; --y) {
    for (int x = 0; x < kSize; ++x) {
      Put(image, Pixel(x, y), 4);  // blue, green, red, alpha
    }
  }
  PutMask(image);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: salvatrix_make_icon OUT.ico\n");
    return 1;
  }
  std::vector<Bytes> images(2);
  if (!PalettedImage(images[0])) {
    return 1;
  }
  TrueColourImage(images[1]);

  Bytes file;
  Put(file, 0, 2);
  Put(file, 1, 2);  // an icon
  Put(file, static_cast<std::uint32_t>(images.size()), 2);
  std::size_t offset = 6 + 16 * images.size();
  const int bits[] = {8, 32};
  for (std::size_t i = 0; i < images.size(); ++i) {
    file.push_back(kSize);
    file.push_back(kSize);
    file.push_back(0);  // colour count: 0 for 256 or more
    file.push_back(0);
    Put(file, 1, 2);  // planes
    Put(file, static_cast<std::uint32_t>(bits[i]), 2);
    Put(file, static_cast<std::uint32_t>(images[i].size()), 4);
    Put(file, static_cast<std::uint32_t>(offset), 4);
    offset += images[i].size();
  }
  for (const Bytes& image : images) {
    file.insert(file.end(), image.begin(), image.end());
  }

  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "%s cannot be written\n", argv[1]);
    return 1;
  }
  return 0;
}
