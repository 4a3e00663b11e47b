'use strict';
// Where the addon's C++ core comes from, for binding.gyp:
//   node scripts/core.js sources    the core's source files, relative to the package
//   node scripts/core.js includes   its include folders
// In the repository it is the tree two folders up; in a packed package it
// lies in core/ (see vendor.js). The version header, which CMake
// generates from the project's one version line, is generated here the same
// way, into generated/ (or core/generated/ when packed).
const fs = require('node:fs');
const path = require('node:path');

const pkg = path.resolve(__dirname, '..');
// The repository wins when the package sits in it (bindings/node), so that a
// core/ left by an interrupted pack is never built instead of the tree.
const repo = path.resolve(pkg, '..', '..');
const inRepository =
  fs.existsSync(path.join(repo, 'include', 'veltrano.h')) && fs.existsSync(path.join(repo, 'lib', 'veltrano.cpp'));
const packed = !inRepository;
const root = packed ? path.join(pkg, 'core') : repo;

// The platform layer's parts that the library needs, by system.
const PLATFORM_COMMON = ['native_path.cpp', 'temp_names.cpp', 'long_path.cpp'];
const PLATFORM_OWN = ['folder_entries', 'native_file', 'process', 'atomic_write', 'file_times'];

function sourceFiles(platform = process.platform) {
  const system = platform === 'win32' ? 'win32' : 'posix';
  const probe = fs
    .readdirSync(path.join(root, 'probe'))
    .filter((name) => name.endsWith('.cpp'))
    .sort()
    .map((name) => path.join(root, 'probe', name));
  const platformFiles = [...PLATFORM_COMMON, ...PLATFORM_OWN.map((name) => `${name}_${system}.cpp`)];
  if (system === 'win32') platformFiles.push('long_path_win32.cpp');
  return [
    path.join(root, 'lib', 'veltrano.cpp'),
    ...probe,
    ...platformFiles.map((name) => path.join(root, 'platform', name)),
  ];
}

// The product version from the project line of the top-level CMakeLists.txt.
function projectVersion(cmakeLists) {
  const match = /project\(\s*Veltrano\s+VERSION\s+([0-9]+)\.([0-9]+)(?:\.([0-9]+))?(?:\.([0-9]+))?/.exec(
    fs.readFileSync(cmakeLists, 'utf8'),
  );
  if (!match) throw new Error(`no project version in ${cmakeLists}`);
  const [, major, minor, patch = '0', tweak = '0'] = match;
  return { major, minor, patch, tweak, text: match[0].replace(/^.*VERSION\s+/, '') };
}

// Fills cmake/veltrano_version.h.in as CMake's configure_file does.
function versionHeader(repoRoot) {
  const v = projectVersion(path.join(repoRoot, 'CMakeLists.txt'));
  const values = {
    VELTRANO_VERSION_MAJOR: v.major,
    VELTRANO_VERSION_MINOR: v.minor,
    VELTRANO_VERSION_PATCH: v.patch,
    VELTRANO_VERSION_TWEAK: v.tweak,
    VELTRANO_VERSION_TEXT: v.text,
  };
  const template = fs.readFileSync(path.join(repoRoot, 'cmake', 'veltrano_version.h.in'), 'utf8');
  return {
    version: v,
    header: template.replace(/@([A-Z_]+)@/g, (all, name) => (name in values ? values[name] : all)),
  };
}

function generatedDir() {
  if (packed) return path.join(root, 'generated');
  const dir = path.join(pkg, 'generated');
  fs.mkdirSync(dir, { recursive: true });
  const file = path.join(dir, 'veltrano_version.h');
  const { header } = versionHeader(root);
  if (!fs.existsSync(file) || fs.readFileSync(file, 'utf8') !== header) fs.writeFileSync(file, header);
  return dir;
}

// gyp splits the output at white space and takes paths relative to the
// package folder.
function relative(file) {
  const rel = path.relative(pkg, file).split(path.sep).join('/');
  if (/\s/.test(rel)) throw new Error(`the path ${rel} holds white space, which node-gyp cannot take`);
  return rel;
}

module.exports = { root, packed, sourceFiles, projectVersion, versionHeader };

if (require.main === module) {
  const what = process.argv[2];
  if (what === 'sources') {
    console.log(sourceFiles().map(relative).join('\n'));
  } else if (what === 'includes') {
    console.log([root, path.join(root, 'include'), generatedDir()].map(relative).join('\n'));
  } else {
    console.error('usage: node scripts/core.js sources|includes');
    process.exit(2);
  }
}
