/// <reference types="node" />

/** What the probe found in a RAW file. Numbers are null where the file records none. */
export interface Info {
  make: string;
  model: string;
  /** The camera's clock reading, "YYYY-MM-DDThh:mm:ss", with the recorded offset ("+09:00") where the file has one. */
  captureTime: string | null;
  /** The recorded offset from UTC alone, or null. */
  captureOffset: string | null;
  /** Exposure time in seconds. */
  exposureTime: number | null;
  fNumber: number | null;
  iso: number | null;
  /** Focal length in millimetres. */
  focalLength: number | null;
  /** Exif Orientation, 1 (as stored) to 8. */
  orientation: number;
  /** The embedded JPEG preview, or null when the file holds no usable one. */
  preview: { width: number; height: number; length: number; kind: string } | null;
  /** Embedded images found in the file (the preview among them). */
  imageCount: number;
}

export interface Preview {
  /** A complete JPEG file. */
  buffer: Buffer;
  /** Pixel size of the preview (0 when the file does not say). */
  width: number;
  height: number;
  /** Exif Orientation, 1 to 8: turn the picture yourself with exif: 'none'. */
  orientation: number;
  /** True when the buffer's Exif segment was written by Veltrano. */
  exifInserted: boolean;
}

/**
 * basic: the preview's own Exif, or a small block built from the RAW when it has none;
 * full: an Exif segment built from the RAW's own directories, replacing the preview's;
 * none: the camera's bytes exactly, nothing inserted.
 * Omitted: what the veltrano command does by default.
 */
export type ExifMode = 'basic' | 'full' | 'none';

export interface CallOptions {
  /** Aborting rejects the promise with an AbortError; a call already running ends and its result is dropped. */
  signal?: AbortSignal;
}

export interface ExtractOptions extends CallOptions {
  exif?: ExifMode;
}

export interface ExtractToFileOptions extends ExtractOptions {
  /** Replace an existing destination (atomically). Default false: an existing file is never touched. */
  overwrite?: boolean;
  /** Give the output the RAW file's modification time. Default true. */
  keepTimes?: boolean;
}

/**
 * Errors carry `code`: 'ENOENT', 'EACCES', 'EISDIR' (or another system code), 'EVELTRANO_NOT_RAW'
 * (not a RAW file this library reads), 'ENOMEM', 'EEXIST' and write errors ('ENOSPC', ...) for
 * extractPreviewToFile, 'ABORT_ERR' (name 'AbortError') after an abort; and `path` (and `dest`).
 */
export interface VeltranoError extends Error {
  code: string;
  path?: string;
  dest?: string;
  errno?: number;
}

/** The library's version, e.g. "1.50". */
export const version: string;

export function probe(path: string | URL, options?: CallOptions): Promise<Info>;

/** Resolves null (never rejects) for a RAW file without an embedded JPEG preview. */
export function extractPreview(path: string | URL, options?: ExtractOptions): Promise<Preview | null>;

/**
 * Writes the preview to dest, whole or not at all. Resolves true when written, false for a RAW file
 * without a preview; rejects with EEXIST when dest exists and overwrite is not set.
 */
export function extractPreviewToFile(path: string | URL, dest: string | URL, options?: ExtractToFileOptions): Promise<boolean>;

/** At most this many calls run at once; the rest wait in order. Default: the number of cores. */
export function setConcurrency(n: number): void;
export function getConcurrency(): number;
