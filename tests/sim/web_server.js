'use strict';
// korvan-sim --web in Debian's chromium, headless: the refusals (token, Host, malformed and
// oversized requests), the TV key from the keyboard against the player's own screenshot, 50
// connections coming and going while keys are pressed (no descriptor left, no memory grown), POWER
// on the remote darkening the screen with the standby's lines in order, Ctrl-C freeing the port,
// and the recording replayed with --script.
//   node web_server.js KORVAN-SIM   (KVN_WEB_SEED replays a storm; KVN_WEB_DOC_IMAGE=PATH also saves
//   the page with the menu open there; KVN_SANITIZE names the sanitizer korvan-sim was built with)
const assert = require('assert');
const fs = require('fs');
const http = require('http');
const net = require('net');
const os = require('os');
const path = require('path');
const { spawnSync } = require('child_process');

const skip = why => { console.log(`SKIP: the browser tests cannot run: ${why}`); process.exit(77); };
if (process.env.KVN_EMULATOR) skip('a build for another processor: the page is tested in the native build');
if (!fs.existsSync(process.env.KVN_CHROMIUM || '/usr/bin/chromium'))
  skip("chromium is missing (Debian's chromium: scripts/install-deps browser)");
let desk;
try { desk = require('./web/desk.js'); } catch (e) {
  skip(`playwright-core is not installed (tests/sim/web/npm-install BUILD, which scripts/test runs): ${e.message}`);
}
// The shots lie outside korvan-sim's own tree, which it keeps read-only.
const [sim] = process.argv.slice(2);
const out = fs.mkdtempSync(path.join(os.tmpdir(), 'korvan-web-'));
const seed = Number(process.env.KVN_WEB_SEED || Date.now() % 100000);
let state = seed;
const random = () => ((state = (state * 1103515245 + 12345) % 2147483648) / 2147483648);
const sleep = ms => new Promise(resolve => setTimeout(resolve, ms));
const get = (port, target, headers) => new Promise((resolve, reject) =>
  http.get({ host: '127.0.0.1', port, path: target, headers }, res => { res.resume(); resolve(res.statusCode); })
    .on('error', reject));
const raw = (port, text) => new Promise(resolve => {  // the first line of the answer
  const s = net.connect(port, '127.0.0.1', () => s.write(text));
  let got = '';
  s.on('data', d => { got += d; }).on('close', () => resolve(got.split('\r\n')[0])).on('error', () => resolve(got));
});
const launcher = pid => ({
  fds: fs.readdirSync(`/proc/${pid}/fd`).length,
  kB: Number(/VmRSS:\s+(\d+)/.exec(fs.readFileSync(`/proc/${pid}/status`, 'utf8'))[1]),
});
// The page's trace once every one of `lines` is in it, in this order.
const inOrder = (page, lines, timeout) => page.waitForFunction(lines => {
  const shown = [...document.querySelectorAll('#trace li')].map(li => li.textContent);
  let at = 0;
  return lines.every(l => (at = shown.findIndex((s, i) => i >= at && new RegExp(l).test(s))) >= 0);
}, lines, { timeout });
// The road the keys took: from the first line after the start-up's focus lines, which a page that
// connects while the player starts may see or not.
const kinds = lines => {
  const road = lines.filter(l => /^(osd|smpoutd|focus) /.test(l));
  return road.slice(Math.max(0, road.findIndex(l => !l.startsWith('focus '))));
};

