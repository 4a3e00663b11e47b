// Makes real JPEG files at test time with libjpeg: a picture with smooth
// colour gradients (every region of it has its own mean colour, so a flipped,
// shifted or wrongly scaled copy shows) under a grid of thin lines and pixel
// noise (detail that a scaler must average and an encoder must spend bytes
// on), with the metadata segments cameras and phones write: Exif first, or a
// JFIF APP0 first and no Exif; optionally an ICC profile and an XMP packet.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "support/byte_writer.h"

namespace test_jpeg {

struct JpegSpec {
  int width = 320, height = 240;
  int quality = 90;
  int hSampling = 2, vSampling = 2;  // luma sampling factors: 2,2 = 4:2:0; 2,1 = 4:2:2; 1,1 = 4:4:4
  bool progressive = false;
  bool exif = true;   // Exif APP1 right after SOI, as cameras write it
  bool jfif = false;  // JFIF APP0 right after SOI (phones, editors)
  bool icc = false;   // an APP2 ICC profile
  bool xmp = false;   // an APP1 XMP packet
  std::string make = "Testcam", model = "Testcam TC-1";
  std::uint32_t seed = 1;  // varies the noise, so pictures differ
};

namespace detail {

inline std::vector<std::uint8_t> exif_payload(const JpegSpec& s) {
  // "Exif\0\0", then a little-endian TIFF: IFD0 with make, model,
  // orientation and the Exif IFD, which holds the capture time.
  ByteWriter w(true);
  w.text(std::string("Exif\0\0", 6));
  const std::string date = "2024:05:06 07:08:09";
  const std::uint32_t ifd0 = 8, ifd0_size = 2 + 4 * 12 + 4, exif_ifd = ifd0 + ifd0_size, exif_size = 2 + 12 + 4;
  const std::uint32_t make_at = exif_ifd + exif_size;
  const std::uint32_t model_at = make_at + static_cast<std::uint32_t>(s.make.size() + 1);
  const std::uint32_t date_at = model_at + static_cast<std::uint32_t>(s.model.size() + 1);
  w.text("II").u16(42).u32(ifd0);
  w.u16(4);
  w.u16(271).u16(2).u32(static_cast<std::uint32_t>(s.make.size() + 1)).u32(make_at);
  w.u16(272).u16(2).u32(static_cast<std::uint32_t>(s.model.size() + 1)).u32(model_at);
  w.u16(274).u16(3).u32(1).u16(1).u16(0);
  w.u16(34665).u16(4).u32(1).u32(exif_ifd);
  w.u32(0);
  w.u16(1);
  w.u16(36867).u16(2).u32(static_cast<std::uint32_t>(date.size() + 1)).u32(date_at);
  w.u32(0);
  w.text(s.make).u8(0).text(s.model).u8(0).text(date).u8(0);
  return std::move(w.bytes());
}

// A display-class RGB profile: the header and one tag, the white point.
inline std::vector<std::uint8_t> icc_payload() {
  ByteWriter w(false);
  w.text(std::string("ICC_PROFILE\0", 12)).u8(1).u8(1);
  w.u32(164).text("none").u32(0x04300000).text("mntr").text("RGB ").text("XYZ ");
  w.zeros(12).text("acsp").zeros(28);
  w.u32(0x0000F6D6).u32(0x00010000).u32(0x0000D32D);  // D50 illuminant
  w.text("vltr").zeros(44);
  w.u32(1).text("wtpt").u32(144).u32(20);
  w.text("XYZ ").u32(0).u32(0x0000F6D6).u32(0x00010000).u32(0x0000D32D);
  return std::move(w.bytes());
}

inline std::vector<std::uint8_t> xmp_payload() {
  ByteWriter w;
  w.text(std::string("http://ns.adobe.com/xap/1.0/\0", 29));
  w.text(
      "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
      "<rdf:Description rdf:about='' xmlns:xmp='http://ns.adobe.com/xap/1.0/' xmp:Rating='3'/>"
      "</rdf:RDF></x:xmpmeta>");
  return std::move(w.bytes());
}

inline std::uint8_t clamp(int v) { return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// Row y of the picture, RGB.
inline void picture_row(const JpegSpec& s, int y, std::vector<std::uint8_t>& row) {
  for (int x = 0; x < s.width; ++x) {
    std::uint32_t h = (static_cast<std::uint32_t>(x) * 73856093u) ^ (static_cast<std::uint32_t>(y) * 19349663u) ^
                      (s.seed * 83492791u);
    h ^= h >> 13;
    h *= 0x5BD1E995u;
    const int noise = static_cast<int>((h >> 24) % 25) - 12;
    const int line = (x % 16 == 0 || y % 16 == 0) ? -60 : 0;
    const int r = x * 255 / s.width, g = y * 255 / s.height, b = 255 - (x + y) * 255 / (s.width + s.height);
    row[3 * x] = clamp(r + noise + line);
    row[3 * x + 1] = clamp(g + noise + line);
    row[3 * x + 2] = clamp(b + noise + line);
  }
}

}  // namespace detail

// The encoded file. A libjpeg error here is a fault of the spec given, and
// ends the test program.
inline std::vector<std::uint8_t> encode(const JpegSpec& s) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr jerr{};
  cinfo.err = jpeg_std_error(&jerr);
  jerr.error_exit = [](j_common_ptr c) {
    (*c->err->output_message)(c);
    std::abort();
  };
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, &out, &size);
  cinfo.image_width = static_cast<JDIMENSION>(s.width);
  cinfo.image_height = static_cast<JDIMENSION>(s.height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, s.quality, TRUE);
  cinfo.comp_info[0].h_samp_factor = s.hSampling;
  cinfo.comp_info[0].v_samp_factor = s.vSampling;
  cinfo.write_JFIF_header = s.jfif ? TRUE : FALSE;
  if (s.progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  auto marker = [&](int code, const std::vector<std::uint8_t>& payload) {
    jpeg_write_marker(&cinfo, code, payload.data(), static_cast<unsigned>(payload.size()));
  };
  if (s.exif) marker(JPEG_APP0 + 1, detail::exif_payload(s));
  if (s.icc) marker(JPEG_APP0 + 2, detail::icc_payload());
  if (s.xmp) marker(JPEG_APP0 + 1, detail::xmp_payload());
  std::vector<std::uint8_t> row(static_cast<std::size_t>(s.width) * 3);
  while (cinfo.next_scanline < cinfo.image_height) {
    detail::picture_row(s, static_cast<int>(cinfo.next_scanline), row);
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<std::uint8_t> result(out, out + size);
  std::free(out);
  return result;
}

// The pictures the job, command and imaging tests stand on, named after the
// kind of camera file each imitates. Sizes keep the aspect ratios (and so
// the scaled sizes) of full-size previews at a test-friendly scale.
inline JpegSpec landscape() {  // 3:2 camera preview, 4:2:2, Exif first
  JpegSpec s;
  s.width = 1504, s.height = 1000, s.hSampling = 2, s.vSampling = 1;
  return s;
}
inline JpegSpec portrait() {  // 3:4 compact camera, 4:2:0, Exif, ICC
  JpegSpec s;
  s.width = 864, s.height = 1152, s.icc = true, s.seed = 2;
  return s;
}
inline JpegSpec phone() {  // 4:3 phone picture: JFIF first, no Exif, ICC and XMP
  JpegSpec s;
  s.width = 648, s.height = 484, s.exif = false, s.jfif = true, s.icc = true, s.xmp = true, s.seed = 3;
  s.make = "Phone";
  return s;
}
inline JpegSpec three_two() {  // 3:2 preview, 4:2:0, Exif first
  JpegSpec s;
  s.width = 1200, s.height = 800, s.seed = 4;
  return s;
}
inline JpegSpec compact() {  // 4:3 compact camera, 4:4:4, Exif first
  JpegSpec s;
  s.width = 1000, s.height = 750, s.hSampling = 1, s.vSampling = 1, s.seed = 5;
  return s;
}

// One of the pictures above, encoded once per test program (tests run on
// one thread).
inline const std::vector<std::uint8_t>& encoded(JpegSpec (*picture)()) {
  static std::map<JpegSpec (*)(), std::vector<std::uint8_t>> cache;
  auto it = cache.find(picture);
  if (it == cache.end()) it = cache.emplace(picture, encode(picture())).first;
  return it->second;
}

}  // namespace test_jpeg
