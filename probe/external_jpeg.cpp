// Some cameras write their metadata into a JPEG beside the raw file. The
// companion's name is derived from the raw file's name by the camera's own
// numbering rules; its TIFF structure is read for metadata only.
#include <cctype>
#include <cstring>
#include <string>

#include "platform/native_file.h"
#include "probe/probe_input.h"
#include "probe/readers.h"

namespace {

bool equals_ignoring_case(const std::string& a, const char* b) {
  std::size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace

void parse_external_jpeg() {
  const std::string name = g_probe.probe_file_name;
  std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return;
  std::size_t slash = name.rfind('/');
  if (slash == std::string::npos) slash = name.rfind('\\');
  std::size_t file = slash == std::string::npos ? 0 : slash + 1;
  // Only eight-character base names with a four-character extension.
  if (name.size() - dot != 4 || dot < file || dot - file != 8) return;

  std::string jname;
  try {
    jname = name;
  } catch (const std::bad_alloc&) {
    require_memory(nullptr, "parse_external_jpeg()");
  }
  std::string ext = name.substr(dot);
  if (!equals_ignoring_case(ext, ".jpg")) {
    jname.replace(dot, 4, std::isupper(static_cast<unsigned char>(ext[1])) ? ".JPG" : ".jpg");
    if (std::isdigit(static_cast<unsigned char>(name[file]))) {
      // Digits first: the companion swaps the two halves of the base name.
      std::memcpy(&jname[file], &name[file + 4], 4);
      std::memcpy(&jname[file + 4], &name[file], 4);
    }
  } else {
    // A .jpg raw file: the companion carries the next number.
    std::size_t i = dot;
    while (i > file && jname[i - 1] == '9') jname[--i] = '0';
    if (i > file) ++jname[i - 1];
  }

  if (jname != name) {
    std::unique_ptr<NativeFile> companion = NativeFile::open_for_reading(native_from_utf8(jname));
    if (companion) {
      ProbeFile file_reader(std::move(companion));
      ProbeFile* saved = g_probe.probe_file;
      g_probe.probe_file = &file_reader;
      g_probe.reading_companion = true;
      // Images the companion holds lie in another file: they are no
      // previews of this one, and no report lists them as its own.
      const std::uint32_t images = g_probe.embedded_image_count;
      try {
        read_tiff_file(12);
      } catch (...) {
        g_probe.probe_file = saved;
        g_probe.reading_companion = false;
        g_probe.embedded_image_count = images;
        throw;
      }
      g_probe.probe_file = saved;
      g_probe.reading_companion = false;
      g_probe.embedded_image_count = images;
      g_probe.preview_offset = 0;
      g_probe.raw_supported = 1;
    }
  }
  if (g_probe.capture_time == 0) probe_diagnostic(false, "Failed to read metadata from %s", jname.c_str());
}