// 10 pages and 38 connections that open and leave at random, and 2 that never read, while the main
// page presses keys; then the launcher once it holds no more descriptors than `fds` (connections
// close a moment after their peers leave), or after 5 s.
async function storm(browser, page, url, pid, fds) {
  const port = new URL(url).port, ws = new URL(url.replace('http:', 'ws:').replace('/?', '/ws?'));
  const stuck = [0, 1].map(() => net.connect(port, '127.0.0.1', function () {
    this.pause();
    this.write(`GET ${ws.pathname}${ws.search} HTTP/1.1\r\nHost: 127.0.0.1:${port}\r\nUpgrade: websocket\r\n` +
      'Connection: Upgrade\r\nSec-WebSocket-Version: 13\r\nSec-WebSocket-Key: a29ydmFuLXNpbS10ZXN0IQ==\r\n\r\n');
  }));
  const pages = Array.from({ length: 10 }, async () => {
    await sleep(random() * 3000);
    const p = await desk.openDesk(browser, url);
    await sleep(200 + random() * 2000);
    await p.close();
  });
  const times = Array.from({ length: 38 }, () => [random() * 3000, random() * 2000]);
  const bare = page.evaluate(({ ws, times }) => Promise.all(times.map(async ([start, stay]) => {
    await new Promise(r => setTimeout(r, start));
    const socket = new WebSocket(ws);
    await new Promise(r => { socket.onopen = socket.onerror = r; });
    await new Promise(r => setTimeout(r, stay));
    socket.close();
  })), { ws: ws.href, times });
  let pressing = true;
  const keys = (async () => {
    for (; pressing; await sleep(50)) await page.keyboard.press(['1', '2', 'ArrowUp', 'ArrowDown'][Math.floor(random() * 4)]);
  })();
  await Promise.all([...pages, bare]);
  pressing = false;
  await keys;
  stuck.forEach(s => s.destroy());
  for (let i = 0; i < 50 && launcher(pid).fds > fds; ++i) await sleep(100);
  return launcher(pid);
}

