'use strict';
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const veltrano = require('..');
const support = require('./support');

const files = support.makeTestFiles();
const withPreview = files.filter((f) => f.expect === 'preview');
const noPreview = files.filter((f) => f.expect === 'no-preview');
const notRaw = files.filter((f) => f.expect === 'not-raw');

describe('extractPreview', () => {
  it('gives the command\'s bytes, in both of its Exif modes', async () => {
    for (const f of withPreview) {
      for (const exif of ['basic', 'full']) {
        const preview = await veltrano.extractPreview(f.file, { exif });
        assert.ok(preview, `${f.name} ${exif}: no preview`);
        assert.ok(preview.buffer.equals(support.commandPreview(f.file, exif)), `${f.name} ${exif}: bytes differ`);
      }
    }
  });

  it('without an exif option gives what the command writes without --exif', async () => {
    for (const f of withPreview) {
      const preview = await veltrano.extractPreview(f.file);
      assert.ok(preview && preview.buffer.equals(support.commandPreview(f.file)), f.name);
    }
  });

  it('gives the command\'s bytes for real camera files', async (t) => {
    const dir = path.join(support.repo, '..', 'shared', 'samples', 'real-raw');
    if (!fs.existsSync(dir)) return t.skip(`${dir} is absent`);
    for (const name of fs.readdirSync(dir)) {
      const file = path.join(dir, name);
      const preview = await veltrano.extractPreview(file, { exif: 'basic' });
      assert.ok(preview && preview.buffer.equals(support.commandPreview(file, 'basic')), name);
    }
  });

  it('gives the camera\'s bytes exactly with exif none, and says what it did', async () => {
    for (const f of withPreview) {
      const raw = fs.readFileSync(f.file);
      const none = await veltrano.extractPreview(f.file, { exif: 'none' });
      const basic = await veltrano.extractPreview(f.file, { exif: 'basic' });
      assert.equal(none.exifInserted, false, f.name);
      assert.notEqual(raw.indexOf(none.buffer), -1, `${f.name}: the bytes are not the file's`);
      const ownExif = none.buffer.subarray(6, 11).equals(Buffer.from('Exif\0', 'latin1'));
      assert.equal(basic.exifInserted, !ownExif, f.name);
      const info = support.commandInfo(f.file);
      assert.equal(none.orientation, info.exif_orientation, f.name);
      assert.ok(none.width > 0 && none.height > 0, `${f.name}: size ${none.width}x${none.height}`);
    }
  });

  it('resolves null for a RAW file without a preview', async () => {
    assert.ok(noPreview.length > 0);
    for (const f of noPreview) assert.equal(await veltrano.extractPreview(f.file), null, f.name);
  });

  it('rejects with a code and the path', async () => {
    const missing = path.join(support.tempDir('missing-'), 'IMG_0001.CR2');
    const cases = [
      [missing, 'ENOENT'],
      [path.dirname(missing), 'EISDIR'],
      ...notRaw.map((f) => [f.file, 'EVELTRANO_NOT_RAW']),
    ];
    for (const [file, code] of cases) {
      await assert.rejects(veltrano.extractPreview(file), (e) => e.code === code && e.path === file, `${file}: ${code}`);
      await assert.rejects(veltrano.probe(file), { code }, `probe ${file}`);
    }
    if (process.getuid && process.getuid() !== 0) {
      const locked = path.join(support.tempDir('locked-'), 'locked.cr2');
      fs.copyFileSync(withPreview[0].file, locked);
      fs.chmodSync(locked, 0);
      await assert.rejects(veltrano.extractPreview(locked), { code: 'EACCES' });
    }
  });

  it('refuses bad arguments before any work', async () => {
    await assert.rejects(veltrano.extractPreview(42), { code: 'ERR_INVALID_ARG_TYPE' });
    await assert.rejects(veltrano.extractPreview(''), { code: 'ERR_INVALID_ARG_TYPE' });
    await assert.rejects(veltrano.extractPreview(withPreview[0].file, { exif: 'all' }), {
      code: 'ERR_INVALID_ARG_VALUE',
    });
    await assert.rejects(veltrano.extractPreview(withPreview[0].file, { signal: {} }), {
      code: 'ERR_INVALID_ARG_TYPE',
    });
    assert.throws(() => veltrano.setConcurrency(0), { code: 'ERR_OUT_OF_RANGE' });
  });
});

describe('probe', () => {
  it('reports what the command reports', async () => {
    for (const f of withPreview) {
      const info = await veltrano.probe(f.file);
      const command = support.commandInfo(f.file);
      assert.equal(info.make, f.make, f.name);
      assert.equal(info.model, f.model, f.name);
      assert.equal(info.captureTime, command.capture_time, f.name);
      assert.equal(info.orientation, command.exif_orientation, f.name);
      assert.equal(info.imageCount, command.images.length, f.name);
      assert.equal(info.preview.length, command.preview.length, f.name);
      const chosen = command.images.find((image) => image.chosen);
      assert.equal(info.preview.width, command.preview.width || chosen.width, f.name);
    }
    for (const f of noPreview) assert.equal((await veltrano.probe(f.file)).preview, null, f.name);
  });

  it('names the camera as exiftool reads it from the file', async (t) => {
    const known = support.exiftoolNames(withPreview.map((f) => f.file));
    if (!known) return t.skip('exiftool is not installed');
    assert.ok(known.size > 0, 'exiftool names no camera');
    for (const [file, names] of known) {
      const info = await veltrano.probe(file);
      assert.deepEqual({ make: info.make, model: info.model }, names, file);
    }
  });

  it('takes file URLs', async () => {
    const info = await veltrano.probe(new URL(`file://${withPreview[0].file}`));
    assert.ok(info.preview);
  });
});

