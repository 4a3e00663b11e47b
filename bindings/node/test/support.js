'use strict';
// What the package's tests stand on: the repository's CMake build (the
// `veltrano` command, and the test builders' file maker), files made by it
// in a fresh folder, and the command run with a hermetic environment.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync } = require('node:child_process');

const repo = path.resolve(__dirname, '..', '..', '..');
const build = path.resolve(process.env.VELTRANO_BUILD || path.join(repo, 'build'));
const cli = path.join(build, 'cli', 'veltrano');
const maker = path.join(build, 'tests', 'veltrano_make_test_files');

for (const tool of [cli, maker]) {
  if (!fs.existsSync(tool)) {
    throw new Error(
      `${tool} is missing: build the project first (cmake -S . -B build && cmake --build build), ` +
        'or point VELTRANO_BUILD at a build folder',
    );
  }
}

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), `veltrano-node-${process.pid}-`));
process.on('exit', () => fs.rmSync(scratch, { recursive: true, force: true }));

const home = path.join(scratch, 'home');
fs.mkdirSync(home);
const env = {
  PATH: '/usr/bin:/bin',
  HOME: home,
  XDG_CONFIG_HOME: path.join(home, '.config'),
  XDG_DATA_HOME: path.join(home, '.local', 'share'),
  TZ: 'UTC',
};

// The test builders' files: [{name, file, expect, make, model}].
function makeTestFiles() {
  const dir = fs.mkdtempSync(path.join(scratch, 'files-'));
  execFileSync(maker, [dir], { env });
  return fs
    .readFileSync(path.join(dir, 'cases.txt'), 'utf8')
    .split('\n')
    .filter(Boolean)
    .map((line) => {
      const [name, expect, make, model] = line.split('\t');
      return { name, file: path.join(dir, name), expect, make, model };
    });
}

// `veltrano preview FILE -o - [--exif MODE]`: the command's bytes.
function commandPreview(file, exif) {
  const mode = exif === undefined ? [] : ['--exif', exif];
  return execFileSync(cli, ['preview', file, '-o', '-', ...mode], { env, maxBuffer: 1 << 28 });
}

// `veltrano info --json FILE`: the command's report.
function commandInfo(file) {
  return JSON.parse(execFileSync(cli, ['info', '--json', file], { env }).toString());
}

// exiftool's Make and Model of each file it names a camera for (a Map), or
// null without exiftool.
function exiftoolNames(files) {
  let out;
  try {
    out = execFileSync('exiftool', ['-j', '-q', '-Make', '-Model', ...files], { env });
  } catch (error) {
    if (error.code === 'ENOENT') return null;
    out = error.stdout;  // exit 1 when a file has none of the tags
  }
  const names = new Map();
  for (const entry of JSON.parse(out.toString() || '[]')) {
    if (entry.Make !== undefined) names.set(entry.SourceFile, { make: String(entry.Make), model: String(entry.Model) });
  }
  return names;
}

function tempDir(prefix) {
  return fs.mkdtempSync(path.join(scratch, prefix));
}

module.exports = { repo, build, cli, maker, env, makeTestFiles, commandPreview, commandInfo, exiftoolNames, tempDir };
