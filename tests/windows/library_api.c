/* The C interface as a Windows program uses it, through veltrano.dll or the
   static library: paths are UTF-8 and reach the file system as wide paths,
   so a file in a folder named in three scripts is found, extracted and
   written, and the error codes carry the system's reasons.

     library_api SAMPLE SCRATCH

   SAMPLE is the demonstration RAW file, SCRATCH a folder the test may fill. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "veltrano.h"

static int failures;

#define CHECK(cond)                                                 \
  do {                                                              \
    if (!(cond)) {                                                  \
      fprintf(stderr, "%s:%d: CHECK(%s) failed\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                   \
    }                                                               \
  } while (0)

static void to_wide(const char *utf8, wchar_t *out, int size) {
  if (!MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, out, size)) out[0] = 0;
}

/* Whole contents of a file named in UTF-8, read with the wide calls; the
   caller frees it. */
static unsigned char *read_file(const char *utf8, size_t *length) {
  wchar_t wide[MAX_PATH];
  to_wide(utf8, wide, MAX_PATH);
  HANDLE file = CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return NULL;
  DWORD size = GetFileSize(file, NULL), got = 0;
  unsigned char *bytes = (unsigned char *)malloc(size ? size : 1);
  if (bytes && !ReadFile(file, bytes, size, &got, NULL)) got = 0;
  CloseHandle(file);
  *length = got;
  return bytes;
}

int main(int argc, char **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: library_api SAMPLE SCRATCH\n");
    return 2;
  }
  /* The program's arguments come in the ANSI code page; the folders made
     here are named in UTF-8 from the start. */
  char folder[MAX_PATH], raw[MAX_PATH], jpeg[MAX_PATH], missing[MAX_PATH], text[MAX_PATH];
  wchar_t wide[MAX_PATH], sample[MAX_PATH];
  snprintf(folder, sizeof folder, "%s\\Caf\xC3\xA9 \xD0\xA4\xD0\xBE\xD1\x82\xD0\xBE \xE5\x86\x99\xE7\x9C\x9F",
           argv[2]);
  snprintf(raw, sizeof raw, "%s\\\xC3\xA9t\xC3\xA9.tif", folder);
  snprintf(jpeg, sizeof jpeg, "%s\\\xC3\xA9t\xC3\xA9.jpg", folder);
  snprintf(missing, sizeof missing, "%s\\\xC3\xA9t\xC3\xA9-2.tif", folder);
  snprintf(text, sizeof text, "%s\\notes \xE2\x80\x93 1.txt", folder);
  to_wide(folder, wide, MAX_PATH);
  CreateDirectoryW(wide, NULL);
  MultiByteToWideChar(CP_ACP, 0, argv[1], -1, sample, MAX_PATH);
  to_wide(raw, wide, MAX_PATH);
  DeleteFileW(wide);
  CHECK(CopyFileW(sample, wide, FALSE));
  to_wide(jpeg, wide, MAX_PATH);
  DeleteFileW(wide);
  to_wide(text, wide, MAX_PATH);
  HANDLE notes = CreateFileW(wide, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  CHECK(notes != INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(notes, "shopping list\r\n", 15, &written, NULL);
  CloseHandle(notes);

  veltrano_info info;
  CHECK(veltrano_probe(raw, &info) == VELTRANO_OK);
  CHECK(info.has_preview == 1 && info.preview_width > 0 && info.preview_length > 0);

  unsigned char *buffer = NULL;
  size_t length = 0;
  veltrano_options none = {VELTRANO_EXIF_NONE, 0, NULL, NULL};
  CHECK(veltrano_extract(raw, &none, &buffer, &length, NULL) == VELTRANO_OK);
  CHECK(buffer && length == info.preview_length && buffer[0] == 0xFF && buffer[1] == 0xD8);

  /* The file written under the UTF-8 name holds the bytes the buffer does,
     and a second write does not replace it. */
  CHECK(veltrano_extract_to_file(raw, jpeg, &none, NULL) == VELTRANO_OK);
  size_t file_length = 0;
  unsigned char *file_bytes = read_file(jpeg, &file_length);
  CHECK(file_bytes && buffer && file_length == length && memcmp(file_bytes, buffer, length) == 0);
  CHECK(veltrano_extract_to_file(raw, jpeg, &none, NULL) == VELTRANO_ERROR_EXISTS);
  free(file_bytes);
  veltrano_free(buffer);

  buffer = (unsigned char *)1;
  CHECK(veltrano_extract(missing, NULL, &buffer, &length, &info) == VELTRANO_ERROR_NOT_FOUND);
  CHECK(buffer == NULL && length == 0 && info.system_error != 0);
  CHECK(veltrano_probe(text, &info) == VELTRANO_ERROR_NOT_RAW);
  CHECK(veltrano_probe(folder, &info) == VELTRANO_ERROR_NOT_READABLE);

  if (failures) fprintf(stderr, "%d checks failed\n", failures);
  else printf("library_api: all checks passed\n");
  return failures ? 1 : 0;
}
