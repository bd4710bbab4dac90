'use strict';
// Key to changed pixel in the web page of korvan-sim --web: headless
// chromium presses a key that the focused demo application shows, and the
// page's own clock runs from the key event to the canvas drawn with the
// change.  Prints one latency a line, in milliseconds.
//   node desk_latency_web.js KORVAN-SIM OUT-DIR PRESSES
const { startDesk, openBrowser, openDesk } = require('../tests/sim/web/desk.js');

async function main() {
  const [sim, out, presses] = [process.argv[2], process.argv[3], Number(process.argv[4] || 50)];
  const player = await startDesk(sim, ['--no-window', '--quiet', '--shots', out]);
  const browser = await openBrowser(out);
  try {
    const page = await openDesk(browser, player.url);
    // The first key warms the page's decoder and the player up: not counted.
    const shown = await page.evaluate(() => document.getElementById('screen').dataset.frame);
    await page.keyboard.press('0');
    await page.waitForFunction(v => document.getElementById('screen').dataset.frame !== v, shown);
    await page.waitForTimeout(300);
    await page.evaluate(() => {
      window.latencies = [];
      addEventListener('keydown', e => { window.pressedAt = e.timeStamp; }, true);
      addEventListener('korvan-frame', () => {
        if (window.pressedAt === undefined) return;
        window.latencies.push(performance.now() - window.pressedAt);
        window.pressedAt = undefined;
      });
    });
    for (let i = 0; i < presses; ++i) {
      // A digit is no framework key: the demo browser shows it as its last key.
      await page.keyboard.press(String(1 + (i % 9)));
      await page.waitForFunction(n => window.latencies.length > n, i, { timeout: 5000 });
      await page.waitForTimeout(150 + Math.random() * 150);
    }
    for (const ms of await page.evaluate(() => window.latencies)) console.log(ms.toFixed(3));
  } finally {
    await browser.close();
    player.kill('SIGTERM');
  }
}

main().catch(e => { console.error(`desk-latency: ${e.message}`); process.exit(1); });
