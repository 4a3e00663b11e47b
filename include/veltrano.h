/*
 * libveltrano: the embedded JPEG previews of camera RAW files, for programs.
 *
 * One call probes a file and hands out its preview as one complete JPEG in a
 * heap buffer; another says what the file records (camera, capture time,
 * exposure, orientation, the preview's size).
 *
 * Conventions:
 * - Paths are UTF-8 (on Windows they are converted to UTF-16 inside).
 * - Every call returns a status: VELTRANO_OK (0) or one of the error codes
 *   below; veltrano_strerror() gives a short English text for each.
 * - Calls on different threads may run at the same time; a thread makes one
 *   call at a time (the diagnostic handler must not call back in).
 * - The library never prints, never aborts, never exits and never jumps out
 *   of a call: every failure comes back as a status.
 * - Structures are plain C; texts in them are NUL-ended byte strings as the
 *   file records them (normally ASCII), cut to fit their field.
 */
#ifndef VELTRANO_H
#define VELTRANO_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(VELTRANO_STATIC)
#    define VELTRANO_API
#  elif defined(VELTRANO_BUILDING_LIBRARY)
#    define VELTRANO_API __declspec(dllexport)
#  else
#    define VELTRANO_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define VELTRANO_API __attribute__((visibility("default")))
#else
#  define VELTRANO_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The interface's version: raised when a call or structure changes. */
#define VELTRANO_API_VERSION 1

/* Status codes. */
enum {
  VELTRANO_OK = 0,
  VELTRANO_ERROR_NOT_FOUND = 1,        /* no file at the path */
  VELTRANO_ERROR_NOT_READABLE = 2,     /* it cannot be read: no permission, a folder, a read error */
  VELTRANO_ERROR_NO_PREVIEW = 3,       /* a RAW file, but it holds no usable JPEG preview */
  VELTRANO_ERROR_NOT_RAW = 4,          /* not a RAW file this library reads */
  VELTRANO_ERROR_OUT_OF_MEMORY = 5,
  VELTRANO_ERROR_INVALID_ARGUMENT = 6, /* a null pointer where one is required, an unknown option */
  VELTRANO_ERROR_EXISTS = 7,           /* veltrano_extract_to_file: the destination exists */
  VELTRANO_ERROR_WRITE = 8,            /* veltrano_extract_to_file: the destination cannot be written */
  VELTRANO_ERROR_INTERNAL = 9,         /* an unexpected failure inside the library */
  VELTRANO_ERROR_CANCELLED = 10        /* the caller's cancel flag was set (see veltrano_options) */
};

/* Which Exif an extracted preview carries. */
enum {
  VELTRANO_EXIF_DEFAULT = 0, /* what the veltrano command does by default */
  VELTRANO_EXIF_BASIC = 1,   /* the preview's own Exif; a small block built from the RAW when it has none */
  VELTRANO_EXIF_FULL = 2,    /* an Exif segment built from the RAW's own directories, replacing the preview's */
  VELTRANO_EXIF_NONE = 3     /* nothing inserted: the camera's bytes exactly */
};

/* Flags of veltrano_options (veltrano_extract_to_file only). */
#define VELTRANO_OVERWRITE 1u     /* replace an existing destination (atomically) */
#define VELTRANO_NO_KEEP_TIMES 2u /* do not give the output the RAW file's modification time */

/* Options of an extraction; a null pointer means all defaults (all zero). */
typedef struct veltrano_options {
  int exif;             /* VELTRANO_EXIF_* */
  unsigned flags;       /* VELTRANO_OVERWRITE, VELTRANO_NO_KEEP_TIMES */
  const char *software; /* Software text of an Exif block written here (at most
                           31 bytes are used); NULL: "Veltrano v<version>" */
  const int *cancel;    /* NULL, or a flag another thread may set (non-zero) to
                           cancel: it is read before the probe starts and before
                           the result is handed out or written, and once set the
                           call returns VELTRANO_ERROR_CANCELLED with no buffer
                           and nothing written. Set it with an atomic store. */
} veltrano_options;

/* What a probe found. Numbers are 0 where the file records none. */
typedef struct veltrano_info {
  char make[128];              /* camera maker and model as the file records them */
  char model[128];             /* ("NIKON CORPORATION", "NIKON D7100") */
  /* Capture time as the camera's clock showed it, "YYYY-MM-DDThh:mm:ss",
     with the recorded offset from UTC appended ("+09:00") where the file
     records one; empty when none is recorded. */
  char capture_time[40];
  char capture_offset[8];      /* the recorded offset alone, or empty */
  int64_t capture_seconds;     /* the same clock reading as seconds since
                                  1970-01-01 counted as if UTC; 0 = none */
  double exposure_seconds;
  double f_number;
  double iso;
  double focal_length_mm;
  int orientation;             /* Exif Orientation 1-8 (1 = as stored) */
  int rotated;                 /* 1 when display swaps width and height (5-8) */
  int has_preview;             /* 1 when the file holds a usable JPEG preview */
  uint32_t preview_width;      /* the preview's pixel size (0 when unknown) */
  uint32_t preview_height;
  uint32_t preview_length;     /* its bytes in the file */
  char preview_kind[16];       /* "jpeg" for an extractable preview, else the kind found, or empty */
  uint32_t image_count;        /* embedded images found in the file */
  int exif_inserted;           /* extraction: 1 when the buffer's Exif segment was written here */
  int system_error;            /* the operating system's error number behind a
                                  NOT_FOUND, NOT_READABLE or WRITE status, else 0 */
} veltrano_info;

/* The library's version, e.g. "1.50". */
VELTRANO_API const char *veltrano_version(void);

/* A short text for a status code ("no embedded JPEG preview"); never NULL. */
VELTRANO_API const char *veltrano_strerror(int status);

/* Probes the file and fills *info. VELTRANO_OK for a RAW file this library
   reads, with or without a preview (see info->has_preview). For
   VELTRANO_ERROR_NOT_RAW *info still says what was found. */
VELTRANO_API int veltrano_probe(const char *path, veltrano_info *info);

/* Extracts the preview: on VELTRANO_OK *buffer holds *length bytes of a
   complete JPEG file, to be released with veltrano_free(). On any error
   *buffer is NULL and *length 0. info may be NULL; when given it is filled
   from the same probe (also on VELTRANO_ERROR_NO_PREVIEW). */
VELTRANO_API int veltrano_extract(const char *path, const veltrano_options *options, unsigned char **buffer,
                                  size_t *length, veltrano_info *info);

/* Extracts the preview and writes it to dest: whole or not at all (through a
   temporary file beside it), never over an existing file unless
   VELTRANO_OVERWRITE is set, with the RAW file's modification time unless
   VELTRANO_NO_KEEP_TIMES is set. info may be NULL. */
VELTRANO_API int veltrano_extract_to_file(const char *path, const char *dest, const veltrano_options *options,
                                          veltrano_info *info);

/* Releases a buffer from veltrano_extract (NULL is allowed). */
VELTRANO_API void veltrano_free(void *buffer);

/* Where the probe's diagnostics go (a corrupt structure, running out of
   memory): by default nowhere. The handler gets the file's name (UTF-8, may
   be empty) and one line of text; it may run on any thread that is inside a
   call, at the same time on several, and must not call the library. Pass
   NULL to drop them again. Takes effect for calls that start after it. */
typedef void (*veltrano_diagnostic_fn)(void *context, const char *file, const char *message);
VELTRANO_API void veltrano_set_diagnostic_handler(veltrano_diagnostic_fn handler, void *context);

#ifdef __cplusplus
}
#endif

#endif /* VELTRANO_H */
