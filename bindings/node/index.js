'use strict';
// The embedded JPEG previews of camera RAW files, in process: each call runs
// the library's probe on the libuv thread pool and settles a promise. At
// most `getConcurrency()` calls run at once (default: the number of cores);
// the rest wait in order, so a burst cannot take the whole pool.

const os = require('node:os');
const { fileURLToPath } = require('node:url');
const native = require('./build/Release/veltrano.node');

const S = native.status;

function defaultConcurrency() {
  const n = typeof os.availableParallelism === 'function' ? os.availableParallelism() : os.cpus().length;
  return n > 0 ? n : 1;
}

let limit = defaultConcurrency();
let running = 0;
const waiting = [];

function pump() {
  while (running < limit && waiting.length > 0) waiting.shift().begin();
}

function setConcurrency(n) {
  if (!Number.isInteger(n) || n < 1) {
    throw argumentError('ERR_OUT_OF_RANGE', `concurrency must be a whole number of at least 1, not ${n}`);
  }
  limit = n;
  pump();
}

function getConcurrency() {
  return limit;
}

function argumentError(code, message, Type = TypeError) {
  const error = new Type(message);
  error.code = code;
  return error;
}

function abortError(signal) {
  const error = new Error('The operation was aborted', { cause: signal.reason });
  error.name = 'AbortError';
  error.code = 'ABORT_ERR';
  return error;
}

// errno number -> name ("ENOENT"), from the running system's own table.
const errnoNames = new Map(Object.entries(os.constants.errno).map(([name, n]) => [n, name]));

// The error of a failed call, in the manner of node:fs: a code, the path,
// and a message that says both.
function callError(result, path, dest) {
  let code;
  let subject = path;
  switch (result.status) {
    case S.NOT_FOUND: code = 'ENOENT'; break;
    case S.NOT_READABLE: code = errnoNames.get(result.systemError) || 'EACCES'; break;
    case S.NOT_RAW: code = 'EVELTRANO_NOT_RAW'; break;
    case S.OUT_OF_MEMORY: code = 'ENOMEM'; break;
    case S.EXISTS: code = 'EEXIST'; subject = dest; break;
    case S.WRITE: code = errnoNames.get(result.systemError) || 'EIO'; subject = dest; break;
    case S.INVALID_ARGUMENT: code = 'EINVAL'; break;
    default: code = 'EVELTRANO_INTERNAL';
  }
  const error = new Error(`${code}: ${result.message}, '${subject}'`);
  error.code = code;
  error.path = path;
  if (dest !== undefined) error.dest = dest;
  if (result.systemError) error.errno = result.systemError;
  return error;
}

// Runs start(cancelFlag) -> Promise within the concurrency limit. An abort
// rejects at once: a waiting call never starts, a running one is told
// through the flag, and its result is dropped when it ends.
function schedule(start, signal) {
  return new Promise((resolve, reject) => {
    if (signal && signal.aborted) {
      reject(abortError(signal));
      return;
    }
    const cancel = new Int32Array(1);
    let settled = false;
    const finish = (settle) => {
      if (settled) return;
      settled = true;
      if (signal) signal.removeEventListener('abort', onAbort);
      settle();
    };
    const job = {
      begin() {
        running++;
        let promise;
        try {
          promise = start(cancel);
        } catch (error) {
          promise = Promise.reject(error);
        }
        promise
          .then((value) => finish(() => resolve(value)), (error) => finish(() => reject(error)))
          .finally(() => {
            running--;
            pump();
          });
      },
    };
    function onAbort() {
      Atomics.store(cancel, 0, 1);
      const i = waiting.indexOf(job);
      if (i >= 0) waiting.splice(i, 1);
      finish(() => reject(abortError(signal)));
    }
    if (signal) signal.addEventListener('abort', onAbort, { once: true });
    waiting.push(job);
    pump();
  });
}

function pathArg(value, name) {
  if (value instanceof URL) return fileURLToPath(value);
  if (typeof value === 'string' && value.length > 0 && !value.includes('\0')) return value;
  throw argumentError('ERR_INVALID_ARG_TYPE', `${name} must be a non-empty string or a file URL`);
}

function optionsArg(options) {
  if (options === undefined || options === null) return {};
  if (typeof options !== 'object') throw argumentError('ERR_INVALID_ARG_TYPE', 'options must be an object');
  const { signal } = options;
  if (signal !== undefined && !(signal instanceof AbortSignal)) {
    throw argumentError('ERR_INVALID_ARG_TYPE', 'options.signal must be an AbortSignal');
  }
  return options;
}

function exifArg(options) {
  if (options.exif === undefined) return native.exif.default;
  if (options.exif === 'basic' || options.exif === 'full' || options.exif === 'none') return native.exif[options.exif];
  throw argumentError('ERR_INVALID_ARG_VALUE', "options.exif must be 'basic', 'full' or 'none'");
}

function booleanArg(options, name, fallback) {
  const value = options[name];
  if (value === undefined) return fallback;
  if (typeof value !== 'boolean') throw argumentError('ERR_INVALID_ARG_TYPE', `options.${name} must be a boolean`);
  return value;
}

function orNull(n) {
  return n === 0 ? null : n;
}

function infoOf(raw) {
  return {
    make: raw.make,
    model: raw.model,
    captureTime: raw.captureTime || null,
    captureOffset: raw.captureOffset || null,
    exposureTime: orNull(raw.exposureTime),
    fNumber: orNull(raw.fNumber),
    iso: orNull(raw.iso),
    focalLength: orNull(raw.focalLength),
    orientation: raw.orientation,
    preview: raw.hasPreview
      ? { width: raw.previewWidth, height: raw.previewHeight, length: raw.previewLength, kind: raw.previewKind }
      : null,
    imageCount: raw.imageCount,
  };
}

async function probe(path, options) {
  const file = pathArg(path, 'path');
  const { signal } = optionsArg(options);
  return schedule(
    (cancel) =>
      native.probe(file, cancel).then((result) => {
        if (result.status !== S.OK) throw callError(result, file);
        return infoOf(result.info);
      }),
    signal,
  );
}

async function extractPreview(path, options) {
  const file = pathArg(path, 'path');
  const opts = optionsArg(options);
  const exif = exifArg(opts);
  return schedule(
    (cancel) =>
      native.extract(file, exif, cancel).then((result) => {
        if (result.status === S.NO_PREVIEW) return null;
        if (result.status !== S.OK || !result.buffer) throw callError(result, file);
        return {
          buffer: result.buffer,
          width: result.info.previewWidth,
          height: result.info.previewHeight,
          orientation: result.info.orientation,
          exifInserted: result.info.exifInserted,
        };
      }),
    opts.signal,
  );
}

async function extractPreviewToFile(path, dest, options) {
  const file = pathArg(path, 'path');
  const target = pathArg(dest, 'dest');
  const opts = optionsArg(options);
  const exif = exifArg(opts);
  let flags = 0;
  if (booleanArg(opts, 'overwrite', false)) flags |= native.flags.overwrite;
  if (!booleanArg(opts, 'keepTimes', true)) flags |= native.flags.noKeepTimes;
  return schedule(
    (cancel) =>
      native.extractToFile(file, target, exif, flags, cancel).then((result) => {
        if (result.status === S.NO_PREVIEW) return false;
        if (result.status !== S.OK) throw callError(result, file, target);
        return true;
      }),
    opts.signal,
  );
}

module.exports = {
  version: native.version,
  probe,
  extractPreview,
  extractPreviewToFile,
  setConcurrency,
  getConcurrency,
};
