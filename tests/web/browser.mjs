// The distribution's Chromium, headless, with a new empty profile and
// nothing that reaches out to the network by itself. Never a downloaded
// browser: playwright-core only drives the installed one. Shared memory is
// left alone, as a container's /dev/shm may be too small for it.
import fs from 'node:fs';
import path from 'node:path';

import { chromium } from 'playwright-core';

export function launchBrowser(workDir) {
  return chromium.launchPersistentContext(fs.mkdtempSync(path.join(workDir, 'profile-')), {
    executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
    headless: true,
    viewport: { width: 760, height: 420 },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      '--disable-dev-shm-usage'],
  });
}
