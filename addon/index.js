'use strict';
// The corvane_ostravine module as a host requires it by name. node-gyp-build
// picks the native module: one built from source on install (build/Release)
// where there is one, else the prebuilt module in prebuilds/ that matches this
// platform, architecture, runtime and its ABI, and C library. Either way the
// companion directory (8a57342e5e/) lies beside the module file, where the
// module looks for it.
module.exports = require('node-gyp-build')(__dirname);
