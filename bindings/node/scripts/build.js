'use strict';
// The package's install step: `node-gyp rebuild` against the headers of the
// Node.js that runs it. Where npm_config_nodedir (or --nodedir) names no
// header folder, the running Node's own prefix is used when it holds
// include/node (as Debian's libnode-dev and the official packages install
// them), so that no headers are downloaded and the build works offline.
const fs = require('node:fs');
const path = require('node:path');
const { spawnSync } = require('node:child_process');

function headersAt(prefix) {
  return fs.existsSync(path.join(prefix, 'include', 'node', 'node_api.h')) &&
    fs.existsSync(path.join(prefix, 'include', 'node', 'common.gypi'));
}

// node-gyp as npm hands it to install scripts, else one beside npm or on PATH.
function nodeGyp() {
  const candidates = [
    process.env.npm_config_node_gyp,
    path.resolve(path.dirname(process.execPath), '..', 'lib', 'node_modules', 'npm', 'node_modules', 'node-gyp', 'bin', 'node-gyp.js'),
  ];
  for (const file of candidates) {
    if (file && fs.existsSync(file)) return [process.execPath, file];
  }
  return ['node-gyp'];
}

// All cores unless npm was told otherwise (npm_config_jobs, --jobs).
const args = ['rebuild', `--jobs=${process.env.npm_config_jobs || 'max'}`];
if (!process.env.npm_config_nodedir) {
  const prefix = path.resolve(path.dirname(process.execPath), '..');
  if (headersAt(prefix)) {
    args.push(`--nodedir=${prefix}`);
  } else {
    console.warn(
      `veltrano: no Node.js headers under ${prefix}/include/node; node-gyp will try to download them. ` +
        'Offline, install them (Debian and Ubuntu: apt-get install libnode-dev) or set npm_config_nodedir ' +
        'to the prefix that holds include/node.',
    );
  }
}
const [command, ...prefixArgs] = nodeGyp();
const result = spawnSync(command, [...prefixArgs, ...args], { stdio: 'inherit', cwd: path.resolve(__dirname, '..') });
if (result.error) {
  console.error(`veltrano: cannot run node-gyp: ${result.error.message}`);
  process.exit(1);
}
process.exit(result.status === null ? 1 : result.status);
