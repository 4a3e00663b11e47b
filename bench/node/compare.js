'use strict';
// Veltrano's Node.js package against exiftool-vendored, side by side in one
// run on one corpus, the way a photo server asks for previews:
//   - veltrano.extractPreview(file): the preview in memory;
//   - exiftool-vendored's extractBinaryTagToBuffer(tag, file) with its
//     default process pool, the tag being the one exiftool itself lists with
//     the larger preview for that file (JpgFromRaw or PreviewImage), so it
//     gets its best case: one round trip per file;
//   - veltrano.extractPreviewToFile(file, dest) against the `veltrano`
//     command extracting the same files into a folder (the same work: probe,
//     extract, write): the library's cost per file over the command's own.
// Every side keeps the same number of calls in flight. Runs alternate, and
// each side's best run counts. All files are read once before timing.
//
//   node compare.js VELTRANO_COMMAND CORPUS_DIR [RUNS]
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { exiftool } = require('exiftool-vendored');
const veltrano = require('../../bindings/node');

const [command, corpus, runsArg] = process.argv.slice(2);
const runs = Number(runsArg || 3);
const inFlight = veltrano.getConcurrency();

// Calls fn(file, i) over the files with `inFlight` of them under way at once.
async function pool(files, fn) {
  let next = 0;
  const worker = async () => {
    while (next < files.length) {
      const i = next++;
      await fn(files[i], i);
    }
  };
  await Promise.all(Array.from({ length: inFlight }, worker));
}

async function timed(fn) {
  const start = process.hrtime.bigint();
  await fn();
  return Number(process.hrtime.bigint() - start) / 1e9;
}

// The tag exiftool lists with the larger embedded JPEG, per file.
function exiftoolTags(files) {
  const out = execFileSync('exiftool', ['-j', '-q', '-JpgFromRaw', '-PreviewImage', ...files], {
    maxBuffer: 1 << 26,
  });
  const size = (v) => (typeof v === 'string' && /(\d+) bytes/.test(v) ? Number(/(\d+) bytes/.exec(v)[1]) : 0);
  const tags = new Map();
  for (const entry of JSON.parse(out)) {
    const jpg = size(entry.JpgFromRaw);
    const preview = size(entry.PreviewImage);
    if (jpg || preview) tags.set(path.resolve(entry.SourceFile), jpg >= preview ? 'JpgFromRaw' : 'PreviewImage');
  }
  return tags;
}

(async () => {
  const all = fs
    .readdirSync(corpus)
    .filter((name) => !name.startsWith('.') && fs.statSync(path.join(corpus, name)).isFile())
    .sort()
    .map((name) => path.resolve(corpus, name));
  const tags = exiftoolTags(all);
  // Both sides work on the files both find a preview in.
  const files = [];
  for (const file of all) {
    if (tags.has(file) && (await veltrano.extractPreview(file))) files.push(file);
  }
  const formats = [...new Set(files.map((f) => path.extname(f).toUpperCase()))].sort();
  let bytes = 0;
  for (const file of files) bytes += fs.readFileSync(file).length;
  console.log(`corpus: ${files.length} files (${formats.join(' ')}), ${(bytes / 1048576).toFixed(0)} MB, of ${all.length}`);
  console.log(`calls in flight: ${inFlight}; exiftool-vendored ${await exiftool.version()}, ` +
    `maxProcs ${exiftool.options.maxProcs}; machine: ${os.cpus().length} cores, load ${os.loadavg().map((l) => l.toFixed(2)).join(' ')}`);

  // Warm-up of both sides (starts exiftool's process too).
  await pool(files.slice(0, 10), (f) => exiftool.extractBinaryTagToBuffer(tags.get(f), f));
  await pool(files, (f) => veltrano.extractPreview(f));

  const out = fs.mkdtempSync(path.join(os.tmpdir(), 'veltrano-node-bench-'));
  const commandDir = fs.mkdtempSync(path.join(os.tmpdir(), 'veltrano-node-bench-cmd-'));
  for (const f of files) fs.symlinkSync(f, path.join(commandDir, path.basename(f)));
  const best = { veltrano: Infinity, exiftool: Infinity, toFile: Infinity, command: Infinity };
  let checked = 0;
  for (let run = 0; run < runs; run++) {
    best.veltrano = Math.min(best.veltrano, await timed(() => pool(files, (f) => veltrano.extractPreview(f))));
    best.exiftool = Math.min(
      best.exiftool,
      await timed(() =>
        pool(files, async (f) => {
          const buffer = await exiftool.extractBinaryTagToBuffer(tags.get(f), f);
          if (buffer.length > 0) checked++;
        }),
      ),
    );
    fs.rmSync(out, { recursive: true, force: true });
    fs.mkdirSync(out);
    best.toFile = Math.min(
      best.toFile,
      await timed(() => pool(files, (f, i) => veltrano.extractPreviewToFile(f, path.join(out, `${i}.jpg`)))),
    );
    fs.rmSync(path.join(commandDir, 'extracted_jpegs'), { recursive: true, force: true });
    best.command = Math.min(
      best.command,
      await timed(async () => execFileSync(command, ['-q', '--jobs', String(inFlight), commandDir])),
    );
  }
  const written = fs.readdirSync(path.join(commandDir, 'extracted_jpegs')).length;
  await exiftool.end();
  fs.rmSync(out, { recursive: true, force: true });
  fs.rmSync(commandDir, { recursive: true, force: true });
  if (written !== files.length || checked !== files.length * runs) {
    throw new Error(`the command wrote ${written} and exiftool gave ${checked / runs} of ${files.length} previews`);
  }

  const rate = (seconds) => files.length / seconds;
  const ms = (seconds) => ((seconds / files.length) * 1000).toFixed(3);
  console.log(`veltrano extractPreview:          ${rate(best.veltrano).toFixed(0).padStart(7)} files/s  (${ms(best.veltrano)} ms a file)`);
  console.log(`exiftool-vendored extractBinary…: ${rate(best.exiftool).toFixed(0).padStart(7)} files/s  (${ms(best.exiftool)} ms a file)`);
  console.log(`  ratio: ${(best.exiftool / best.veltrano).toFixed(1)}x the files per second (goal: at least 20x)`);
  console.log(`veltrano extractPreviewToFile:    ${ms(best.toFile)} ms a file`);
  console.log(`veltrano command (-j ${inFlight}):          ${ms(best.command)} ms a file`);
  console.log(`  ratio: ${(best.toFile / best.command).toFixed(2)}x the command's time a file (goal: at most 1.3x)`);
  console.log(`load after: ${os.loadavg().map((l) => l.toFixed(2)).join(' ')}`);
})().catch(async (error) => {
  console.error(error);
  await exiftool.end();
  process.exit(1);
});
