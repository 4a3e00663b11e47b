// Writes the project's demonstration RAW-like file: a small little-endian
// TIFF structure as cameras write it, with camera metadata in IFD0 and its
// Exif directory, a full-size JPEG preview (without Exif, so the extractor
// inserts one) as IFD0's strip, and a 12-bit sensor directory in IFD1.
//
//   make_sample OUTPUT
//
// The preview is a synthetic picture encoded here with libjpeg.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <jpeglib.h>

namespace {

std::vector<std::uint8_t> encode_picture(int width, int height) {
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
      double dx = x - width * 0.62, dy = y - height * 0.4;
      bool sun = dx * dx + dy * dy < (height * 0.12) * (height * 0.12);
      bool hill = y > height * 0.65 + 40 * std::sin(x * 0.01);
      if (sun) {
        p[0] = 250, p[1] = 210, p[2] = 90;
      } else if (hill) {
        p[0] = 40, p[1] = static_cast<std::uint8_t>(110 + (y % 40)), p[2] = 50;
      } else {
        p[0] = static_cast<std::uint8_t>(90 + y * 100 / height);
        p[1] = static_cast<std::uint8_t>(140 + y * 80 / height);
        p[2] = 230;
      }
    }
  }
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long out_size = 0;
  jpeg_mem_dest(&cinfo, &out, &out_size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 88, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = &rgb[static_cast<std::size_t>(cinfo.next_scanline) * width * 3];
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::vector<std::uint8_t> jpeg(out, out + out_size);
  jpeg_destroy_compress(&cinfo);
  std::free(out);
  return jpeg;
}

class Tiff {
 public:
  std::vector<std::uint8_t> bytes;
  std::size_t size() const { return bytes.size(); }
  void u16(std::uint16_t v) { put(v, 2); }
  void u32(std::uint32_t v) { put(v, 4); }
  void put(std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void patch32(std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
  std::uint32_t text(const char* s) {
    std::uint32_t at = static_cast<std::uint32_t>(size());
    bytes.insert(bytes.end(), s, s + std::strlen(s) + 1);
    if (size() & 1) bytes.push_back(0);
    return at;
  }
  std::uint32_t rational(std::uint32_t num, std::uint32_t den) {
    std::uint32_t at = static_cast<std::uint32_t>(size());
    u32(num);
    u32(den);
    return at;
  }
  struct Entry {
    std::uint16_t tag, type;
    std::uint32_t count, value;
  };
  // Writes a directory; returns the position of its next-directory word.
  std::size_t ifd(const std::vector<Entry>& entries) {
    u16(static_cast<std::uint16_t>(entries.size()));
    for (const Entry& e : entries) {
      u16(e.tag);
      u16(e.type);
      u32(e.count);
      if (e.type == 3 && e.count == 1) {
        u16(static_cast<std::uint16_t>(e.value));
        u16(0);
      } else {
        u32(e.value);
      }
    }
    std::size_t next = size();
    u32(0);
    return next;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_sample OUTPUT\n");
    return 2;
  }
  const int width = 1600, height = 1200;
  std::vector<std::uint8_t> jpeg = encode_picture(width, height);

  Tiff t;
  t.bytes = {'I', 'I', 42, 0};
  t.u32(8);
  // IFD0 goes first, its values after it: reserve by writing values first.
  std::vector<std::uint8_t> sensor(8192, 0);
  for (std::size_t i = 0; i < sensor.size(); ++i) sensor[i] = static_cast<std::uint8_t>(i * 37 + (i >> 7));

  t.bytes.resize(512, 0);  // room for IFD0 and the Exif directory
  std::uint32_t make = t.text("Veltrano");
  std::uint32_t model = t.text("Veltrano Sample Camera");
  std::uint32_t date = t.text("2026:12:01 10:30:00");
  std::uint32_t exposure = t.rational(1, 125);
  std::uint32_t fnumber = t.rational(56, 10);
  std::uint32_t focal = t.rational(35, 1);
  std::uint32_t bits = static_cast<std::uint32_t>(t.size());
  t.u16(8), t.u16(8), t.u16(8);
  while (t.size() % 4) t.bytes.push_back(0);
  std::uint32_t preview_at = static_cast<std::uint32_t>(t.size());
  t.bytes.insert(t.bytes.end(), jpeg.begin(), jpeg.end());
  while (t.size() % 4) t.bytes.push_back(0);
  std::uint32_t sensor_at = static_cast<std::uint32_t>(t.size());
  t.bytes.insert(t.bytes.end(), sensor.begin(), sensor.end());
  std::uint32_t ifd1 = static_cast<std::uint32_t>(t.size());
  t.ifd({{256, 4, 1, 4000}, {257, 4, 1, 3000}, {258, 3, 1, 12}, {259, 3, 1, 1}, {262, 3, 1, 32803},
         {273, 4, 1, sensor_at}, {277, 3, 1, 1}, {279, 4, 1, static_cast<std::uint32_t>(sensor.size())}});

  std::vector<std::uint8_t> tail(t.bytes.begin() + 512, t.bytes.end());
  t.bytes.resize(8);
  std::uint32_t exif_at = 8 + 2 + 13 * 12 + 4;
  std::size_t next = t.ifd({{256, 4, 1, static_cast<std::uint32_t>(width)},
                            {257, 4, 1, static_cast<std::uint32_t>(height)},
                            {258, 3, 3, bits},
                            {259, 3, 1, 6},
                            {262, 3, 1, 6},
                            {271, 2, 9, make},
                            {272, 2, 23, model},
                            {273, 4, 1, preview_at},
                            {274, 3, 1, 1},
                            {277, 3, 1, 3},
                            {279, 4, 1, static_cast<std::uint32_t>(jpeg.size())},
                            {306, 2, 20, date},
                            {34665, 4, 1, exif_at}});
  t.patch32(next, ifd1);
  t.ifd({{33434, 5, 1, exposure}, {33437, 5, 1, fnumber}, {34855, 3, 1, 200}, {37386, 5, 1, focal}});
  t.bytes.resize(512, 0);
  t.bytes.insert(t.bytes.end(), tail.begin(), tail.end());

  std::FILE* f = std::fopen(argv[1], "wb");
  if (!f || std::fwrite(t.bytes.data(), 1, t.size(), f) != t.size() || std::fclose(f) != 0) {
    std::fprintf(stderr, "make_sample: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
