// X3F section directories and Leaf metadata packets.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "probe/readers.h"
#include "support/probe_fixture.h"
#include "tests/probe/container_builders.h"

namespace {

constexpr std::uint32_t kImag = 0x47414D49;
constexpr std::uint32_t kIma2 = 0x32414D49;
constexpr std::uint32_t kProp = 0x504F5250;
constexpr std::uint32_t kCamf = 0x464D4143;

struct Section {
  std::uint32_t type;
  std::vector<std::uint8_t> bytes;  // from the section mark on
};

Section image_section(std::uint32_t width, std::uint32_t height, const std::vector<std::uint8_t>& data,
                      std::uint32_t type = kImag) {
  ByteWriter w(true);
  w.text("SECi").zeros(12).u32(width).u32(height).u32(0).raw(data);
  return {type, w.bytes()};
}

std::vector<std::uint8_t> jpeg_bytes(std::size_t n) {
  std::vector<std::uint8_t> b(n, 0x11);
  b[0] = 0xFF;
  b[1] = 0xD8;
  return b;
}

Section property_section(const std::vector<std::pair<std::string, std::string>>& props) {
  ByteWriter texts(true);
  std::vector<std::uint32_t> index;
  for (const auto& [name, value] : props) {
    for (const std::string* s : {&name, &value}) {
      index.push_back(static_cast<std::uint32_t>(texts.size() / 2));
      for (char c : *s) texts.u16(static_cast<std::uint8_t>(c));
      texts.u16(0);
    }
  }
  ByteWriter w(true);
  w.text("SECp").u32(0).u32(static_cast<std::uint32_t>(props.size())).zeros(12);
  for (std::uint32_t i : index) w.u32(i);
  w.raw(texts.bytes());
  return {kProp, w.bytes()};
}

// An X3F file: header with the rotation word, sections, then the section
// directory and its offset in the last four bytes.
std::vector<std::uint8_t> build_x3f(const std::vector<Section>& sections, std::uint32_t rotation = 0,
                                    const char* directory_mark = "SECd") {
  ByteWriter w(true);
  w.text("FOVb").pad_to(36).u32(rotation).pad_to(64);
  std::vector<std::pair<std::uint32_t, std::uint32_t>> where;
  for (const Section& s : sections) {
    where.emplace_back(static_cast<std::uint32_t>(w.size()), static_cast<std::uint32_t>(s.bytes.size()));
    w.raw(s.bytes);
  }
  std::uint32_t dir = static_cast<std::uint32_t>(w.size());
  w.text(directory_mark).u32(0x00020000).u32(static_cast<std::uint32_t>(sections.size()));
  for (std::size_t i = 0; i < sections.size(); ++i) w.u32(where[i].first).u32(where[i].second).u32(sections[i].type);
  w.u32(dir);
  return w.bytes();
}

// Offset of section i in a file built by build_x3f.
std::uint32_t section_offset(const std::vector<Section>& sections, std::size_t i) {
  std::uint32_t o = 64;
  for (std::size_t k = 0; k < i; ++k) o += static_cast<std::uint32_t>(sections[k].bytes.size());
  return o;
}

TEST(X3fDirectory, JpegSectionBeforeRawImage) {
  std::vector<Section> s = {image_section(640, 480, jpeg_bytes(60000)), image_section(2268, 1512, {0, 0, 0, 0})};
  ScopedProbe probe(build_x3f(s));
  read_x3f_directory();
  EXPECT_EQ(g_probe.preview_offset, static_cast<std::int32_t>(section_offset(s, 0) + 28));
  EXPECT_EQ(g_probe.preview_length, 60000u);
  EXPECT_EQ(g_probe.preview_kind, PreviewKind::jpeg_thumb);
  EXPECT_EQ(g_probe.sensor_width, 2268);
  EXPECT_EQ(g_probe.sensor_height, 1512);
  EXPECT_EQ(g_probe.raw_offset, section_offset(s, 1) + 24);
  EXPECT_EQ(g_probe.x3f_flag, 1);
  EXPECT_EQ(g_probe.byte_order, 0x4949);
}

TEST(X3fDirectory, LargestJpegWinsWhicheverComesFirst) {
  for (bool large_first : {true, false}) {
    SCOPED_TRACE(large_first ? "large first" : "small first");
    Section small = image_section(160, 120, jpeg_bytes(3000), kIma2);
    Section large = image_section(640, 480, jpeg_bytes(9000));
    std::vector<Section> s = large_first ? std::vector<Section>{large, small} : std::vector<Section>{small, large};
    ScopedProbe probe(build_x3f(s));
    read_x3f_directory();
    EXPECT_EQ(g_probe.preview_offset, static_cast<std::int32_t>(section_offset(s, large_first ? 0 : 1) + 28));
    EXPECT_EQ(g_probe.preview_length, 9000u);
    EXPECT_EQ(g_probe.preview_kind, PreviewKind::jpeg_thumb);
  }
}

TEST(X3fDirectory, SecondImageWithoutJpegIsAFoveonThumbnail) {
  std::vector<Section> s = {image_section(2268, 1512, {1, 2, 3, 4}), image_section(320, 240, {5, 6, 7, 8})};
  ScopedProbe probe(build_x3f(s));
  read_x3f_directory();
  EXPECT_EQ(g_probe.preview_kind, PreviewKind::foveon_thumb);
  EXPECT_EQ(g_probe.preview_offset, static_cast<std::int32_t>(section_offset(s, 1) + 24));
  EXPECT_EQ(g_probe.preview_length, 0u);
  EXPECT_EQ(g_probe.preview_width, 320);
  EXPECT_EQ(g_probe.preview_height, 240);
}

TEST(X3fDirectory, PropertiesGiveNamesAndShotData) {
  std::vector<Section> s = {property_section({{"CAMMANUF", "SIGMA"},
                                              {"CAMMODEL", "SIGMA SD10"},
                                              {"ISO", "400"},
                                              {"EXPTIME", "8000"},
                                              {"APERTURE", "5.6"},
                                              {"FLENGTH", "24.5"},
                                              {"TIME", "1068640000"},
                                              {"WB_DESC", "Sunlight"},
                                              {"UNKNOWN", "1"}}),
                            {kCamf, bytes_of({0x63434553, 0, 0, 0, 0, 0, 0, 0})}};
  ScopedProbe probe(build_x3f(s));
  read_x3f_directory();
  EXPECT_STREQ(g_probe.camera_make, "SIGMA");
  EXPECT_STREQ(g_probe.camera_model, "SIGMA SD10");
  EXPECT_STREQ(g_probe.model_detail, "Sunlight");
  EXPECT_FLOAT_EQ(g_probe.iso_rating, 400.0f);
  EXPECT_FLOAT_EQ(g_probe.exposure_seconds, 0.008f);
  EXPECT_FLOAT_EQ(g_probe.f_number, 5.6f);
  EXPECT_FLOAT_EQ(g_probe.focal_length_mm, 24.5f);
  EXPECT_EQ(g_probe.capture_time, 1068640000);
  EXPECT_EQ(g_probe.x3f_flag, 1);
}

TEST(X3fDirectory, LongPropertyTextIsCut) {
  std::string long_model(100, 'M');
  ScopedProbe probe(build_x3f({property_section({{"CAMMODEL", long_model}})}));
  read_x3f_directory();
  EXPECT_EQ(std::string(g_probe.camera_model), long_model.substr(0, 63));
}

TEST(X3fDirectory, BadMarksEndTheReaderWithoutTheFlag) {
  {
    SCOPED_TRACE("directory mark");
    ScopedProbe probe(build_x3f({property_section({{"CAMMANUF", "SIGMA"}})}, 0, "SECx"));
    read_x3f_directory();
    EXPECT_STREQ(g_probe.camera_make, "");
    EXPECT_EQ(g_probe.x3f_flag, 0);
  }
  {
    SCOPED_TRACE("section mark");
    Section wrong = property_section({{"CAMMODEL", "SD9"}});
    wrong.type = kImag;  // holds "SECp", the directory says IMAG
    std::vector<Section> s = {property_section({{"CAMMANUF", "SIGMA"}}), wrong,
                              property_section({{"ISO", "100"}})};
    ScopedProbe probe(build_x3f(s));
    read_x3f_directory();
    EXPECT_STREQ(g_probe.camera_make, "SIGMA");  // read before the bad section
    EXPECT_FLOAT_EQ(g_probe.iso_rating, 0.0f);   // never reached
    EXPECT_EQ(g_probe.x3f_flag, 0);
  }
}

TEST(X3fDirectory, HeaderRotation) {
  struct Case {
    std::uint32_t degrees;
    std::int32_t code;
  } cases[] = {{0, 0}, {90, 6}, {180, 3}, {270, 5}, {static_cast<std::uint32_t>(-90), 5}, {33, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.degrees);
    ScopedProbe probe(build_x3f({}, c.degrees));
    read_x3f_directory();
    EXPECT_EQ(g_probe.orientation_code, c.code);
    EXPECT_EQ(g_probe.x3f_flag, 1);  // an empty directory is still a directory
  }
}

TEST(X3fDirectory, HugeDirectoryOfOnePropertySectionStaysCheap) {
  // A directory claiming four billion entries whose few real entries all
  // name one section of 256 properties.
  Section props = property_section(std::vector<std::pair<std::string, std::string>>(
      300, {"CAMMODEL", std::string(63, 'x')}));
  std::vector<std::uint8_t> file = build_x3f({props});
  ByteWriter w(true);
  w.raw(file);
  std::uint32_t dir = static_cast<std::uint32_t>(w.size());
  w.text("SECd").u32(0).u32(0xFFFFFFFFu);
  for (int i = 0; i < 5000; ++i) w.u32(64).u32(static_cast<std::uint32_t>(props.bytes.size())).u32(kProp);
  w.u32(dir);
  double ms = elapsed_ms([&] {
    ScopedProbe probe(w.bytes());
    read_x3f_directory();
    EXPECT_EQ(g_probe.camera_model[0], 'x');
  });
  EXPECT_LT(ms, 3000.0);
}

// ---------------------------------------------------------------------------
// Leaf packets

std::vector<std::uint8_t> chain(std::initializer_list<std::vector<std::uint8_t>> packets) {
  ByteWriter w(false);
  w.zeros(16);  // packets start at 16
  for (const auto& p : packets) w.raw(p);
  w.u32(0);  // end of chain
  return w.bytes();
}

void read_chain(const std::vector<std::uint8_t>& bytes) {
  g_probe.byte_order = 0x4D4D;
  ProbeFile pf(bytes);
  ProbeFile* saved = g_probe.probe_file;
  g_probe.probe_file = &pf;
  read_leaf_packets(16);
  g_probe.probe_file = saved;
}

class LeafPackets : public ::testing::Test {
 protected:
  ScopedProbe probe_{std::vector<std::uint8_t>(8, 0), 0x4D4D};
};

TEST_F(LeafPackets, LaterPreviewPacketWins) {
  read_chain(chain({leaf_packet("JPEG_preview_data", jpeg_bytes(100)),
                    leaf_packet("icc_camera_profile", std::vector<std::uint8_t>(30, 1)),
                    leaf_packet("JPEG_preview_data", jpeg_bytes(250))}));
  // Packets: 16 (52 + 100), 168 (52 + 30), 250 (52 + 250).
  EXPECT_EQ(g_probe.preview_offset, 250 + 52);
  EXPECT_EQ(g_probe.preview_length, 250u);
  EXPECT_EQ(g_probe.icc_profile_offset, 168u + 52);
  EXPECT_EQ(g_probe.icc_profile_length, 30u);
  EXPECT_EQ(g_probe.preview_kind, PreviewKind::jpeg_thumb);
}

TEST_F(LeafPackets, BackTypeNamesTheModel) {
  struct Case {
    const char* data;
    const char* model;
  } cases[] = {
      {"0", ""},          {"1", "DCB2"},          {" 7", "Valeo 22"}, {"10", ""},
      {"13", "Aptus 75"}, {"20", "AFi 7"},        {"21", "Before"},   {"-1", "Before"},
      {"none", "Before"}, {"15\n", "Aptus 54S"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.data);
    reset_probe_state();
    set_text(g_probe.camera_model, "Before");
    read_chain(chain({leaf_packet("ShootObj_back_type", text_bytes(c.data))}));
    EXPECT_STREQ(g_probe.camera_model, c.model);
  }
}

TEST_F(LeafPackets, RotationsBecomeOrientationCodes) {
  struct Case {
    const char* name;
    std::vector<std::vector<std::uint8_t>> packets;
    std::int32_t code;
  };
  std::vector<Case> cases = {
      {"capture 90", {leaf_packet("CaptProf_raw_data_rotation", text_bytes("90"))}, 6},
      {"capture 270", {leaf_packet("CaptProf_raw_data_rotation", text_bytes("270"))}, 5},
      {"capture 0", {leaf_packet("CaptProf_raw_data_rotation", text_bytes("0"))}, 0},
      {"capture 45 leaves it", {leaf_packet("CaptProf_raw_data_rotation", text_bytes("45"))}, -1},
      {"angle alone", {leaf_packet("ImgProf_rotation_angle", text_bytes("180"))}, 3},
      {"angle over capture",
       {leaf_packet("CaptProf_raw_data_rotation", text_bytes("90")),
        leaf_packet("ImgProf_rotation_angle", text_bytes("180"))},
       6},
      {"angle cancels capture",
       {leaf_packet("CaptProf_raw_data_rotation", text_bytes("90")),
        leaf_packet("ImgProf_rotation_angle", text_bytes("90"))},
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    reset_probe_state();
    ByteWriter w(false);
    w.zeros(16);
    for (const auto& p : c.packets) w.raw(p);
    w.u32(0);
    read_chain(w.bytes());
    EXPECT_EQ(g_probe.orientation_code, c.code);
  }
}

TEST_F(LeafPackets, ChainInsidePacketData) {
  std::vector<std::uint8_t> inner = chain({leaf_packet("JPEG_preview_data", jpeg_bytes(40))});
  inner.erase(inner.begin(), inner.begin() + 16);  // the chain itself, no lead-in
  read_chain(chain({leaf_packet("CaptProf", inner)}));
  EXPECT_EQ(g_probe.preview_offset, 16 + 52 + 52);
  EXPECT_EQ(g_probe.preview_length, 40u);
}

TEST_F(LeafPackets, ChainEndsAtTheFirstForeignWord) {
  ByteWriter w(false);
  w.zeros(16).raw(leaf_packet("Other", {1, 2})).u32(0x504B5454);
  w.raw(leaf_packet("JPEG_preview_data", jpeg_bytes(10)));
  read_chain(w.bytes());
  EXPECT_EQ(g_probe.preview_offset, 0);
}

TEST_F(LeafPackets, DeeplyNestedEmptyPacketsFinishQuickly) {
  // Two hundred empty packets in a row: each packet's (empty) data is
  // followed by the rest of the chain, so every packet nests the rest.
  ByteWriter w(false);
  w.zeros(16);
  for (int i = 0; i < 200; ++i) w.raw(leaf_packet("x", {}));
  w.u32(0);
  double ms = elapsed_ms([&] { read_chain(w.bytes()); });
  EXPECT_EQ(g_probe.nesting_depth, 0);
  EXPECT_LT(ms, 3000.0);
}

TEST_F(LeafPackets, SizeBeyondTheFileEndsTheChain) {
  ByteWriter w(false);
  w.zeros(16).u32(0x504B5453).u32(0).text_fixed("JPEG_preview_data", 40).u32(0xFFFFFFF0u);
  read_chain(w.bytes());
  EXPECT_EQ(g_probe.preview_offset, 16 + 52);
  EXPECT_EQ(g_probe.preview_length, 0xFFFFFFF0u);  // recorded as stated; extraction bounds it
}

}  // namespace
