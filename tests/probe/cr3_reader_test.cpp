// Canon CR3 files through the whole probe: which JPEG is chosen when the
// full-size track, PRVW and THMB are present, missing or damaged; boxes
// whose sizes lie; the metadata of CMT1/CMT2/CMT4 in either byte order.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "probe/probe.h"
#include "probe/probe_input.h"
#include "probe/readers.h"
#include "support/probe_fixture.h"
#include "tests/probe/core_builders.h"
#include "tests/probe/cr3_builder.h"

namespace {

using cr3_test::box;
using cr3_test::box64;
using cr3_test::build_cr3;
using cr3_test::Bytes;
using cr3_test::Cr3Parts;

const Bytes kFull = core_test::make_jpeg(5472, 3648, 3, core_test::JpegApp::kNone, {}, 3000, 0x21);
const Bytes kPreview = core_test::make_jpeg(1620, 1080, 3, core_test::JpegApp::kNone, {}, 1500, 0x42);
const Bytes kThumb = core_test::make_jpeg(160, 120, 3, core_test::JpegApp::kNone, {}, 200, 0x63);

std::size_t find_text(const Bytes& b, const char* text, std::size_t from = 0) {
  const std::size_t n = std::strlen(text);
  for (std::size_t i = from; i + n <= b.size(); ++i) {
    if (std::memcmp(&b[i], text, n) == 0) return i;
  }
  ADD_FAILURE() << text << " not in the file";
  return 0;
}

void put_be32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = std::uint8_t(v >> (8 * (3 - i)));
}

// The size field of the first box of a type (four bytes before its type).
void set_box_size(Bytes& b, const char* type, std::uint32_t size) { put_be32(b, find_text(b, type) - 4, size); }

Cr3Parts all_parts() {
  Cr3Parts p;
  p.full_size = kFull;
  p.preview = kPreview;
  p.thumbnail = kThumb;
  return p;
}

// Nested boxes of one type, `levels` deep.
Bytes nested(const char* type, int levels) {
  Bytes b;
  for (int i = 0; i < levels; ++i) b = box(type, b);
  return b;
}

enum class Chosen { kFull, kPreview, kThumb, kNone };

struct ChoiceCase {
  const char* name;
  std::function<Bytes()> build;
  Chosen chosen;
  const char* make;
};

const ChoiceCase kChoiceCases[] = {
    {"all three: the full-size track", [] { return build_cr3(all_parts()); }, Chosen::kFull, "Canon"},
    {"full-size JPEG cut off by the end of the file",
     [] {
       Bytes b = build_cr3(all_parts());
       b.resize(b.size() - 100);
       return b;
     },
     Chosen::kPreview, "Canon"},
    {"full-size sample is not a JPEG",
     [] {
       Cr3Parts p = all_parts();
       p.full_size = Bytes(40, '<');
       return build_cr3(p);
     },
     Chosen::kPreview, "Canon"},
    {"PRVW only",
     [] {
       Cr3Parts p;
       p.preview = kPreview;
       return build_cr3(p);
     },
     Chosen::kPreview, "Canon"},
    {"THMB only",
     [] {
       Cr3Parts p;
       p.thumbnail = kThumb;
       return build_cr3(p);
     },
     Chosen::kThumb, "Canon"},
    {"PRVW states a JPEG longer than its box",
     [] {
       Cr3Parts p = all_parts();
       p.full_size.clear();
       Bytes b = build_cr3(p);
       put_be32(b, find_text(b, "PRVW") + 4 + 12, static_cast<std::uint32_t>(kPreview.size() + 1));
       return b;
     },
     Chosen::kThumb, "Canon"},
    {"PRVW box larger than its uuid box",
     [] {
       Cr3Parts p = all_parts();
       p.full_size.clear();
       Bytes b = build_cr3(p);
       set_box_size(b, "PRVW", static_cast<std::uint32_t>(8 + 16 + kPreview.size() + 9));
       return b;
     },
     Chosen::kThumb, "Canon"},
    {"size 0 inside a box ends that walk only",
     [] {
       Cr3Parts p = all_parts();
       p.canon_extra = box("free", {}, 0);
       return build_cr3(p);
     },
     Chosen::kFull, "Canon"},
    {"size 0 before THMB hides it",
     [] {
       Cr3Parts p;
       p.thumbnail = kThumb;
       p.canon_extra = box("free", {}, 0);
       return build_cr3(p);
     },
     Chosen::kNone, "Canon"},
    {"size smaller than the header (a loop if taken)",
     [] {
       Cr3Parts p;
       p.thumbnail = kThumb;
       p.canon_extra = box("free", {}, 4);
       return build_cr3(p);
     },
     Chosen::kNone, "Canon"},
    {"size 1 with a 64-bit size below its header",
     [] {
       Cr3Parts p;
       p.thumbnail = kThumb;
       p.canon_extra = {0, 0, 0, 1, 'f', 'r', 'e', 'e', 0, 0, 0, 0, 0, 0, 0, 8};
       return build_cr3(p);
     },
     Chosen::kNone, "Canon"},
    {"size 1 with a sound 64-bit size is followed",
     [] {
       Cr3Parts p;
       p.thumbnail = kThumb;
       p.canon_extra = box64("free", Bytes(20, 0));
       return build_cr3(p);
     },
     Chosen::kThumb, "Canon"},
    {"mdat of size 0 runs to the end of the file",
     [] {
       Bytes b = build_cr3(all_parts());
       set_box_size(b, "mdat", 0);
       return b;
     },
     Chosen::kFull, "Canon"},
    {"moov larger than the file ends the top-level walk",
     [] {
       Bytes b = build_cr3(all_parts());
       set_box_size(b, "moov", static_cast<std::uint32_t>(b.size()));
       return b;
     },
     Chosen::kNone, ""},
    {"only the first track is the full-size JPEG; deep nesting is cut",
     [] {
       Cr3Parts p = all_parts();
       p.movie_extra = box("trak", nested("mdia", 3000));
       return build_cr3(p);
     },
     Chosen::kPreview, "Canon"},
    {"a flood of boxes stops the walk",
     [] {
       Cr3Parts p = all_parts();
       for (unsigned i = 0; i <= probe_limits::kMaxCr3Boxes; ++i) p.movie_extra = cr3_test::cat({p.movie_extra, box("free", {})});
       return build_cr3(p);
     },
     Chosen::kThumb, "Canon"},
};

