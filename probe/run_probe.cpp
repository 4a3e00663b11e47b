// The top-level probe: reads the head of the file, recognises the container
// by magic bytes, fixed offsets or the exact file size, hands the file to its
// reader, cleans up maker and model, applies the per-camera rules, and
// finishes preview size and orientation.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "probe/probe_input.h"
#include "probe/probe_tables.h"
#include "probe/readers.h"

namespace {

bool head_is(const std::uint8_t* head, std::size_t at, const char* text) {
  return std::memcmp(head + at, text, std::strlen(text)) == 0;
}

// The 32-byte head read as a NUL-ended text equals `text`.
bool head_text_equals(const std::uint8_t* head, const char* text) {
  std::size_t n = std::strlen(text);
  return std::memcmp(head, text, n) == 0 && head[n] == 0;
}

std::string_view make_text() { return field_text(g_probe.camera_make); }
std::string_view model_text() { return field_text(g_probe.camera_model); }
bool make_is(const char* text) { return make_text() == text; }
bool model_is(const char* text) { return model_text() == text; }
bool model_begins(const char* text) { return model_text().starts_with(text); }

bool same_letter(char a, char b) {
  return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

bool begins_ignoring_case(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (!same_letter(text[i], prefix[i])) return false;
  }
  return true;
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && begins_ignoring_case(a, b);
}

// Reads n bytes at offset into a zeroed buffer: bytes a short file lacks
// count as zero.
void read_block_at(std::int64_t offset, std::uint8_t* buffer, std::size_t n) {
  std::memset(buffer, 0, n);
  if (offset < 0) return;
  probe_seek(offset);
  probe_read(buffer, n);
}

int test_e995_histogram() {
  std::uint8_t tail[2000];
  read_block_at(probe_file_size() - 2000, tail, sizeof tail);
  unsigned counts[256] = {};
  for (std::uint8_t b : tail) ++counts[b];
  return counts[0x00] >= 200 && counts[0x55] >= 200 && counts[0xAA] >= 200 && counts[0xFF] >= 200;
}

int test_e2100_rows() {
  probe_seek(0);
  for (int group = 0; group < 1024; ++group) {
    std::uint8_t b[12] = {};
    probe_read(b, 12);
    int v = (b[2] >> 4) & (b[4] >> 4) & (b[7] >> 4) & (b[9] >> 4) & b[1] & b[6] & b[8] & b[11] & 3;
    if (v != 3) return 0;
  }
  return 1;
}

void pick_e3700_variant() {
  std::uint8_t b[24];
  read_block_at(3072, b, sizeof b);
  int code = (b[8] & 3) << 4 | (b[20] & 3);
  for (const auto& row : E3700_VARIANTS) {
    if (row.code == code) {
      set_text(g_probe.camera_make, row.make);
      set_text(g_probe.camera_model, row.model);
    }
  }
}

int test_z2_tail() {
  std::uint8_t tail[424];
  read_block_at(probe_file_size() - 424, tail, sizeof tail);
  int nonzero = 0;
  for (std::uint8_t b : tail) nonzero += b != 0;
  return nonzero > 20;
}

// Tells the byte order of 16-bit samples at the current position by which
// reading varies less from sample to sample.
std::uint16_t guess_byte_order(int words) {
  std::uint8_t prev[2] = {0, 0};
  double sum_le = 0, sum_be = 0;
  bool first = true;
  for (int i = 0; i < words; ++i) {
    std::uint8_t cur[2] = {0, 0};
    if (probe_read(cur, 2) != 2) break;
    if (!first) {
      double dle = (cur[0] | cur[1] << 8) - (prev[0] | prev[1] << 8);
      double dbe = (cur[0] << 8 | cur[1]) - (prev[0] << 8 | prev[1]);
      sum_le += dle * dle;
      sum_be += dbe * dbe;
    }
    first = false;
    prev[0] = cur[0];
    prev[1] = cur[1];
  }
  return sum_le < sum_be ? 0x4949 : 0x4D4D;
}

// Mean absolute difference between two runs of 16 pixel rows: a measure of
// how alike two regions of raw data are, used to tell two sensor variants
// apart.
int row_difference(std::int64_t first, std::int64_t second, int rows) {
  const int kRowBytes = 64;
  std::uint8_t a[16 * kRowBytes], b[16 * kRowBytes];
  int n = rows > 16 ? 16 : rows;
  read_block_at(first, a, static_cast<std::size_t>(n * kRowBytes));
  read_block_at(second, b, static_cast<std::size_t>(n * kRowBytes));
  long total = 0;
  for (int i = 0; i < n * kRowBytes; ++i) total += a[i] > b[i] ? a[i] - b[i] : b[i] - a[i];
  return n ? static_cast<int>(total / (n * kRowBytes)) : 0;
}

bool in_list(unsigned value, std::initializer_list<unsigned> list) {
  for (unsigned v : list) {
    if (v == value) return true;
  }
  return false;
}

bool model_in(std::initializer_list<const char*> list) {
  for (const char* m : list) {
    if (model_is(m)) return true;
  }
  return false;
}

struct HeadInfo {
  std::uint8_t head[32];
  std::int32_t file_length;
  std::int32_t headerless_size;
};

// The per-camera chain: the first rule whose condition holds is applied and
// ends the chain. Most rules only set sensor geometry, levels or decoder
// choices, which this system never reads; they still end the chain.
void apply_camera_rules(const HeadInfo& info) {
  const std::int32_t hs = info.headerless_size;
  const unsigned sw = g_probe.sensor_width;

  // Rule 1
  if (make_is("Canon") && g_probe.raw_sample_bits == 15) return;
  // Rule 2
  if (model_in({"PowerShot 600", "PowerShot A5", "PowerShot A5 Zoom", "PowerShot A50",
                "PowerShot Pro70", "PowerShot SD300", "PowerShot A460", "PowerShot A530"}))
    return;
  if (model_is("PowerShot A610")) {
    if (scan_stride_bytes()) std::strcpy(g_probe.camera_model + 10, "S2 IS");
    return;
  }
  if (model_in({"PowerShot A620", "PowerShot A470", "PowerShot A720 IS", "PowerShot A630",
                "PowerShot A640", "PowerShot A650", "PowerShot S3 IS", "PowerShot SX110 IS",
                "PowerShot SX120 IS", "PowerShot SX20 IS", "PowerShot Pro90 IS"}))
    return;
  // Rules 3-5
  if (make_is("Canon") && in_list(sw, {2144, 2224, 2376, 2672, 3152, 3160, 3344})) return;
  if (model_is("EOS D2000C")) return;
  if (make_is("Canon") && in_list(sw, {3516, 3596, 3744, 3944, 3948, 3984, 4104, 4152, 4312, 4476,
                                       4480, 4832, 5120, 5344, 5360, 5792, 5108, 5712}))
    return;
  // Rule 6: Nikon bodies.
  if (model_in({"D1", "D1X", "D40X", "D60", "D80", "D3000", "D3", "D3S", "D700", "D5000", "D7000",
                "D3100"}) ||
      model_begins("D40") || model_begins("D50") || model_begins("D70") || model_is("D90") ||
      model_is("D100") || model_is("D200") || model_begins("D2H") || model_begins("D2X") ||
      model_begins("D300") || model_begins("COOLPIX P"))
    return;
  // Rule 7: Nikon compacts, some recognised by size alone.
  if (hs == 1581060 || hs == 2465792) return;
  if (hs == 4771840) {
    if (!g_probe.capture_time && test_e995_histogram()) set_text(g_probe.camera_model, "E995");
    return;
  }
  if (model_is("E2100")) {
    if (!g_probe.capture_time && !test_e2100_rows()) set_text(g_probe.camera_model, "E2500");
    return;
  }
  if (model_is("E2500")) {
    set_text(g_probe.camera_model, "E2500");
    return;
  }
  if (hs == 4775936) {
    if (!g_probe.capture_time) pick_e3700_variant();
    if (model_is("Optio 33WR")) g_probe.orientation_code = 1;
    return;
  }
  if (hs == 5869568) {
    if (!g_probe.capture_time && test_z2_tail()) {
      set_text(g_probe.camera_make, "Minolta");
      set_text(g_probe.camera_model, "DiMAGE Z2");
    }
    return;
  }
  if (model_is("E4500") || hs == 7438336 || hs == 8998912) return;
  // Rule 8
  if (make_is("FUJIFILM")) {
    if (model_text().substr(std::min<std::size_t>(7, model_text().size())) == "S2Pro") {
      std::strcpy(g_probe.camera_model + 7, " S2Pro");
      g_probe.orientation_code = 6;
    }
    return;
  }
  // Rule 9
  if (model_in({"RD175", "KD-400Z", "KD-510Z"}) || equals_ignoring_case(make_text(), "MINOLTA"))
    return;
  // Rule 10
  if (model_in({"*ist D", "*ist DS", "Optio S"}) || hs == 6114240 || model_in({"Optio 750Z", "DC-833m"}) ||
      model_begins("S85") || model_in({"NX10", "EX1", "WB2000"}))
    return;
  if (hs == 20487168 || hs == 24000000) {
    set_text(g_probe.camera_model, "WB550");
    return;
  }
  if (model_is("STV680 VGA")) {
    g_probe.orientation_code = 2;
    return;
  }
  // Rule 11
  if (model_in({"N95", "531C", "F-080C", "F-145C", "F-201C", "F-510C", "F-810C", "XCD-SX910CR", "2010",
                "A782"}))
    return;
  if (model_is("3320AF")) {
    g_probe.image_width = 2048;
    g_probe.image_height = 1536;
    probe_seek(0x300000);
    if (guess_byte_order(0x10000) == 0x4D4D) {
      g_probe.image_height = static_cast<std::uint16_t>(g_probe.image_height - 16);
      g_probe.image_width = static_cast<std::uint16_t>(g_probe.image_width - 28);
      set_text(g_probe.camera_make, "ISG");
      g_probe.camera_model[0] = 0;
    }
    return;
  }
  // Rule 12
  if (make_is("Hasselblad")) {
    if (sw == 4090) set_text(g_probe.camera_model, "V96C");
    return;
  }
  if (make_is("Sinar")) return;
  if (make_is("Leaf")) {
    unsigned w = g_probe.image_width, h = g_probe.image_height;
    if ((w | h) == 2048) {
      set_text(g_probe.camera_model, g_probe.raw_sample_count == 1 ? "CatchLight" : "DCB2");
    } else if (w + h == 5204 && !g_probe.camera_model[0]) {
      set_text(g_probe.camera_model, "Cantare");
    } else if (w == 2116 || w == 3171) {
      set_text(g_probe.camera_model, "Valeo 6");
    }
    return;
  }
  if (make_is("LEICA") || make_is("Panasonic") || model_is("C770UZ")) return;
  if (make_is("OLYMPUS")) {
    if (model_is("SP550UZ")) {
      g_probe.preview_offset = 10721280;
      g_probe.preview_length = static_cast<std::uint32_t>(info.file_length) - 10721280u;
      g_probe.preview_width = 640;
      g_probe.preview_height = 480;
    }
    return;
  }
  // Rule 13
  if (model_in({"N Digital", "DSC-F828", "DSC-V3"}) || (make_is("SONY") && sw == 3984) ||
      model_in({"DSLR-A100", "DSLR-A350", "PIXL"}))
    return;
  if (model_is("C603v")) {
    if (hs > 614399 && row_difference(3840, 5120, 16) >= 25) set_text(g_probe.camera_model, "KAI-0340");
    return;
  }
  if (model_in({"C603y", "C603", "C330"}) || begins_ignoring_case(model_text(), "EasyShare"))
    return;
  if (equals_ignoring_case(make_text(), "KODAK")) {
    if (model_begins("DCS460 ")) g_probe.camera_model[6] = 0;
    if (text_contains(model_text(), "DC25")) set_text(g_probe.camera_model, "DC25");
    if (!model_begins("DC2")) {
      if (model_is("40")) {
        set_text(g_probe.camera_model, "DC40");
      } else if (text_contains(model_text(), "DC50")) {
        set_text(g_probe.camera_model, "DC50");
      } else if (text_contains(model_text(), "DC120")) {
        set_text(g_probe.camera_model, "DC120");
      } else if (model_is("DCS200")) {
        g_probe.preview_offset = 6144;
        g_probe.preview_width = 192;
        g_probe.preview_height = 128;
        g_probe.preview_format_bits = 360;
        g_probe.preview_kind = PreviewKind::layer_thumb;
      }
    }
    return;
  }
  // Rule 14
  if (model_is("Fotoman Pixtura")) return;
  if (model_is("QuickTake 100")) {
    probe_seek(544);
    g_probe.image_height = read_u16();
    g_probe.image_width = read_u16();
    read_u32();
    std::uint16_t v = read_u16();
    g_probe.raw_offset = v == 30 ? 738 : 736;
    if (g_probe.image_width < g_probe.image_height) {
      std::uint16_t t = g_probe.image_width;
      g_probe.image_width = g_probe.image_height;
      g_probe.image_height = t;
      probe_seek(g_probe.raw_offset - 6);
      std::uint16_t w = read_u16();
      g_probe.orientation_code = (w & 3) == 3 ? 6 : 5;
    }
    return;
  }
  if (model_is("QuickTake 150")) {
    if (info.head[5]) std::strcpy(g_probe.camera_model + 10, "200");
    return;
  }
  if (make_is("Rollei") && g_probe.sensor_decoder == DecoderChoice::none) return;
  if (model_in({"PC-CAM 600", "QV-2000UX"}) || hs == 3217760 ||
      model_in({"QV-4000", "QV-5700", "QV-R41", "QV-R51", "EX-S20"})) {
    if (model_is("EX-S20")) g_probe.orientation_code = 3;
    return;
  }
}

void clean_up_names() {
  terminate_probe_texts();
  char* model = g_probe.camera_model;
  for (const char* word : MAKER_WORDS) {
    if (text_contains(make_text(), word)) set_text(g_probe.camera_make, word);
  }
  if (make_text().starts_with("KODAK")) {
    std::size_t cut = std::string_view::npos;
    for (const char* tail : {" DIGITAL CAMERA", " Digital Camera", "FILE VERSION"}) {
      if (cut == std::string_view::npos) cut = model_text().find(tail);
    }
    if (cut != std::string_view::npos) model[cut] = 0;
  }
  auto trim_spaces = [](auto& field) {
    std::size_t n = text_length(field);
    while (n > 0 && field[n - 1] == ' ') field[--n] = 0;
  };
  trim_spaces(g_probe.camera_make);
  trim_spaces(g_probe.camera_model);
  const std::size_t make_len = make_text().size();
  if (begins_ignoring_case(model_text(), make_text()) && model[make_len] == ' ')
    std::memmove(model, model + make_len + 1, 64 - make_len - 1);
  if (model_text().starts_with("Digital Camera ")) std::memmove(model, model + 15, 64 - 15);
  terminate_probe_texts();
}

// The names as the file records them: those of the RAW's IFD0 when it has
// them, else what the container's own fields gave, taken before they are
// shortened. A format known by its size alone records none.
void keep_recorded_names(const HeadInfo& info) {
  if (info.headerless_size) return;
  terminate_probe_texts();
  if (!g_probe.recorded_make[0]) std::memcpy(g_probe.recorded_make, g_probe.camera_make, 64);
  if (!g_probe.recorded_model[0]) std::memcpy(g_probe.recorded_model, g_probe.camera_model, 64);
}

void resolve_orientation() {
  if (g_probe.orientation_code == -1) g_probe.orientation_code = g_probe.tiff_orientation;
  if (g_probe.orientation_code == -1) g_probe.orientation_code = 0;
}

}  // namespace

