'use strict';
// `npm pack` puts the C++ core inside the package, so that a tarball builds
// on its own: before packing, the sources the addon compiles (and their
// headers) are copied from the repository into core/, with the generated
// version header; after packing core/ goes again.
//   node scripts/vendor.js pack | clean
const fs = require('node:fs');
const path = require('node:path');
const core = require('./core');

const pkg = path.resolve(__dirname, '..');
const target = path.join(pkg, 'core');

function clean() {
  fs.rmSync(target, { recursive: true, force: true });
}

function pack() {
  if (core.packed) throw new Error('the package is not in its repository: there is nothing to vendor');
  const repo = core.root;
  const { version, header } = core.versionHeader(repo);
  const expected = `${version.major}.${version.minor}.${version.patch}`;
  const declared = JSON.parse(fs.readFileSync(path.join(pkg, 'package.json'), 'utf8')).version;
  if (declared !== expected) {
    throw new Error(`package.json says version ${declared}, the project ${expected}: make them one`);
  }
  clean();
  const copy = (file) => {
    const to = path.join(target, path.relative(repo, file));
    fs.mkdirSync(path.dirname(to), { recursive: true });
    fs.copyFileSync(file, to);
  };
  // Both systems' sources, so the tarball builds on either.
  const sources = new Set([...core.sourceFiles('linux'), ...core.sourceFiles('win32')]);
  for (const file of sources) copy(file);
  for (const folder of ['probe', 'platform']) {
    for (const name of fs.readdirSync(path.join(repo, folder))) {
      if (name.endsWith('.h')) copy(path.join(repo, folder, name));
    }
  }
  copy(path.join(repo, 'include', 'veltrano.h'));
  fs.mkdirSync(path.join(target, 'generated'), { recursive: true });
  fs.writeFileSync(path.join(target, 'generated', 'veltrano_version.h'), header);
}

const what = process.argv[2];
if (what === 'pack') pack();
else if (what === 'clean') clean();
else {
  console.error('usage: node scripts/vendor.js pack|clean');
  process.exit(2);
}
