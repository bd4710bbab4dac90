'use strict';
// korvan-sim --web and Debian's chromium, for the browser tests and bench/desk-latency: never a
// browser downloaded, a fresh profile each time.
const [{ spawn }, { chromium }, fs, path] = ['child_process', 'playwright-core', 'fs', 'path'].map(require);

// korvan-sim with ARGS and --web on a free port, as a developer starts it (it runs the player in its
// sandbox): the process, with the page's address once it printed it.
function startDesk(sim, args) {
  const player = spawn(sim, ['--web', '127.0.0.1:0', ...args], { stdio: ['pipe', 'pipe', 'pipe'] });
  player.output = '';
  player.stdout.on('data', d => { player.output += d; });
  return new Promise((resolve, reject) => {
    player.stderr.on('data', d => {
      player.output += d;
      const found = /http:\/\/\S+/.exec(player.output);
      if (found && !player.url) resolve(Object.assign(player, { url: found[0] }));
    });
    player.on('exit', code => reject(new Error(`korvan-sim ended (${code}) before its page: ${player.output}`)));
  });
}

function openBrowser(folder) {
  return chromium.launchPersistentContext(fs.mkdtempSync(path.join(folder, 'profile-')), {
    executablePath: process.env.KVN_CHROMIUM || '/usr/bin/chromium',
    headless: true, acceptDownloads: true,
    viewport: { width: 1400, height: 1000 },
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
}

// The page, once it shows the screen.
async function openDesk(browser, url) {
  const page = await browser.newPage();
  await page.goto(url);
  await page.waitForFunction(() => document.getElementById('screen').dataset.frame);
  return page;
}

module.exports = { startDesk, openBrowser, openDesk };
