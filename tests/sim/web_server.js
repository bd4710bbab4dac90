'use strict';
// korvan-sim --web in Debian's chromium, headless: the token and the Host refused, the TV key against
// the player's own screenshot, 50 connections coming and going while keys are pressed (no
// descriptor left, no memory grown), POWER darkening the screen with the standby's lines in order,
// and the recording replayed with --script.  KVN_WEB_SEED replays a storm; KVN_WEB_DOC_IMAGE=PATH
// saves the page with the menu open; KVN_SANITIZE names korvan-sim's sanitizer.
const [assert, fs, http, net, os, path] = ['assert', 'fs', 'http', 'net', 'os', 'path'].map(require);
const { spawnSync } = require('child_process');

const skip = why => { console.log(`SKIP: the browser tests cannot run: ${why}`); process.exit(77); };
if (process.env.KVN_EMULATOR) skip('a build for another processor: the page is tested in the native build');
if (!fs.existsSync(process.env.KVN_CHROMIUM || '/usr/bin/chromium'))
  skip("chromium is missing (Debian's chromium: scripts/install-deps browser)");
let desk;
try { desk = require('./web/desk.js'); } catch (e) {
  skip(`playwright-core is not installed (tests/sim/web/npm-install BUILD, which scripts/test runs): ${e.message}`);
}
const [sim] = process.argv.slice(2);
const out = fs.mkdtempSync(path.join(os.tmpdir(), 'korvan-web-'));  // outside korvan-sim's tree
const seed = Number(process.env.KVN_WEB_SEED || Date.now() % 100000);
let state = seed;
const random = () => ((state = (state * 1103515245 + 12345) % 2147483648) / 2147483648);
const sleep = ms => new Promise(resolve => setTimeout(resolve, ms));
const get = (port, target, headers) => new Promise((resolve, reject) =>
  http.get({ host: '127.0.0.1', port, path: target, headers }, res => { res.resume(); resolve(res.statusCode); })
    .on('error', reject));
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
// The road the keys took, from after the start-up's focus lines (a page may see them or not).
const kinds = lines => {
  const road = lines.filter(l => /^(osd|smpoutd|focus) /.test(l));
  return road.slice(Math.max(0, road.findIndex(l => !l.startsWith('focus '))));
};

// 10 pages and 38 connections that come and go at random, and 2 that never read, while the page
// presses keys; then the launcher once it holds no more descriptors than `fds`, or after 5 s.
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
    const differing = await page.evaluate(async png => {  // colour values, -1: another size
      const bitmap = await createImageBitmap(new Blob([Uint8Array.from(atob(png), c => c.charCodeAt(0))]),
                                             { premultiplyAlpha: 'none', colorSpaceConversion: 'none' });
      const pixels = c => c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
      const shot = new OffscreenCanvas(bitmap.width, bitmap.height);
      shot.getContext('2d').drawImage(bitmap, 0, 0);
      const a = pixels(shot), b = pixels(document.getElementById('screen'));
      return a.length !== b.length ? -1 : a.filter((v, i) => i % 4 !== 3 && v !== b[i]).length;
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
    assert.ok(once.fds <= before.fds && twice.fds <= before.fds,
              `descriptors left by the storm: ${before.fds} before, ${once.fds} and ${twice.fds} after`);
    // A sanitizer holds freed memory back on purpose (its quarantine).
    assert.ok(process.env.KVN_SANITIZE || twice.kB - once.kB < 4096, `memory grew: ${once.kB} kB, ${twice.kB} kB`);

    await page.click('button[data-remote="POWER"]');
    await inOrder(page, ['^smpoutd code=28 \\(picture off\\)$', '^flash save_commit$',
                         '^run power_led -standby 1 -poweron 0$', '^host force_stop_pod$'], 20000);
    // The trace may come before the frame: the screen below the status bar goes dark.
    await page.waitForFunction(() => {
      const s = document.getElementById('screen'), d = s.getContext('2d').getImageData(0, 40, s.width, s.height - 40).data;
      return d.reduce((sum, v, i) => sum + (i % 4 === 3 ? 0 : v), 0) / (d.length * 0.75) < 5;
    }, null, { timeout: 10000 });

    const replay = spawnSync(sim, ['--no-window', '--quiet', '--script', recording, '--shots', out,
                                   '--trace', path.join(out, 'replay.trace'), '--time-divisor', '5']);
    assert.strictEqual(replay.status, 0, `the recording does not replay: ${replay.stderr}`);
    const replayed = fs.readFileSync(path.join(out, 'replay.trace'), 'utf8').split('\n');
    assert.deepStrictEqual(kinds(replayed), recorded, 'the replay took another road');
  } finally {
    await browser.close();
    player.kill('SIGKILL');
  }
  fs.rmSync(out, { recursive: true, force: true });
  console.log('web page: all passed');
}

main().catch(e => { console.error(`web page: ${e.stack}\n(its files: ${out})`); process.exit(1); });
