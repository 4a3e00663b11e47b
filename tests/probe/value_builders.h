// Builders of RAW-like files for the tests of values as recorded and of the
// full Exif: a TIFF whose IFD0 strip is the preview with an Exif directory
// of the caller's entries, an MRW whose TTW directory carries the camera's
// orientation and a maker-note preview, a Panasonic RW2 whose JPEG carries
// the richer Exif, a CRW with shot information, and previews with Exif after
// a JFIF segment.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/byte_writer.h"
#include "tests/probe/container_builders.h"
#include "tests/probe/core_builders.h"

namespace value_builders {

using core_test::Bytes;
using core_test::Entry;
using core_test::Tiff;

// A plain preview: JFIF first, no Exif.
inline Bytes plain_preview() { return core_test::make_jpeg(320, 240, 3, core_test::JpegApp::kJfif, {}, 400); }

// A camera JPEG of 320x240 whose Exif APP1 follows its JFIF APP0: IFD0 with
// the given entries (and Orientation 1) and an Exif directory of its own.
inline Bytes jfif_then_exif_preview(const std::function<std::vector<Entry>(Tiff&)>& ifd0,
                                    const std::function<std::vector<Entry>(Tiff&)>& exif) {
  Tiff own;
  std::vector<Entry> entries = ifd0(own);
  entries.push_back(own.long_(34665, 0));
  auto d = own.dir(entries);
  own.patch32(d.value_field.back(), own.here());
  own.dir(exif(own));
  Bytes with_exif = core_test::make_jpeg(320, 240, 3, core_test::JpegApp::kExif, own.bytes(), 400);
  const Bytes jfif = {0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
  with_exif.insert(with_exif.begin() + 2, jfif.begin(), jfif.end());
  return with_exif;
}

// A TIFF RAW: IFD0 holds make, model, the preview as its strip and a
// pointer to an Exif directory; `fill` adds entries to both (IFD0's are
// sorted by tag, the Exif directory's stay in the order given).
inline Bytes tiff_raw(const std::function<void(Tiff&, std::vector<Entry>& ifd0, std::vector<Entry>& exif)>& fill,
                      const Bytes& preview = plain_preview(), const std::string& make = "Canon",
                      const std::string& model = "Canon EOS 5D") {
  Tiff t;
  std::vector<Entry> ifd0 = {t.ascii(271, make), t.ascii(272, model), t.long_(273, 0),
                             t.long_(279, static_cast<std::uint32_t>(preview.size())), t.long_(34665, 0)};
  std::vector<Entry> exif;
  fill(t, ifd0, exif);
  std::stable_sort(ifd0.begin(), ifd0.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
  auto index = [&](std::uint16_t tag) {
    return static_cast<std::size_t>(
        std::find_if(ifd0.begin(), ifd0.end(), [&](const Entry& e) { return e.tag == tag; }) - ifd0.begin());
  };
  auto d = t.dir(ifd0);
  t.patch32(d.value_field[index(34665)], t.here());
  t.dir(exif);
  t.patch32(d.value_field[index(273)], t.append(preview));
  return t.bytes();
}

// A Minolta MRW: the PRD block, then the TTW block holding a big-endian
// TIFF (make, model, Orientation, an Exif directory whose maker note gives
// the preview by tags 136/137).
inline Bytes mrw(std::uint16_t orientation, const Bytes& preview = plain_preview()) {
  Tiff t(false);
  ByteWriter note(false);
  note.u16(2).u16(136).u16(4).u32(1).u32(0).u16(137).u16(4).u32(1).u32(static_cast<std::uint32_t>(preview.size()));
  note.u32(0);
  auto d0 = t.dir({t.ascii(271, "Konica Minolta Camera, Inc."), t.ascii(272, "DiMAGE A2"),
                   t.short_(274, orientation), t.ascii(306, "2004:11:18 23:14:58"), t.long_(34665, 0)});
  t.patch32(d0.value_field[4], t.here());
  auto ex = t.dir({t.rational(33434, 1, 5), t.rational(33437, 28, 10), t.ascii(36867, "2004:11:18 23:14:58"),
                   t.raw(37500, 7, static_cast<std::uint32_t>(note.size()), note.bytes())});
  const Bytes& b = t.bytes();
  const std::size_t f = ex.value_field[3];
  const std::uint32_t note_at = std::uint32_t{b[f]} << 24 | b[f + 1] << 16 | b[f + 2] << 8 | b[f + 3];
  t.patch32(note_at + 2 + 8, t.append(preview));
  const Bytes tiff = t.bytes();
  ByteWriter w(false);
  w.u8(0).text("MRM").u32(static_cast<std::uint32_t>(8 + 24 + 8 + tiff.size()));
  w.u8(0).text("PRD").u32(24).zeros(8).u16(2448).u16(3272).zeros(12);
  w.u8(0).text("TTW").u32(static_cast<std::uint32_t>(tiff.size())).raw(tiff);
  w.zeros(512);
  return w.bytes();
}

// A Panasonic RW2 ("IIU" header): IFD0 with Panasonic's own tags below
// 0x0120 (0x011a among them, a SHORT that is no XResolution), make and
// model, the JPEG as tag 46 and a poor Exif directory (exposure 1/250,
// f/4, DateTimeOriginal). The JPEG's own Exif is richer (ISO, ColorSpace,
// an Interop directory) and its exposure, 1/200, disagrees.
inline Bytes rw2() {
  Bytes jpeg = core_test::make_jpeg(320, 240, 3, core_test::JpegApp::kNone, {}, 400);
  {
    Tiff own;
    auto d = own.dir({own.ascii(271, "Panasonic"), own.ascii(272, "DMC-GH5"), own.short_(274, 1),
                      own.rational(282, 180, 1), own.rational(283, 180, 1), own.short_(296, 2),
                      own.ascii(306, "2019:05:01 10:20:30"), own.long_(34665, 0)});
    own.patch32(d.value_field[7], own.here());
    auto e = own.dir({own.rational(33434, 1, 200), own.rational(33437, 4, 1), own.short_(34855, 80),
                      own.ascii(36867, "2019:05:01 10:20:30"), own.short_(40961, 1), own.long_(40965, 0)});
    own.patch32(e.value_field[5], own.here());
    own.dir({own.ascii(1, "R98"), own.raw(2, 7, 4, {'0', '1', '0', '0'})});
    jpeg = core_test::make_jpeg(320, 240, 3, core_test::JpegApp::kExif, own.bytes(), 400);
  }
  Tiff t;
  t.patch16(2, 0x55);
  auto d = t.dir({t.short_(2, 3724), t.short_(23, 80), t.raw(46, 7, static_cast<std::uint32_t>(jpeg.size()), jpeg),
                  t.ascii(271, "Panasonic"), t.ascii(272, "DMC-GH5"), t.short_(274, 1), t.short_(0x011a, 1),
                  t.long_(34665, 0)});
  t.patch32(d.value_field[7], t.here());
  t.dir({t.rational(33434, 1, 250), t.rational(33437, 4, 1), t.ascii(36867, "2019:05:01 10:20:30")});
  return t.bytes();
}

// A CRW: names, capture time (0x180E), shot information (0x102A: target
// aperture and exposure in words 4 and 5, the recorded ones in words 21
// and 22, Canon's 1/32 EV codes in which 12 and 20 mean a third and two
// thirds) and the JPEG.
inline Bytes crw(const Bytes& preview = plain_preview()) {
  const Bytes names = text_bytes(std::string("Canon\0Canon EOS D30\0", 20));
  ByteWriter shot(true);
  for (int i = 0; i < 25; ++i) {
    const int word = i == 4 ? 159 : i == 5 ? -74 : i == 21 ? 160 : i == 22 ? -76 : 0;
    shot.u16(static_cast<std::uint16_t>(word));
  }
  ByteWriter time(true);
  time.u32(1514811812).u32(0).u32(0);  // 2018:01:01 13:03:32
  return build_crw(build_ciff_heap({{0x080A, names}, {0x102A, shot.bytes()}, {0x180E, time.bytes()},
                                    {0x2007, preview}}));
}

// A RAF: the header's preview JPEG at 256 and an empty record directory;
// the camera's Exif is the preview's own.
inline Bytes raf(const Bytes& jpeg) {
  ByteWriter w(false);
  w.text("FUJIFILMCCD-RAW 0201FF383501");
  w.pad_to(84).u32(256).u32(static_cast<std::uint32_t>(jpeg.size())).u32(200).pad_to(100).u32(0);
  w.pad_to(200).u32(0);
  w.pad_to(256).raw(jpeg).zeros(64);
  return w.bytes();
}

// A camera JPEG whose Exif APP1 comes right after its start marker: IFD0
// with make, model and an Exif directory with an exposure of 1/500 s and a
// maker note.
inline Bytes camera_exif_preview() {
  Tiff own(false);
  auto d = own.dir({own.ascii(271, "FUJIFILM"), own.ascii(272, "X-T5"), own.long_(34665, 0)});
  own.patch32(d.value_field[2], own.here());
  own.dir({own.rational(33434, 1, 500), own.rational(33437, 56, 10),
           own.raw(37500, 7, 16, text_bytes(std::string("FUJIFILM\x0C\0\0\0\0\0\0\0", 16)))});
  return core_test::make_jpeg(320, 240, 3, core_test::JpegApp::kExif, own.bytes(), 400);
}

}  // namespace value_builders