void run_probe() {
  reset_probe_state();
  HeadInfo info = {};

  probe_seek(0);
  g_probe.byte_order = read_u16();
  std::uint32_t header_length = read_u32();
  probe_seek(0);
  probe_read(info.head, 32);
  const std::uint8_t* head = info.head;
  std::int64_t size = probe_file_size();
  info.file_length = static_cast<std::int32_t>(size);
  probe_seek(size);

  // A JPEG file with an Exif segment is never a raw file with a preview; its
  // own Exif thumbnail must not become one on any later path.
  bool exif_jpeg_file = false;

  std::ptrdiff_t phase_one = find_bytes(head, 32, "MMMM", 4);
  if (phase_one < 0) phase_one = find_bytes(head, 32, "IIII", 4);
  if (phase_one >= 0) {
    read_phase_one_header(static_cast<std::uint32_t>(phase_one));
    if (phase_one != 0 && read_tiff_file(0)) select_raw_and_preview();
  } else if (g_probe.byte_order == 0x4949 || g_probe.byte_order == 0x4D4D) {
    if (head_is(head, 6, "HEAPCCDR")) {
      g_probe.raw_offset = header_length;
      read_ciff_heap(header_length, static_cast<std::uint32_t>(info.file_length - header_length));
    } else if (read_tiff_file(0)) {
      select_raw_and_preview();
    }
  } else if (head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF && head[3] == 0xE1 &&
             head_is(head, 6, "Exif")) {
    exif_jpeg_file = true;
    probe_seek(4);
    g_probe.raw_offset = 4 + read_u16();
    probe_seek(g_probe.raw_offset);
    if (probe_getc() != 0xFF) read_tiff_file(12);
    g_probe.preview_offset = 0;
  } else if (head_is(head, 25, "ARECOYK")) {
    set_text(g_probe.camera_make, "Contax");
    set_text(g_probe.camera_model, "N Digital");
    probe_seek(33);
    read_exif_time(true);
    probe_seek(60);
    for (int i = 0; i < 4; ++i) read_u32();  // white balance
  } else if (head_text_equals(head, "PXN")) {
    set_text(g_probe.camera_make, "Logitech");
    set_text(g_probe.camera_model, "Fotoman Pixtura");
  } else if (head_text_equals(head, "qktk")) {
    set_text(g_probe.camera_make, "Apple");
    set_text(g_probe.camera_model, "QuickTake 100");
  } else if (head_text_equals(head, "qktn")) {
    set_text(g_probe.camera_make, "Apple");
    set_text(g_probe.camera_model, "QuickTake 150");
  } else if (head_is(head, 0, "FUJIFILM")) {
    probe_seek(84);
    g_probe.preview_offset = read_u32();
    g_probe.preview_length = read_u32();
    note_embedded_image("RAF header", g_probe.preview_offset, g_probe.preview_length);
    probe_seek(92);
    read_raf_directory(read_u32());
    if (g_probe.preview_offset > 120) {
      probe_seek(120);
      if (read_u32()) ++g_probe.raw_supported;  // a second raw image, not read
    }
    probe_seek(100);
    g_probe.raw_offset = read_u32();
    read_tiff_file(g_probe.raw_offset);
    read_tiff_file(static_cast<std::uint32_t>(g_probe.preview_offset) + 12);
    select_raw_and_preview();
  } else if (head_is(head, 0, "RIFF")) {
    probe_seek(0);
    read_riff_chunk();
  } else if (std::memcmp(head, "\0\001\0\001\0@", 6) == 0) {
    probe_seek(6);
    probe_read(g_probe.camera_make, 8);
    probe_read(g_probe.camera_model, 8);
    probe_read(g_probe.model_detail, 16);
    g_probe.raw_offset = read_u16();
    read_u16();
    g_probe.sensor_width = read_u16();
    g_probe.sensor_height = read_u16();
  } else if (head_is(head, 0, "NOKIARAW")) {
    set_text(g_probe.camera_make, "NOKIA");
    set_text(g_probe.camera_model, "X2");
    g_probe.byte_order = 0x4949;
    probe_seek(300);
    g_probe.raw_offset = read_u32();
    read_u32();
    g_probe.image_width = read_u16();
    g_probe.image_height = read_u16();
  } else if (head_is(head, 0, "DSC-Image")) {
    read_rollei_header();
  } else if (head_is(head, 0, "PWAD")) {
    read_sinar_ia_header();
  } else if (std::memcmp(head, "\0MRM", 4) == 0) {
    read_minolta_blocks(0);
  } else if (head_is(head, 0, "FOVb")) {
    read_x3f_directory();
  } else if (head_is(head, 0, "CI")) {
    read_cine_header();
  } else {
    info.headerless_size = info.file_length;
    for (const auto& row : HEADERLESS_SIZES) {
      if (static_cast<std::int32_t>(row.size) != info.file_length) continue;
      set_text(g_probe.camera_make, row.make);
      set_text(g_probe.camera_model, row.model);
      if (row.companion_jpeg) parse_external_jpeg();
    }
    // Last, so that no file another test recognises reads differently.
    if (!g_probe.camera_make[0] && is_cr3_head(head)) {
      info.headerless_size = 0;  // a CR3 file has a header
      read_cr3_file();
    }
  }

  if (!g_probe.camera_make[0]) read_smal_header(0, info.file_length);
  // Every RAW format read above names its camera; what is left is a JPEG
  // file (whose own Exif may name one) or a file of no kind known here.
  g_probe.raw_format = g_probe.camera_make[0] != 0 && !exif_jpeg_file;
  if (!g_probe.camera_make[0]) {
    g_probe.raw_supported = 0;
    read_jpeg_segments(0);
  }

  keep_recorded_names(info);
  clean_up_names();

  auto finish = [&] {
    if (exif_jpeg_file) {
      g_probe.preview_offset = 0;
      g_probe.preview_length = 0;
    }
    // A preview placed by a format's header or a camera rule is listed too.
    note_embedded_image("format header or camera rule", g_probe.preview_offset,
                        g_probe.preview_length, g_probe.preview_width, g_probe.preview_height);
    // A RAW file cut short still gives the largest JPEG it holds whole.
    if (g_probe.raw_format) choose_largest_whole_jpeg();
    resolve_orientation();
  };

  if (!g_probe.raw_supported) {
    finish();
    return;
  }

  // Preliminary geometry: the sensor size stands in for an unset image size.
  if (!g_probe.image_height) g_probe.image_height = g_probe.sensor_height;
  if (!g_probe.image_width) g_probe.image_width = g_probe.sensor_width;

  if (!g_probe.dng_version) {
    if (!g_probe.x3f_flag) apply_camera_rules(info);
    if (!g_probe.camera_model[0]) {
      std::snprintf(g_probe.camera_model, sizeof g_probe.camera_model, "%dx%d", g_probe.image_width,
                    g_probe.image_height);
    }
    if (g_probe.preview_offset && !g_probe.preview_height) {
      probe_seek(g_probe.preview_offset);
      LosslessJpegHeader jh;
      if (ljpeg_start(jh, 1)) {
        g_probe.preview_width = static_cast<std::uint16_t>(jh.width);
        g_probe.preview_height = static_cast<std::uint16_t>(jh.height);
      }
    }
  }
  finish();
}