describe('extractPreviewToFile', () => {
  let out;
  before(() => {
    out = support.tempDir('out-');
  });

  it('writes the preview once, with the RAW file\'s time, and never over a file unless asked', async () => {
    const f = withPreview[0];
    const past = new Date('2019-05-04T03:02:01Z');
    fs.utimesSync(f.file, past, past);
    const dest = path.join(out, 'one.jpg');
    assert.equal(await veltrano.extractPreviewToFile(f.file, dest), true);
    assert.ok(fs.readFileSync(dest).equals(support.commandPreview(f.file)));
    assert.equal(fs.statSync(dest).mtimeMs, past.getTime());

    fs.writeFileSync(dest, 'keep');
    await assert.rejects(veltrano.extractPreviewToFile(f.file, dest), (e) => e.code === 'EEXIST' && e.dest === dest);
    assert.equal(fs.readFileSync(dest, 'utf8'), 'keep');
    assert.equal(await veltrano.extractPreviewToFile(f.file, dest, { overwrite: true, keepTimes: false }), true);
    assert.ok(fs.readFileSync(dest).length > 1000);
    assert.ok(fs.statSync(dest).mtimeMs > past.getTime() + 86400e3);
    assert.deepEqual(fs.readdirSync(out), ['one.jpg'], 'a temporary file was left');
  });

  it('writes nothing for a file without a preview, and says why it cannot write', async () => {
    const dest = path.join(out, 'none.jpg');
    assert.equal(await veltrano.extractPreviewToFile(noPreview[0].file, dest), false);
    assert.equal(fs.existsSync(dest), false);
    const nowhere = path.join(out, 'no-such-folder', 'x.jpg');
    await assert.rejects(veltrano.extractPreviewToFile(withPreview[0].file, nowhere), {
      code: 'ENOENT',
      dest: nowhere,
    });
    const raw = withPreview[0].file;
    const before = fs.readFileSync(raw);
    await assert.rejects(veltrano.extractPreviewToFile(raw, raw, { overwrite: true }), { code: 'EINVAL' });
    assert.ok(fs.readFileSync(raw).equals(before), 'the RAW file changed');
  });
});

describe('abort and concurrency', () => {
  after(() => veltrano.setConcurrency(os.availableParallelism ? os.availableParallelism() : os.cpus().length));

  it('rejects at once when the signal was aborted before the call', async () => {
    const dest = path.join(support.tempDir('aborted-'), 'x.jpg');
    const signal = AbortSignal.abort();
    await assert.rejects(veltrano.extractPreview(withPreview[0].file, { signal }), { name: 'AbortError' });
    await assert.rejects(veltrano.extractPreviewToFile(withPreview[0].file, dest, { signal }), {
      code: 'ABORT_ERR',
    });
    assert.equal(fs.existsSync(dest), false);
  });

  it('drops waiting and running calls on abort; the others go on', async () => {
    veltrano.setConcurrency(1);
    const running = new AbortController();
    const abortedWhileRunning = veltrano.extractPreview(withPreview[0].file, { signal: running.signal });
    running.abort(new Error('the client went away'));
    await assert.rejects(abortedWhileRunning, (e) => e.name === 'AbortError' && e.cause.message === 'the client went away');

    const dir = support.tempDir('abort-');
    const controller = new AbortController();
    const kept = veltrano.extractPreview(withPreview[0].file);
    const dropped = [];
    for (let i = 0; i < 20; i++) {
      dropped.push(
        veltrano.extractPreviewToFile(withPreview[i % withPreview.length].file, path.join(dir, `${i}.jpg`), {
          signal: controller.signal,
        }),
      );
    }
    controller.abort();
    for (const p of dropped) await assert.rejects(p, { name: 'AbortError' });
    assert.ok((await kept).buffer.length > 0);
    // Nothing was waiting behind `kept` but the aborted calls: none ran.
    await veltrano.probe(withPreview[0].file);
    assert.deepEqual(fs.readdirSync(dir), []);
  });

  it('runs at most the limit at once, the rest in order', async () => {
    veltrano.setConcurrency(1);
    assert.equal(veltrano.getConcurrency(), 1);
    const order = [];
    const calls = withPreview.concat(withPreview).map((f, i) =>
      veltrano.extractPreview(f.file).then(() => order.push(i)),
    );
    await Promise.all(calls);
    assert.deepEqual(order, [...order].sort((a, b) => a - b));
  });
});

it('has the version of the project', () => {
  const pkg = JSON.parse(fs.readFileSync(path.join(__dirname, '..', 'package.json'), 'utf8'));
  const cmake = fs.readFileSync(path.join(support.repo, 'CMakeLists.txt'), 'utf8');
  const projectVersion = /project\(Veltrano VERSION ([0-9.]+)/.exec(cmake)[1];
  assert.equal(veltrano.version, projectVersion);
  assert.ok(pkg.version.startsWith(`${projectVersion}.`) || pkg.version === projectVersion, pkg.version);
});
