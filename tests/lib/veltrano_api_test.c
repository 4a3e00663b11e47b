/* The C interface as a C program uses it (compiled as C, linked against the
 * shared or the static library):
 *
 *   veltrano_api_test FILES_DIR SCRATCH_DIR
 *
 * FILES_DIR is what make_test_files wrote (cases.txt and the files it
 * lists); SCRATCH_DIR is an empty folder for the files written here.
 * Prints one line per failed check and "N passed, N failed" at the end. */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#define dup _dup
#define dup2 _dup2
#define close _close
#else
#include <pthread.h>
#include <unistd.h>
#include <utime.h>
#endif

#include "veltrano.h"

static int passed, failed;

#define CHECK(cond, ...)                                          \
  do {                                                            \
    if (cond) {                                                   \
      ++passed;                                                   \
    } else {                                                      \
      ++failed;                                                   \
      printf("FAILED %s:%d: %s: ", __FILE__, __LINE__, #cond);   \
      printf(__VA_ARGS__);                                        \
      printf("\n");                                               \
    }                                                             \
  } while (0)

static char files_dir[1024], scratch_dir[1024];
static time_t modified_time(const char *path);

static void join(char *out, size_t size, const char *dir, const char *name) {
  if (snprintf(out, size, "%s/%s", dir, name) >= (int)size) {
    printf("path too long: %s/%s\n", dir, name);
    exit(2);
  }
}

/* Copies a text into a field; an overlong one is cut. */
static void set_field(char *field, size_t size, const char *text) {
  if (snprintf(field, size, "%s", text) >= (int)size) field[size - 1] = 0;
}

static unsigned char *read_all(const char *path, size_t *length) {
  FILE *f = fopen(path, "rb");
  unsigned char *data = NULL;
  long n;
  *length = 0;
  if (!f) return NULL;
  if (fseek(f, 0, SEEK_END) == 0 && (n = ftell(f)) >= 0 && fseek(f, 0, SEEK_SET) == 0) {
    data = (unsigned char *)malloc((size_t)n + 1);
    if (data && fread(data, 1, (size_t)n, f) == (size_t)n) {
      *length = (size_t)n;
    } else {
      free(data);
      data = NULL;
    }
  }
  fclose(f);
  return data;
}

/* Where needle lies in haystack, or -1. */
static long find_bytes(const unsigned char *haystack, size_t n, const unsigned char *needle, size_t m) {
  size_t i;
  if (m == 0 || m > n) return -1;
  for (i = 0; i + m <= n; ++i)
    if (haystack[i] == needle[0] && memcmp(haystack + i, needle, m) == 0) return (long)i;
  return -1;
}

struct test_case {
  char name[64], expect[16], make[64], model[64];
};
static struct test_case cases[32];
static int case_count;

static void read_cases(void) {
  char path[1200], line[512];
  FILE *f;
  join(path, sizeof path, files_dir, "cases.txt");
  f = fopen(path, "r");
  if (!f) {
    printf("cannot read %s\n", path);
    exit(2);
  }
  while (case_count < 32 && fgets(line, sizeof line, f)) {
    struct test_case *c = &cases[case_count];
    char *field[4];
    int n = 0;
    char *p = line;
    line[strcspn(line, "\n")] = 0;
    while (n < 4 && p) {
      field[n++] = p;
      p = strchr(p, '\t');
      if (p) *p++ = 0;
    }
    if (n != 4) continue;
    set_field(c->name, sizeof c->name, field[0]);
    set_field(c->expect, sizeof c->expect, field[1]);
    set_field(c->make, sizeof c->make, field[2]);
    set_field(c->model, sizeof c->model, field[3]);
    ++case_count;
  }
  fclose(f);
}

static void test_version_and_texts(void) {
  int codes[] = {VELTRANO_OK, VELTRANO_ERROR_NOT_FOUND, VELTRANO_ERROR_NOT_READABLE, VELTRANO_ERROR_NO_PREVIEW,
                 VELTRANO_ERROR_NOT_RAW, VELTRANO_ERROR_OUT_OF_MEMORY, VELTRANO_ERROR_INVALID_ARGUMENT,
                 VELTRANO_ERROR_EXISTS, VELTRANO_ERROR_WRITE, VELTRANO_ERROR_INTERNAL, VELTRANO_ERROR_CANCELLED};
  size_t i, j, n = sizeof codes / sizeof codes[0];
  CHECK(strcmp(veltrano_version(), EXPECTED_VERSION) == 0, "version %s", veltrano_version());
  for (i = 0; i < n; ++i) {
    CHECK(veltrano_strerror(codes[i]) && veltrano_strerror(codes[i])[0], "code %d has no text", codes[i]);
    for (j = 0; j < i; ++j)
      CHECK(strcmp(veltrano_strerror(codes[i]), veltrano_strerror(codes[j])) != 0, "codes %d and %d share a text",
            codes[i], codes[j]);
  }
  CHECK(strcmp(veltrano_strerror(12345), "unknown status") == 0, "%s", veltrano_strerror(12345));
}

/* Every case file: probe and extraction in each mode agree with what the
 * file is, and with each other. */
static void test_cases(void) {
  int i;
  for (i = 0; i < case_count; ++i) {
    const struct test_case *c = &cases[i];
    char path[1200];
    veltrano_info probed, info;
    veltrano_options options;
    unsigned char *basic = NULL, *none = NULL, *full = NULL, *file;
    size_t basic_length = 0, none_length = 0, full_length = 0, file_length = 0;
    int status, expect_preview = strcmp(c->expect, "preview") == 0;
    int expect_not_raw = strcmp(c->expect, "not-raw") == 0;
    join(path, sizeof path, files_dir, c->name);
    file = read_all(path, &file_length);
    CHECK(file != NULL, "%s: cannot read the test file", c->name);

    status = veltrano_probe(path, &probed);
    CHECK(status == (expect_not_raw ? VELTRANO_ERROR_NOT_RAW : VELTRANO_OK), "%s: probe says %s", c->name,
          veltrano_strerror(status));
    CHECK(probed.has_preview == expect_preview, "%s: has_preview %d", c->name, probed.has_preview);
    if (!expect_not_raw) {
      CHECK(strcmp(probed.make, c->make) == 0 && strcmp(probed.model, c->model) == 0, "%s: \"%s\" \"%s\"",
            c->name, probed.make, probed.model);
    }

    memset(&options, 0, sizeof options);
    options.exif = VELTRANO_EXIF_NONE;
    status = veltrano_extract(path, &options, &none, &none_length, &info);
    if (!expect_preview) {
      CHECK(status == (expect_not_raw ? VELTRANO_ERROR_NOT_RAW : VELTRANO_ERROR_NO_PREVIEW), "%s: extract says %s",
            c->name, veltrano_strerror(status));
      CHECK(none == NULL && none_length == 0, "%s: a failed extraction left a buffer", c->name);
      free(file);
      continue;
    }
    CHECK(status == VELTRANO_OK, "%s: extract says %s", c->name, veltrano_strerror(status));
    if (status != VELTRANO_OK) {
      free(file);
      continue;
    }
    /* The one pass reports what the probe alone reports. */
    CHECK(strcmp(info.make, probed.make) == 0 && strcmp(info.model, probed.model) == 0 &&
              info.preview_width == probed.preview_width && info.preview_height == probed.preview_height &&
              info.orientation == probed.orientation && info.image_count == probed.image_count &&
              info.capture_seconds == probed.capture_seconds,
          "%s: the extraction's report differs from the probe's", c->name);
    CHECK(probed.preview_width > 0 && probed.preview_height > 0, "%s: preview size %ux%u", c->name,
          probed.preview_width, probed.preview_height);
    CHECK(strcmp(probed.preview_kind, "jpeg_thumb") == 0, "%s: kind %s", c->name, probed.preview_kind);
    /* none: the camera's bytes exactly, as they lie in the file. */
    CHECK(info.exif_inserted == 0, "%s: exif inserted in mode none", c->name);
    CHECK(none_length == probed.preview_length, "%s: %zu bytes of %u", c->name, none_length, probed.preview_length);
    CHECK(none_length > 2 && none[0] == 0xFF && none[1] == 0xD8, "%s: no start marker", c->name);
    CHECK(file && find_bytes(file, file_length, none, none_length) >= 0, "%s: the bytes are not the file's",
          c->name);

    options.exif = VELTRANO_EXIF_BASIC;
    status = veltrano_extract(path, &options, &basic, &basic_length, &info);
    CHECK(status == VELTRANO_OK, "%s: basic says %s", c->name, veltrano_strerror(status));
    if (status == VELTRANO_OK) {
      const int own_exif = memcmp(none + 6, "Exif", 5) == 0;
      CHECK(info.exif_inserted == !own_exif, "%s: exif_inserted %d", c->name, info.exif_inserted);
      if (own_exif) {
        CHECK(basic_length == none_length && memcmp(basic, none, none_length) == 0, "%s: own Exif not kept",
              c->name);
      } else {
        CHECK(basic_length == none_length + 1386 && memcmp(basic + 2, "\xFF\xE1\x05\x68" "Exif", 8) == 0 &&
                  memcmp(basic + 1388, none + 2, none_length - 2) == 0,
              "%s: the inserted block is not where it belongs", c->name);
      }
    }

    options.exif = VELTRANO_EXIF_FULL;
    options.software = "C test";
    status = veltrano_extract(path, &options, &full, &full_length, &info);
    CHECK(status == VELTRANO_OK && info.exif_inserted == 1, "%s: full says %s, inserted %d", c->name,
          veltrano_strerror(status), info.exif_inserted);
    if (status == VELTRANO_OK)
      CHECK(find_bytes(full, full_length, (const unsigned char *)"C test", 7) >= 0, "%s: Software text missing",
            c->name);
    veltrano_free(none);
    veltrano_free(basic);
    veltrano_free(full);
    free(file);
  }
}

static const char *first_case(const char *expect) {
  int i;
  for (i = 0; i < case_count; ++i)
    if (strcmp(cases[i].expect, expect) == 0) return cases[i].name;
  return NULL;
}

static void test_errors(void) {
  char path[1200];
  veltrano_info info;
  veltrano_options options;
  unsigned char *buffer = (unsigned char *)&info; /* must come back NULL */
  size_t length = 99;
  int status;

  join(path, sizeof path, files_dir, "no-such-file.cr2");
  status = veltrano_extract(path, NULL, &buffer, &length, &info);
  CHECK(status == VELTRANO_ERROR_NOT_FOUND && info.system_error == ENOENT, "missing file: %s, errno %d",
        veltrano_strerror(status), info.system_error);
  CHECK(buffer == NULL && length == 0, "a failed extraction left a buffer");
  CHECK(veltrano_probe(path, &info) == VELTRANO_ERROR_NOT_FOUND, "probe of a missing file");
  join(path, sizeof path, files_dir, "no-such-folder/x.cr2");
  CHECK(veltrano_probe(path, &info) == VELTRANO_ERROR_NOT_FOUND, "missing folder");

  status = veltrano_extract(files_dir, NULL, &buffer, &length, &info);
  CHECK(status == VELTRANO_ERROR_NOT_READABLE && info.system_error == EISDIR, "a folder: %s, errno %d",
        veltrano_strerror(status), info.system_error);
  CHECK(veltrano_probe(files_dir, &info) == VELTRANO_ERROR_NOT_READABLE, "probe of a folder");

  join(path, sizeof path, files_dir, first_case("preview"));
  CHECK(veltrano_extract(NULL, NULL, &buffer, &length, &info) == VELTRANO_ERROR_INVALID_ARGUMENT, "null path");
  CHECK(veltrano_extract(path, NULL, NULL, &length, &info) == VELTRANO_ERROR_INVALID_ARGUMENT, "null buffer");
  CHECK(veltrano_probe(path, NULL) == VELTRANO_ERROR_INVALID_ARGUMENT, "null info");
  memset(&options, 0, sizeof options);
  options.exif = 42;
  CHECK(veltrano_extract(path, &options, &buffer, &length, NULL) == VELTRANO_ERROR_INVALID_ARGUMENT,
        "unknown Exif mode");
  options.exif = 0;
  options.flags = 0x100;
  CHECK(veltrano_extract(path, &options, &buffer, &length, NULL) == VELTRANO_ERROR_INVALID_ARGUMENT,
        "unknown flag");
  CHECK(buffer == NULL, "a refused call left a buffer");
  veltrano_free(NULL);
}

/* A cancel flag that is set: no buffer, nothing written. */
static void test_cancel(void) {
  char raw[1200], dest[1200];
  int flag = 1;
  veltrano_options options;
  unsigned char *buffer = NULL;
  size_t length = 0;
  join(raw, sizeof raw, files_dir, first_case("preview"));
  join(dest, sizeof dest, scratch_dir, "cancelled.jpg");
  memset(&options, 0, sizeof options);
  options.cancel = &flag;
  CHECK(veltrano_extract(raw, &options, &buffer, &length, NULL) == VELTRANO_ERROR_CANCELLED && buffer == NULL,
        "a cancelled extraction went on");
  CHECK(veltrano_extract_to_file(raw, dest, &options, NULL) == VELTRANO_ERROR_CANCELLED, "cancelled write");
  CHECK(modified_time(dest) == (time_t)-1, "a cancelled call wrote its file");
  flag = 0;
  CHECK(veltrano_extract(raw, &options, &buffer, &length, NULL) == VELTRANO_OK && buffer, "a clear flag cancels");
  veltrano_free(buffer);
}

static time_t modified_time(const char *path) {
  struct stat st;
  return stat(path, &st) == 0 ? st.st_mtime : (time_t)-1;
}

static void set_modified_time(const char *path, time_t when) {
#ifdef _WIN32
  (void)path;
  (void)when; /* Windows: the times are the Windows suite's business */
#else
  struct utimbuf times;
  times.actime = when;
  times.modtime = when;
  utime(path, &times);
#endif
}

static void test_extract_to_file(void) {
  char raw[1200], dest[1200], missing[1200], utf8[1200];
  unsigned char *expected = NULL, *written;
  size_t expected_length = 0, written_length = 0, raw_length = 0, after_length = 0;
  unsigned char *raw_before, *raw_after;
  veltrano_options options;
  veltrano_info info;
  int status;
  const time_t past = 1500000000; /* 2017-07-14 */

  join(raw, sizeof raw, files_dir, first_case("preview"));
  join(dest, sizeof dest, scratch_dir, "out.jpg");
  set_modified_time(raw, past);
  CHECK(veltrano_extract(raw, NULL, &expected, &expected_length, NULL) == VELTRANO_OK, "extract");

  status = veltrano_extract_to_file(raw, dest, NULL, &info);
  CHECK(status == VELTRANO_OK, "to file: %s", veltrano_strerror(status));
  written = read_all(dest, &written_length);
  CHECK(written && written_length == expected_length && memcmp(written, expected, expected_length) == 0,
        "the file is not the buffer");
  free(written);
#ifndef _WIN32
  CHECK(modified_time(dest) == past, "the output does not carry the RAW file's time");
#endif

  /* Never over an existing file, unless asked; then atomically. */
  {
    FILE *f = fopen(dest, "wb");
    if (f) {
      fputs("keep me", f);
      fclose(f);
    }
  }
  status = veltrano_extract_to_file(raw, dest, NULL, &info);
  written = read_all(dest, &written_length);
  CHECK(status == VELTRANO_ERROR_EXISTS && info.system_error == EEXIST, "exists: %s", veltrano_strerror(status));
  CHECK(written && written_length == 7, "an existing file was replaced");
  free(written);
  memset(&options, 0, sizeof options);
  options.flags = VELTRANO_OVERWRITE | VELTRANO_NO_KEEP_TIMES;
  status = veltrano_extract_to_file(raw, dest, &options, &info);
  written = read_all(dest, &written_length);
  CHECK(status == VELTRANO_OK && written && written_length == expected_length, "overwrite: %s",
        veltrano_strerror(status));
  CHECK(modified_time(dest) > past + 86400, "NO_KEEP_TIMES kept the RAW file's time");
  free(written);

  /* The RAW file is never its own destination. */
  raw_before = read_all(raw, &raw_length);
  CHECK(veltrano_extract_to_file(raw, raw, &options, &info) == VELTRANO_ERROR_INVALID_ARGUMENT,
        "overwrite of the RAW file was not refused");
  CHECK(veltrano_extract_to_file(raw, raw, NULL, &info) == VELTRANO_ERROR_EXISTS, "RAW file as destination");
  raw_after = read_all(raw, &after_length);
  CHECK(raw_before && raw_after && raw_length == after_length && memcmp(raw_before, raw_after, raw_length) == 0,
        "the RAW file changed");
  free(raw_before);
  free(raw_after);

  join(missing, sizeof missing, scratch_dir, "no-such-folder/out.jpg");
  status = veltrano_extract_to_file(raw, missing, NULL, &info);
  CHECK(status == VELTRANO_ERROR_WRITE && info.system_error == ENOENT, "missing folder: %s, errno %d",
        veltrano_strerror(status), info.system_error);
  join(missing, sizeof missing, scratch_dir, "none.jpg");
  join(dest, sizeof dest, files_dir, first_case("no-preview"));
  CHECK(veltrano_extract_to_file(dest, missing, NULL, &info) == VELTRANO_ERROR_NO_PREVIEW, "no preview");
  CHECK(modified_time(missing) == (time_t)-1, "a file was written for a RAW without a preview");

  /* UTF-8 paths (UTF-16 inside on Windows). */
  join(utf8, sizeof utf8, scratch_dir, "\xC3\x84pfel \xE2\x80\x93 \xE5\x86\x99\xE7\x9C\x9F.jpg");
  CHECK(veltrano_extract_to_file(raw, utf8, NULL, &info) == VELTRANO_OK, "UTF-8 destination");
  CHECK(veltrano_extract_to_file(raw, utf8, NULL, &info) == VELTRANO_ERROR_EXISTS, "UTF-8 destination exists");
  status = veltrano_probe(utf8, &info);
  CHECK(status == VELTRANO_ERROR_NOT_RAW, "UTF-8 path: probe of the JPEG written there: %s",
        veltrano_strerror(status));
  veltrano_free(expected);
}

/* Several threads extracting at once get what one thread gets. */
#define THREADS 4
#define ROUNDS 20
struct worker {
  int mismatches;
};
static unsigned char *reference[32];
static size_t reference_length[32];

static void run_worker(struct worker *w) {
  int round, i;
  for (round = 0; round < ROUNDS; ++round) {
    for (i = 0; i < case_count; ++i) {
      char path[1200];
      unsigned char *buffer = NULL;
      size_t length = 0;
      veltrano_info info;
      int status;
      join(path, sizeof path, files_dir, cases[i].name);
      status = veltrano_extract(path, NULL, &buffer, &length, &info);
      if ((status == VELTRANO_OK) != (reference[i] != NULL) || length != reference_length[i] ||
          (buffer && memcmp(buffer, reference[i], length) != 0))
        ++w->mismatches;
      veltrano_free(buffer);
    }
  }
}

#ifdef _WIN32
static DWORD WINAPI thread_main(LPVOID p) {
  run_worker((struct worker *)p);
  return 0;
}
#else
static void *thread_main(void *p) {
  run_worker((struct worker *)p);
  return NULL;
}
#endif

static void test_threads(void) {
  struct worker workers[THREADS];
  int i, mismatches = 0;
  for (i = 0; i < case_count; ++i) {
    char path[1200];
    join(path, sizeof path, files_dir, cases[i].name);
    if (veltrano_extract(path, NULL, &reference[i], &reference_length[i], NULL) != VELTRANO_OK) reference[i] = NULL;
  }
  memset(workers, 0, sizeof workers);
#ifdef _WIN32
  {
    HANDLE threads[THREADS];
    for (i = 0; i < THREADS; ++i) threads[i] = CreateThread(NULL, 0, thread_main, &workers[i], 0, NULL);
    WaitForMultipleObjects(THREADS, threads, TRUE, INFINITE);
    for (i = 0; i < THREADS; ++i) CloseHandle(threads[i]);
  }
#else
  {
    pthread_t threads[THREADS];
    for (i = 0; i < THREADS; ++i) pthread_create(&threads[i], NULL, thread_main, &workers[i]);
    for (i = 0; i < THREADS; ++i) pthread_join(threads[i], NULL);
  }
#endif
  for (i = 0; i < THREADS; ++i) mismatches += workers[i].mismatches;
  CHECK(mismatches == 0, "%d results differ from one thread's", mismatches);
  for (i = 0; i < case_count; ++i) veltrano_free(reference[i]);
}

/* The probe's diagnostics reach the handler, and nothing is printed. */
struct diagnostics {
  int count;
  char last[256];
};
static void on_diagnostic(void *context, const char *file, const char *message) {
  struct diagnostics *d = (struct diagnostics *)context;
  ++d->count;
  if (snprintf(d->last, sizeof d->last, "%s|%s", file, message) < 0) d->last[0] = 0;
}

static void test_diagnostics(void) {
  char headerless[1200], err_path[1200];
  unsigned char *buffer = NULL;
  size_t length = 0, err_length = 1;
  struct diagnostics d;
  veltrano_info info;
  int saved, err_fd, i;
  FILE *f;

  /* A file known only by its size, whose camera writes its metadata into a
     companion JPEG: there is none, and the probe says so. */
  join(headerless, sizeof headerless, scratch_dir, "DSCN0001.NEF");
  f = fopen(headerless, "wb");
  if (f) {
    static unsigned char zeros[4096];
    long left = 1581060;
    while (left > 0) {
      size_t n = left < (long)sizeof zeros ? (size_t)left : sizeof zeros;
      fwrite(zeros, 1, n, f);
      left -= (long)n;
    }
    fclose(f);
  }

  join(err_path, sizeof err_path, scratch_dir, "stderr.txt");
  fflush(stderr);
  saved = dup(2);
  err_fd = open(err_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(err_fd, 2);
  memset(&d, 0, sizeof d);
  veltrano_set_diagnostic_handler(on_diagnostic, &d);
  veltrano_probe(headerless, &info);
  veltrano_set_diagnostic_handler(NULL, NULL);
  veltrano_probe(headerless, &info);
  veltrano_extract(headerless, NULL, &buffer, &length, &info);
  for (i = 0; i < case_count; ++i) {
    char path[1200];
    join(path, sizeof path, files_dir, cases[i].name);
    veltrano_extract(path, NULL, &buffer, &length, &info);
    veltrano_free(buffer);
  }
  fflush(stderr);
  dup2(saved, 2);
  close(saved);
  close(err_fd);
  free(read_all(err_path, &err_length));
  CHECK(d.count == 1 && strstr(d.last, "DSCN0001.JPG") != NULL, "handler saw %d: %s", d.count, d.last);
  CHECK(err_length == 0, "the library printed %zu bytes", err_length);
}

/* The scratch folder, made when missing and emptied of what this program
 * writes, so that every run starts alike. */
static void clean_scratch(void) {
  static const char *names[] = {"out.jpg", "none.jpg", "cancelled.jpg", "DSCN0001.NEF", "stderr.txt",
                                "\xC3\x84pfel \xE2\x80\x93 \xE5\x86\x99\xE7\x9C\x9F.jpg"};
  size_t i;
#ifdef _WIN32
  CreateDirectoryA(scratch_dir, NULL);
  for (i = 0; i < sizeof names / sizeof names[0]; ++i) {
    char path[1200];
    wchar_t wide[1200];
    join(path, sizeof path, scratch_dir, names[i]);
    MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, 1200);
    DeleteFileW(wide);
  }
#else
  mkdir(scratch_dir, 0777);
  for (i = 0; i < sizeof names / sizeof names[0]; ++i) {
    char path[1200];
    join(path, sizeof path, scratch_dir, names[i]);
    remove(path);
  }
#endif
}

int main(int argc, char **argv) {
  if (argc != 3) {
    printf("usage: veltrano_api_test FILES_DIR SCRATCH_DIR\n");
    return 2;
  }
  set_field(files_dir, sizeof files_dir, argv[1]);
  set_field(scratch_dir, sizeof scratch_dir, argv[2]);
  clean_scratch();
  read_cases();
  if (case_count < 5 || !first_case("preview") || !first_case("no-preview")) {
    printf("%s/cases.txt lists too few cases\n", files_dir);
    return 2;
  }
  test_version_and_texts();
  test_cases();
  test_errors();
  test_extract_to_file();
  test_cancel();
  test_threads();
  test_diagnostics();
  clean_scratch();
  printf("%d passed, %d failed\n", passed, failed);
  return failed ? 1 : 0;
}
