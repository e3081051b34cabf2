'use strict';
// Application ids that the addon's one rule (the companion's and launch
// registration's too) accepts and refuses, as JavaScript hands them over.

const accepted = [
  '300000000000000001', 'a b', 'v1..2', '.x', 'J\u00fcrgen \u{1F600}', '\u65e5\u672c-1', 'COM10', 'LPT', 'CONSOLE',
  'xNUL', "it's", '7'.repeat(247),
  // A lone surrogate reaches the system as U+FFFD.
  'x\uD800',
];

const refused = [
  // Windows device names, in any case, with or without an extension.
  'CON', 'con', 'Aux.txt', 'nul.tar.gz', 'PRN', 'COM0', 'com9', 'LPT1.x', 'COM\u00b9', 'lpt\u00b2', 'COM\u00b3.x',
  'CONIN$', 'conout$', 'CON .x',
  // Names that Windows strips, and path components.
  'x.', 'x ', '.', '..',
  // Separators, the drive colon and what no Windows name may hold.
  '../x', 'a/b', 'a\\b', 'C:x', 'a*b', 'a?b', 'a"b', 'a<b', 'a|b',
  // Control characters: a zero byte would cut the id short.
  'a\u0000b', 'a\u0001b', 'a\tb', 'a\u007f', 'a\u0085b',
  // So long that the script path would lose its ".lua".
  '7'.repeat(248),
];

module.exports = { accepted, refused };