async function main() {
  console.log(`seed ${seed} (KVN_WEB_SEED=${seed} replays it)`);
  // A sanitizer's suppressions lie in the source tree, which the player's sandbox does not share: a
  // copy in the shots folder, which it does.
  for (const kind of ['lsan', 'tsan']) {
    const name = `${kind.toUpperCase()}_OPTIONS`, copy = path.join(out, `${kind}.supp`);
    if (!/suppressions=/.test(process.env[name] || '')) continue;
    fs.copyFileSync(path.join(__dirname, '..', `${kind}.supp`), copy);
    process.env[name] = process.env[name].replace(/suppressions=[^ :]+/, `suppressions=${copy}`);
  }
  const player = await desk.startDesk(sim, ['--no-window', '--shots', out, '--trace', path.join(out, 'web.trace')]);
  const url = player.url, port = Number(new URL(url).port), query = new URL(url).search;
  const browser = await desk.openBrowser(out);
  try {
    assert.strictEqual(await get(port, '/'), 403, 'no token');
    assert.strictEqual(await get(port, '/?token=' + '0'.repeat(32)), 403, 'a wrong token');
    assert.strictEqual(await get(port, '/' + query, { Host: `rebound.example:${port}` }), 403, 'a foreign Host');
    assert.match(String(await get(port, '/' + query, { 'X-Big': 'x'.repeat(20000) })), /^4\d\d$/, 'a huge header');
    assert.match(await raw(port, 'NONSENSE\r\n\r\n'), /^HTTP\/1\.[01] 4\d\d/, 'a malformed request');

    const page = await desk.openDesk(browser, url);  // the token's page loads
    await sleep(1000);
    const before = launcher(player.pid);
    await page.click('#record');
    await page.keyboard.press('t');
    await inOrder(page, [' cmd=9 flags=32770 mode=0 .*-opts=Auto,720p'], 30000);
    await sleep(500);
    const shot = path.join(out, 'web-001.png');
    await Promise.all([page.waitForEvent('download'), page.click('#shot')]);
    for (let i = 0; i < 100 && !fs.existsSync(shot); ++i) await sleep(50);
    const differing = await page.evaluate(async png => {
      const bitmap = await createImageBitmap(new Blob([Uint8Array.from(atob(png), c => c.charCodeAt(0))]),
                                             { premultiplyAlpha: 'none', colorSpaceConversion: 'none' });
      const shot = new OffscreenCanvas(bitmap.width, bitmap.height).getContext('2d');
      shot.drawImage(bitmap, 0, 0);
      const a = shot.getImageData(0, 0, bitmap.width, bitmap.height).data;
      const screen = document.getElementById('screen');
      const b = screen.getContext('2d').getImageData(0, 0, screen.width, screen.height).data;
      let n = a.length === b.length ? 0 : -1;
      for (let i = 0; n >= 0 && i < a.length; i += 4) n += a[i] !== b[i] || a[i + 1] !== b[i + 1] || a[i + 2] !== b[i + 2];
      return n;
    }, fs.readFileSync(shot).toString('base64'));
    assert.strictEqual(differing, 0, 'the page shows the menu as the player\'s screenshot does');
    if (process.env.KVN_WEB_DOC_IMAGE) await page.screenshot({ path: process.env.KVN_WEB_DOC_IMAGE });
    await page.keyboard.press('x');
    await sleep(1000);
    const [download] = await Promise.all([page.waitForEvent('download'), page.click('#record')]);
    const recording = path.join(out, 'desk.kvs');
    await download.saveAs(recording);
    const recorded = kinds(await page.$$eval('#trace li', items => items.map(i => i.textContent)));

    const once = await storm(browser, page, url, player.pid, before.fds);
    const twice = await storm(browser, page, url, player.pid, before.fds);
    console.log(`launcher: ${before.kB} kB before, ${once.kB} kB after a storm, ${twice.kB} kB after another`);
    assert.ok(once.fds <= before.fds && twice.fds <= before.fds,
              `descriptors left by the storm: ${before.fds} before, ${once.fds} and ${twice.fds} after`);
    // A sanitizer holds freed memory back on purpose (its quarantine).
    assert.ok(process.env.KVN_SANITIZE || twice.kB - once.kB < 4096, `memory grew from ${once.kB} kB to ${twice.kB} kB`);

    await page.click('button[data-remote="POWER"]');
    await inOrder(page, ['^smpoutd code=28 \\(picture off\\)$', '^flash save_commit$',
                         '^run power_led -standby 1 -poweron 0$', '^host force_stop_pod$'], 20000);
    // The trace may come before the frame: the screen below the status bar goes dark.
    await page.waitForFunction(() => {
      const s = document.getElementById('screen'), d = s.getContext('2d').getImageData(0, 40, s.width, s.height - 40).data;
      let sum = 0;
      for (let i = 0; i < d.length; i += 4) sum += d[i] + d[i + 1] + d[i + 2];
      return sum / (d.length / 4) / 3 < 5;
    }, null, { timeout: 10000 });

    player.kill('SIGINT');
    const status = await new Promise(resolve => player.on('exit', (code, signal) => resolve(code ?? signal)));
    assert.strictEqual(status, 130, `korvan-sim after Ctrl-C: ${player.output}`);
    assert.match(await raw(port, 'GET / HTTP/1.0\r\n\r\n'), /^$/, 'the port is still open');

    const replay = spawnSync(sim, ['--no-window', '--quiet', '--script', recording, '--shots', out,
                                   '--trace', path.join(out, 'replay.trace'), '--time-divisor', '5']);
    assert.strictEqual(replay.status, 0, `the recording does not replay: ${replay.stderr}`);
    const replayed = kinds(fs.readFileSync(path.join(out, 'replay.trace'), 'utf8').split('\n'));
    assert.deepStrictEqual(replayed, recorded, 'the replay took another road');
  } finally {
    await browser.close();
    player.kill('SIGKILL');
  }
  fs.rmSync(out, { recursive: true, force: true });
  console.log('web page: all passed');
}

main().catch(e => { console.error(`web page: ${e.stack}\n(its files: ${out})`); process.exit(1); });
