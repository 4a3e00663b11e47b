'use strict';
// The addon under load: the event loop stays responsive while extractions
// run, and memory stays flat over thousands of calls.
const { it } = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const veltrano = require('..');
const support = require('./support');

const files = support.makeTestFiles().filter((f) => f.expect === 'preview');

it('keeps a timer within 50 ms while 200 extractions run', async () => {
  const period = 10;
  let worst = 0;
  let last = performance.now();
  const timer = setInterval(() => {
    const now = performance.now();
    worst = Math.max(worst, now - last - period);
    last = now;
  }, period);
  const started = performance.now();
  const results = await Promise.all(
    Array.from({ length: 200 }, (_, i) => veltrano.extractPreview(files[i % files.length].file)),
  );
  const elapsed = performance.now() - started;
  clearInterval(timer);
  assert.ok(results.every((r) => r && r.buffer.length > 0));
  assert.ok(worst < 50, `the timer was ${worst.toFixed(1)} ms late (200 extractions took ${elapsed.toFixed(0)} ms)`);
});

it('keeps its memory over 2,000 calls', () => {
  // A child with the collector at hand: it reports the resident size after
  // a warm-up and after the calls, each after a full collection.
  const child = path.join(__dirname, 'fixtures', 'leak-child.js');
  // Large blocks straight from the system and back to it, so that the C
  // heap's size follows what is held, not what its arenas keep for later.
  const out = execFileSync(process.execPath, ['--expose-gc', child, ...files.map((f) => f.file)], {
    env: { ...support.env, MALLOC_MMAP_THRESHOLD_: '65536' },
  });
  const { warm, end, calls, bytes } = JSON.parse(out.toString());
  assert.equal(calls, 2000);
  const growth = end - warm;
  // A leak of every buffer would be `bytes` (hundreds of megabytes).
  assert.ok(growth < 8 * 1024 * 1024, `RSS grew by ${(growth / 1048576).toFixed(1)} MB over ${calls} calls ` +
    `handing out ${(bytes / 1048576).toFixed(0)} MB`);
});
