'use strict';
// The page's side of korvan-sim --web (web_server.cpp): frames, trace lines,
// the status and the remote's table come over one WebSocket as binary
// messages whose first byte says what they are; the page sends short texts.
(() => {
  const token = new URLSearchParams(location.search).get('token') || '';
  const $ = id => document.getElementById(id);
  const canvas = $('screen'), screen = canvas.getContext('2d');
  const trace = $('trace'), note = $('note'), recordButton = $('record');
  const decoder = new TextDecoder();
  const kTraceShown = 2000;
  // The remote's keys as a remote shows them; a key of the table that is
  // not named here gets a row of its own below.
  const kLayout = [
    ['POWER', 'REDIAL', 'EJECT', 'CLEAR'], ['1', '2', '3'], ['4', '5', '6'], ['7', '8', '9'],
    ['0'], ['CURSOR_UP'], ['CURSOR_LEFT', 'OK', 'CURSOR_RIGHT'], ['CURSOR_DOWN'],
    ['BACKSPACE', 'RETURN'], ['RED', 'GREEN', 'YELLOW', 'BLUE'], ['TV', 'SELECT', 'STOP', 'HOLD'],
    ['HOME', 'LANGUAGE', 'SETUP']];
  const kShown = { CURSOR_UP: '▲', CURSOR_LEFT: '◀', CURSOR_RIGHT: '▶', CURSOR_DOWN: '▼',
                   BACKSPACE: 'BACK', RETURN: 'ENTER', LANGUAGE: 'MUSIC', REDIAL: 'OFF' };
  let socket = null, ended = false, recording = false, drawing = Promise.resolve();
  const byBrowserKey = new Map(), buttons = new Map();

  const send = text => { if (socket && socket.readyState === WebSocket.OPEN) socket.send(text); };
  const connection = text => { $('connection').textContent = text; };

  function connect() {
    socket = new WebSocket(`ws://${location.host}/ws?token=${encodeURIComponent(token)}`);
    socket.binaryType = 'arraybuffer';
    socket.onopen = () => connection('connected');
    socket.onmessage = event => receive(new Uint8Array(event.data));
    socket.onclose = () => {
      if (ended) return;
      connection('connection lost: trying again');
      setTimeout(connect, 2000);
    };
  }

  function receive(bytes) {
    const type = String.fromCharCode(bytes[0]);
    if (type === 'F') return frame(bytes);
    const text = decoder.decode(bytes.subarray(1));
    if (type === 'K') remote(text);
    else if (type === 'I') recordButton.disabled = !/\bdivisor=1$/.test(text);
    else if (type === 'T') addTrace(text.split('\n'));
    else if (type === 'U') status(text);
    else if (type === 'N') download(canvas, text + '.png');
    else if (type === 'R') download(new Blob([text], { type: 'text/plain' }), 'korvan-desk.kvs');
    else if (type === 'E') { ended = true; connection('the simulator has ended'); }
  }

  // A frame is a rectangle of the screen as PNG; drawn in order, each
  // acknowledged once shown, which lets the server send the next.
  function frame(bytes) {
    const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
    const version = view.getUint32(4, true);
    const [x, y, , , width, height] = [8, 10, 12, 14, 16, 18].map(at => view.getUint16(at, true));
    const png = new Blob([bytes.subarray(20)], { type: 'image/png' });
    drawing = drawing
      .then(() => createImageBitmap(png, { premultiplyAlpha: 'none', colorSpaceConversion: 'none' }))
      .then(bitmap => {
        if (canvas.width !== width || canvas.height !== height) [canvas.width, canvas.height] = [width, height];
        screen.drawImage(bitmap, x, y);
        bitmap.close();
        canvas.dataset.frame = version;  // what is shown, for tests and measurements
        dispatchEvent(new CustomEvent('korvan-frame', { detail: version }));
      })
      .catch(() => {})
      .then(() => send('ack ' + version));
  }

  // The table's rows: label, remote key, meaning, the browser's name of the key, repeats.
  function remote(text) {
    const rows = text.split('\n').filter(Boolean).map(line => line.split('\t'));
    const panel = $('remote'), help = document.querySelector('#keys tbody');
    panel.replaceChildren();
    help.replaceChildren();
    byBrowserKey.clear();
    buttons.clear();
    for (const [label, name, meaning, browserKey] of rows) {
      const button = document.createElement('button');
      button.textContent = kShown[name] || name;
      button.title = `${meaning} (key: ${label})`;
      button.dataset.remote = name;
      button.addEventListener('click', () => { send('remote ' + name); canvas.focus(); });
      buttons.set(name, button);
      byBrowserKey.set(browserKey, button);
      const row = help.insertRow();
      for (const cell of [label, name, meaning]) row.insertCell().textContent = cell;
    }
    const placed = new Set(kLayout.flat());
    const rest = rows.map(r => r[1]).filter(name => !placed.has(name));
    for (const names of [...kLayout, rest]) {
      const row = document.createElement('div');
      row.className = 'row';
      row.append(...names.filter(n => buttons.has(n)).map(n => buttons.get(n)));
      if (row.childElementCount) panel.append(row);
    }
  }

  function addTrace(lines) {
    const atEnd = trace.scrollTop + trace.clientHeight >= trace.scrollHeight - 4;
    for (const line of lines) {
      const item = document.createElement('li');
      item.textContent = line;
      trace.append(item);
    }
    while (trace.childElementCount > kTraceShown) trace.firstElementChild.remove();
    if (atEnd) trace.scrollTop = trace.scrollHeight;
  }

  // "mode=N picture=0|1 standby=0|1 focus=APP"
  function status(text) {
    const s = Object.fromEntries(text.split(' ').map(field => field.split('=')));
    const mode = s.mode === '-1' ? 'not set yet' : s.mode;
    $('status').textContent = `${s.standby === '1' ? 'STANDBY' : 'awake'} · TV mode ${mode} · ` +
      `picture ${s.picture === '1' ? 'on' : 'off'} · focus ${s.focus}`;
    $('status').className = s.standby === '1' ? 'standby' : '';
  }

  function download(what, name) {
    const save = blob => {
      const link = document.createElement('a');
      link.href = URL.createObjectURL(blob);
      link.download = name;
      link.click();
      setTimeout(() => URL.revokeObjectURL(link.href), 10000);
      note.textContent = 'saved ' + name;
    };
    if (what instanceof Blob) save(what); else what.toBlob(save, 'image/png');
  }

  function shot() { drawing.then(() => send('shot')); }

  function record() {
    recording = !recording;
    send(recording ? 'record start' : 'record stop');
    recordButton.textContent = recording ? 'Stop recording' : 'Start recording';
    recordButton.classList.toggle('recording', recording);
    note.textContent = recording ? 'recording the keys' : '';
  }

  addEventListener('keydown', event => {
    if (event.ctrlKey || event.altKey || event.metaKey) return;
    if (event.key === 'F12') { event.preventDefault(); if (!event.repeat) shot(); return; }
    if (event.key === '?' || event.key === 'F1') { event.preventDefault(); $('help').open = !$('help').open; return; }
    if (event.key === 'Escape') { $('help').open = false; return; }
    const name = event.key.length === 1 ? event.key.toLowerCase() : event.key;
    const button = byBrowserKey.get(name);
    if (!button) return;
    event.preventDefault();  // no scrolling, no button pressed by Space or Enter
    send(`key ${event.repeat ? 1 : 0} ${name}`);
    button.classList.add('pressed');
    setTimeout(() => button.classList.remove('pressed'), 150);
  });
  $('shot').addEventListener('click', shot);
  recordButton.addEventListener('click', record);
  setInterval(() => send('ping'), 10000);
  connect();
  canvas.focus();
})();