TEST(Cr3Reader, ChoosesTheLargestWholeJpeg) {
  for (const ChoiceCase& c : kChoiceCases) {
    SCOPED_TRACE(c.name);
    const Bytes file = c.build();
    core_test::TempFile temp("cr3_choice.cr3", file);
    const core_test::Extracted got = core_test::extract(temp.native());
    {
      ScopedProbe probe(file);
      run_probe();
      EXPECT_STREQ(g_probe.camera_make, c.make);
    }
    if (c.chosen == Chosen::kNone) {
      EXPECT_EQ(got.ok, 0);
      EXPECT_EQ(probe_has_jpeg_preview(temp.native()), 0);
      continue;
    }
    const Bytes& want = c.chosen == Chosen::kFull ? kFull : c.chosen == Chosen::kPreview ? kPreview : kThumb;
    ASSERT_EQ(got.ok, 1);
    EXPECT_EQ(probe_has_jpeg_preview(temp.native()), 1);
    // No Exif in the JPEG: the inserted segment, then the JPEG from byte 2.
    ASSERT_EQ(got.data.size(), want.size() + 1386);
    EXPECT_TRUE(std::equal(want.begin() + 2, want.end(), got.data.begin() + 1388));
  }
}

TEST(Cr3Reader, MetadataFromEachCmtInEitherByteOrder) {
  for (bool little : {true, false}) {
    SCOPED_TRACE(little ? "II" : "MM");
    Cr3Parts p = all_parts();
    p.little_cmt = little;
    p.orientation = 6;
    const Bytes file = build_cr3(p);
    ProbeReport r;
    core_test::TempFile temp("cr3_meta.cr3", file);
    ASSERT_TRUE(probe_report(temp.native(), r));
    EXPECT_EQ(r.make, "Canon");
    EXPECT_EQ(r.model, "EOS R6");
    EXPECT_EQ(r.capture_time, 1757190288);  // DateTimeOriginal of CMT2, read as UTC
    EXPECT_FLOAT_EQ(r.exposure, 0.01f);
    EXPECT_FLOAT_EQ(r.f_number, 2.8f);
    EXPECT_FLOAT_EQ(r.iso, 25600);
    EXPECT_FLOAT_EQ(r.focal_length, 100);
    EXPECT_EQ(r.exif_orientation, 6);
    ASSERT_TRUE(r.has_gps);
    EXPECT_NEAR(r.gps_latitude, 37 + 23 / 60.0, 1e-9);
    EXPECT_NEAR(r.gps_longitude, 122 + 4 / 60.0 + 30 / 3600.0, 1e-9);
    EXPECT_EQ(r.gps_latitude_ref, 'N');
    EXPECT_EQ(r.gps_longitude_ref, 'W');
    EXPECT_EQ(r.preview_width, 5472u);
    EXPECT_EQ(r.preview_height, 3648u);
    EXPECT_EQ(core_test::extract(temp.native()).rotated, 1u);
  }
}

TEST(Cr3Reader, HeaderlessSizeStillWinsOverTheBrand) {
  // A file of a length the headerless table knows keeps its old answer.
  Bytes file = build_cr3(all_parts());
  ASSERT_LT(file.size(), 62464u);
  file.resize(62464, 0);
  ScopedProbe probe(file);
  run_probe();
  EXPECT_STREQ(g_probe.camera_make, "Kodak");
  EXPECT_STREQ(g_probe.camera_model, "DC20");
}

}  // namespace
