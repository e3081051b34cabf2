'use strict';
// The corvane_ostravine module as a host requires it by name: the native
// module that node-gyp built when the package was installed. The build placed
// the companion directory (8a57342e5e/) beside it, where the module looks.
module.exports = require('./build/Release/corvane_ostravine.node');
