// TIFF structures: the whole-file entry and one directory with everything
// nested in it. Each directory leaves a TiffDirInfo summary in g_probe and
// writes metadata straight into the record.
#include <cstdio>
#include <cstring>

#include "probe/probe_input.h"
#include "probe/readers.h"

int read_tiff_file(std::uint32_t base) {
  probe_seek(base);
  g_probe.byte_order = read_u16();
  if (g_probe.byte_order != 0x4949 && g_probe.byte_order != 0x4D4D) return 0;
  read_u16();  // 42, not tested
  for (;;) {
    if (!take_work()) break;
    std::uint32_t offset = read_u32();
    if (offset == 0) break;
    probe_seek(static_cast<std::uint32_t>(base + offset));
    if (read_tiff_dir(base)) break;
  }
  return 1;
}

namespace {

bool starts_with(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// Software texts of converters and editors: their output is not a file
// straight from a camera.
bool is_processing_software(const char* software) {
  return starts_with(software, "Adobe") || starts_with(software, "UFRaw") ||
         starts_with(software, "Bibble") || starts_with(software, "Nikon Scan") ||
         std::strcmp(software, "Digital Photo Professional") == 0;
}

// Strip, tile or JPEG offset: when the directory's bits are still unknown,
// the data may be a JPEG whose frame header tells size, bits and colours,
// and whose own Exif segment is read as a TIFF structure.
void probe_directory_jpeg(TiffDirInfo& dir) {
  if (dir.bits_per_sample != 0) return;
  probe_seek(static_cast<std::uint32_t>(dir.data_offset));
  LosslessJpegHeader jh;
  if (!ljpeg_start(jh, 1)) return;
  dir.height = jh.height;
  dir.compression = 6;
  dir.bits_per_sample = jh.bits;
  dir.width = jh.width;
  dir.samples_per_pixel = jh.colours;
  if (jh.sraw == 0 && (jh.colours & 1) == 0) dir.width = jh.width * jh.colours;
  std::uint16_t order = g_probe.byte_order;
  read_tiff_file(static_cast<std::uint32_t>(dir.data_offset) + 12);
  g_probe.byte_order = order;
}

void read_imacon_geometry() {
  g_probe.probe_file->skip(78);
  std::uint32_t sensor_w = read_u32();
  std::uint32_t sensor_h = read_u32();
  std::uint32_t left = read_u32() & 7;
  std::uint32_t right_trim = read_u32() & 7;
  std::uint32_t top = read_u32() & 7;
  std::uint32_t bottom_trim = read_u32() & 7;
  g_probe.sensor_width = static_cast<std::uint16_t>(sensor_w);
  g_probe.sensor_height = static_cast<std::uint16_t>(sensor_h);
  g_probe.image_width = static_cast<std::uint16_t>(g_probe.sensor_width - right_trim - left);
  g_probe.image_height = static_cast<std::uint16_t>(g_probe.sensor_height - bottom_trim - top);
  if (g_probe.sensor_width == 7262) {
    g_probe.image_width = 7244;
    g_probe.image_height = 5444;
  }
  // 52 bytes, three white-balance values and 114 bytes of colour data.
  g_probe.probe_file->skip(52 + 12 + 114);
  int degrees = (read_u16() >> 7) * 90;
  if (static_cast<std::uint64_t>(g_probe.image_width) * g_probe.image_height * 6 ==
      g_probe.imacon_image_length) {
    if (degrees % 180 == 90) {
      std::uint16_t t = g_probe.image_width;
      g_probe.image_width = g_probe.image_height;
      g_probe.image_height = t;
    }
    degrees = 0;
  }
  // The file states a rotation angle; the record keeps orientation codes.
  int code = rotation_degrees_to_code(degrees);
  g_probe.orientation_code = code < 0 ? 0 : code;
  std::snprintf(g_probe.camera_model, sizeof g_probe.camera_model, "Ixpress %d-Mp",
                static_cast<int>(static_cast<std::uint32_t>(g_probe.image_height) *
                                 g_probe.image_width / 1000000));
}

// Marks one TIFF directory being read for its scope: counts the nesting and
// records the directory as the RAW's IFD0 when it is the first at the top.
class RawDirectoryScope {
 public:
  RawDirectoryScope(bool is_ifd0, std::uint32_t base) : was_ifd0_(g_probe.reading_ifd0) {
    if (is_ifd0) record_raw_directory(g_probe.raw_ifd0, base);
    g_probe.reading_ifd0 = is_ifd0 && g_probe.raw_ifd0.offset != 0;
    ++g_probe.tiff_dir_depth;
  }
  ~RawDirectoryScope() {
    --g_probe.tiff_dir_depth;
    g_probe.reading_ifd0 = was_ifd0_;
  }
  RawDirectoryScope(const RawDirectoryScope&) = delete;
  RawDirectoryScope& operator=(const RawDirectoryScope&) = delete;

 private:
  bool was_ifd0_;
};

}  // namespace

int read_tiff_dir(std::uint32_t base) {
  NestingGuard guard;
  if (!guard.ok()) return 1;
  if (g_probe.tiff_dir_count >= probe_limits::kMaxTiffDirs) return 1;
  // The first directory read at the top (not nested in another) is the
  // RAW's IFD0; Exif and GPS directories it points to are the RAW's own.
  RawDirectoryScope scope(g_probe.tiff_dir_depth == 0 && !g_probe.raw_ifd0.offset && !g_probe.reading_companion,
                          base);
  unsigned ifd = g_probe.tiff_dir_count++;
  unsigned entries = read_u16();
  if (entries > probe_limits::kMaxTiffDirEntries) return 1;

  while (entries--) {
    if (!take_work()) return 1;
    TagHeader h = read_tag_header(base);
    TiffDirInfo& dir = g_probe.tiff_dirs[ifd];
    switch (h.tag) {
      case 2: case 256: case 61441:
        dir.width = static_cast<std::int32_t>(read_int_of_type(h.type));
        break;
      case 3: case 257: case 61442:
        dir.height = static_cast<std::int32_t>(read_int_of_type(h.type));
        break;
      case 258: case 61443:
        dir.samples_per_pixel = static_cast<std::int32_t>(h.count & 7);
        dir.bits_per_sample = static_cast<std::int32_t>(read_int_of_type(h.type));
        break;
      case 254:
        dir.subfile_type = static_cast<std::int32_t>(read_int_of_type(h.type));
        break;
      case 259:
        dir.compression = read_u16();
        break;
      case 262:
        dir.photometric = read_u16();
        break;
      case 280:
        if (h.type != 4) break;
        g_probe.sensor_decoder = DecoderChoice::recorded;
        [[fallthrough]];
      case 273: case 513: case 61447:
        dir.data_offset = static_cast<std::int32_t>(read_u32() + base);
        probe_directory_jpeg(dir);
        break;
      case 277:
        dir.samples_per_pixel = static_cast<std::int32_t>(read_int_of_type(h.type) & 7);
        break;
      case 279: case 514: case 61448:
        dir.byte_count = static_cast<std::int32_t>(read_u32());
        break;
      case 324:
        dir.data_offset = static_cast<std::int32_t>(h.count > 1 ? probe_tell() : read_u32());
        if (h.count == 4) {
          g_probe.sensor_decoder = DecoderChoice::recorded;
          g_probe.raw_supported = 5;
        }
        break;
      case 274:
        dir.orientation = EXIF_TO_ORIENTATION[read_u16() & 7] - '0';
        break;
      case 270:
        probe_read(g_probe.image_description, 512);
        break;
      case 271:
        read_text_line(g_probe.camera_make, 64);
        if (g_probe.reading_ifd0) std::memcpy(g_probe.recorded_make, g_probe.camera_make, 64);
        break;
      case 272:
        read_text_line(g_probe.camera_model, 64);
        if (g_probe.reading_ifd0) std::memcpy(g_probe.recorded_model, g_probe.camera_model, 64);
        break;
      case 315:
        probe_read(g_probe.artist_name, 64);
        break;
      case 306:
        read_ranked_exif_time(kCaptureTimeModified);
        break;
      case 11: case 305: {
        char software[64] = {};
        read_text_line(software, 64);
        if (is_processing_software(software)) g_probe.raw_supported = 0;
        break;
      }
      case 23:
        if (h.type == 3) g_probe.iso_rating = read_u16();
        break;
      case 5:
        g_probe.image_width = read_u16();
        break;
      case 6:
        g_probe.image_height = read_u16();
        break;
      case 7:
        g_probe.image_width = static_cast<std::uint16_t>(g_probe.image_width + read_u16());
        break;
      case 50829: {
        std::uint32_t top = read_int_of_type(h.type);
        std::uint32_t left = read_int_of_type(h.type);
        g_probe.image_height = static_cast<std::uint16_t>(read_int_of_type(h.type) - top);
        g_probe.image_width = static_cast<std::uint16_t>(read_int_of_type(h.type) - left);
        break;
      }
      case 33434:
        g_probe.exposure_seconds = static_cast<float>(read_real_of_type(h.type));
        g_probe.exposure_recorded = true;
        break;
      case 33437:
        g_probe.f_number = static_cast<float>(read_real_of_type(h.type));
        g_probe.f_number_recorded = true;
        break;
      case 37386:
        g_probe.focal_length_mm = static_cast<float>(read_real_of_type(h.type));
        break;
      case 46:
        if (h.type != 7) break;
        if (probe_getc() != 0xFF || probe_getc() != 0xD8) break;
        g_probe.preview_offset = probe_tell() - 2;
        g_probe.preview_length = h.count;
        note_embedded_image("TIFF tag 46", probe_tell() - 2, h.count);
        break;
      case 34665:
        probe_seek(static_cast<std::uint32_t>(read_u32() + base));
        read_exif_dir(base);
        break;
      case 34853:
        probe_seek(static_cast<std::uint32_t>(read_u32() + base));
        read_gps_dir(base);
        break;
      case 33424: case 65024:
        probe_seek(static_cast<std::uint32_t>(read_u32() + base));
        read_kodak_dir(base);
        break;
      case 330:
        if (field_text(g_probe.camera_model) == "DSLR-A100" && dir.width == 3872) {
          g_probe.sensor_decoder = DecoderChoice::recorded;
          g_probe.raw_offset = read_u32() + base;
          // The following tags of this directory describe another image.
          if (g_probe.tiff_dir_count < probe_limits::kMaxTiffDirs) ifd = g_probe.tiff_dir_count++;
          break;
        }
        for (std::uint32_t i = 0; i < h.count; ++i) {
          if (!take_work()) break;
          std::int64_t here = probe_tell();
          probe_seek(static_cast<std::uint32_t>(read_u32() + base));
          if (read_tiff_dir(base)) break;
          probe_seek(here + 4);
        }
        break;
      case 61440:
        read_tiff_dir(base);
        break;
      case 50740:
        if (g_probe.dng_version != 0) break;
        {
          std::uint32_t p = read_u32() + base;
          read_minolta_blocks(p);
          probe_seek(p);
          read_tiff_dir(base);
        }
        break;
      case 50459: {
        std::uint16_t order = g_probe.byte_order;
        std::uint32_t count = g_probe.tiff_dir_count;
        std::uint32_t q = static_cast<std::uint32_t>(probe_tell());
        g_probe.byte_order = read_u16();
        read_u16();
        probe_seek(static_cast<std::uint32_t>(q + read_u32()));
        read_tiff_dir(q);
        g_probe.tiff_dir_count = count;
        g_probe.byte_order = order;
        break;
      }
      case 29264:
        read_minolta_blocks(static_cast<std::uint32_t>(probe_tell()));
        g_probe.sensor_width = 0;
        break;
      case 50706: {
        std::uint8_t v[4] = {};
        for (auto& b : v) b = static_cast<std::uint8_t>(probe_getc());
        g_probe.dng_version = static_cast<std::uint32_t>(v[0]) << 24 | v[1] << 16 | v[2] << 8 | v[3];
        if (!g_probe.camera_make[0]) set_text(g_probe.camera_make, "DNG");
        g_probe.raw_supported = 1;
        break;
      }
      case 50458:
        if (!g_probe.camera_make[0]) set_text(g_probe.camera_make, "Hasselblad");
        break;
      case 400:
        set_text(g_probe.camera_make, "Sarnoff");
        break;
      case 34303:
        set_text(g_probe.camera_make, "Leaf");
        break;
      case 34310:
        read_leaf_packets(static_cast<std::uint32_t>(probe_tell()));
        set_text(g_probe.camera_make, "Leaf");
        break;
      case 46275:
        set_text(g_probe.camera_make, "Imacon");
        g_probe.raw_offset = static_cast<std::uint32_t>(probe_tell());
        g_probe.imacon_image_length = h.count;
        break;
      case 46279:
        if (g_probe.imacon_image_length) read_imacon_geometry();
        break;
      case 65026:
        if (h.type == 2) read_text_line(g_probe.model_detail, 64);
        break;
      case 33405:
        read_text_line(g_probe.model_detail, 64);
        break;
      case 34675: case 50831:
        g_probe.icc_profile_offset = static_cast<std::uint32_t>(probe_tell());
        g_probe.icc_profile_length = h.count;
        break;
      case 29184:
        g_probe.sr2_offset = read_u32();
        break;
      case 29185:
        g_probe.sr2_length = read_u32();
        break;
      case 29217:
        g_probe.sr2_key = read_u32();
        break;
      default:
        // Colour and sensor-decoding tags, and tags this system never needs.
        break;
    }
    probe_seek(h.next);
  }
  const TiffDirInfo& dir = g_probe.tiff_dirs[ifd];
  if (dir.byte_count > 0) {
    note_embedded_image("TIFF directory", static_cast<std::uint32_t>(dir.data_offset),
                        static_cast<std::uint32_t>(dir.byte_count),
                        dir.width > 0 ? static_cast<unsigned>(dir.width) : 0,
                        dir.height > 0 ? static_cast<unsigned>(dir.height) : 0);
  }
  // The Sony SR2 private block holds only scrambled colour data; it is
  // announced but never read, so nothing of it can mislead the probe.
  return 0;
}
