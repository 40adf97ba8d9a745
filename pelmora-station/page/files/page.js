// Polls the station's state twice a second and draws one tile per fixture.
// It asks nothing of anyone but the station that served it.
'use strict';

const POLL_MS = 500;
const GIVE_UP_MS = 3000;
const SIGNS = { WAITING: '…', LOADING: '↻', PASS: '✓', FAIL: '✗', STOPPED: '■' };
const verdicts = new Map();  // fixture name -> the last unit whose verdict was announced
let firstState = true;
let audio = null;
let lastAnswer = null;

function node(tag, className, text) {
  const e = document.createElement(tag);
  if (className) e.className = className;
  if (text !== undefined) e.textContent = text;
  return e;
}

// "14:02:11", local time, whatever the browser's language
function timeOfDay(d) {
  const two = (n) => String(n).padStart(2, '0');
  return `${two(d.getHours())}:${two(d.getMinutes())}:${two(d.getSeconds())}`;
}

// "0:52", "1:02:09"
function clock(seconds) {
  const s = Math.max(0, Math.round(seconds));
  const two = (n) => String(n).padStart(2, '0');
  return s >= 3600 ? `${Math.floor(s / 3600)}:${two(Math.floor(s / 60) % 60)}:${two(s % 60)}`
                   : `${Math.floor(s / 60)}:${two(s % 60)}`;
}

function tile(f) {
  const t = node('article', `tile ${f.state}`);
  t.dataset.fixture = f.name;
  t.dataset.state = f.state;
  const serial = f.serial ? ` · ${f.serial}` : '';
  t.append(node('h2', 'name', f.unit > 0 && f.state !== 'WAITING' ? `Fixture ${f.name} · unit ${f.unit}${serial}` : `Fixture ${f.name}`));
  const word = node('p', 'word');
  const sign = node('span', 'sign', SIGNS[f.state] || '');
  sign.setAttribute('aria-hidden', 'true');
  word.append(sign, node('span', 'state', f.state));
  t.append(word);
  const unit = f.unit > 0 ? `unit ${f.unit}` : '';
  if (f.state === 'LOADING' && f.load) {
    const l = f.load;
    t.append(node('p', 'detail', `slot ${l.slot} (${l.label} of ${l.labels}) ${l.percent} % ${clock(l.secondsLeft)} left`));
    const bar = node('progress');
    bar.max = 100;
    bar.value = l.percent;
    bar.setAttribute('aria-label', `unit ${f.unit} loaded ${l.percent} %`);
    t.append(bar, node('p', 'last', `${unit}: do not take the unit out`));
  } else if (f.state === 'LOADING') {
    t.append(node('p', 'detail', `${unit} arrived`));
  } else if (f.state === 'PASS' || f.state === 'FAIL') {
    t.append(node('p', 'detail', f.state === 'FAIL' ? f.why : `${unit} passed`));
    // The verdict stays on show; a line that went is said over it.
    if (f.line && !f.unitIn) {
      t.classList.add('line-lost');
      t.append(node('p', 'action', `⚠ ${f.line}`));
    } else {
      t.append(node('p', 'action', f.unitIn ? 'TAKE THE UNIT OUT' : 'waiting for the next unit'));
    }
  } else {
    t.append(node('p', 'detail', f.why || (f.state === 'WAITING' ? 'waiting for a unit' : '')));
  }
  if (f.lastUnit > 0 && !((f.state === 'PASS' || f.state === 'FAIL') && f.lastUnit === f.unit))
    t.append(node('p', 'last', `last: unit ${f.lastUnit} ${f.lastResult.toUpperCase()}`));
  return t;
}

function percent(x) {
  return `${(x * 100).toFixed(1)} %`;
}

function totals(row, t) {
  const cells = document.querySelectorAll(`#${row} td`);
  [String(t.units), String(t.passed), String(t.failed), t.units > 0 ? percent(t.yield) : '–', t.unitsPerHour.toFixed(1)]
    .forEach((text, i) => { cells[i].textContent = text; });
}

function beep() {
  try {
    const Context = window.AudioContext || window.webkitAudioContext;
    if (!Context) return;
    audio = audio || new Context();
    if (audio.state === 'suspended') audio.resume().catch(() => {});
    const tone = audio.createOscillator();
    const gain = audio.createGain();
    tone.type = 'square';
    gain.gain.value = 0.2;
    tone.connect(gain);
    gain.connect(audio.destination);
    const t = audio.currentTime;
    tone.frequency.setValueAtTime(660, t);
    tone.frequency.setValueAtTime(440, t + 0.25);
    tone.start(t);
    tone.stop(t + 0.6);
  } catch (e) {
    // No sound where the browser allows none; the words still say it.
  }
}

// A verdict is said once, when it is new; the page opened on a verdict says nothing.
function announce(fixtures) {
  const said = [];
  let failed = false;
  for (const f of fixtures) {
    if (f.lastUnit > 0 && verdicts.get(f.name) !== f.lastUnit && !firstState) {
      said.push(f.lastResult === 'pass' ? `Fixture ${f.name}, unit ${f.lastUnit}: PASS`
                                        : `Fixture ${f.name}, unit ${f.lastUnit}: FAIL, ${f.why}`);
      failed = failed || f.lastResult !== 'pass';
    }
    verdicts.set(f.name, f.lastUnit);
  }
  firstState = false;
  if (said.length > 0)
    document.getElementById('announce').textContent = said.join('. ');
  if (failed)
    beep();
}

function draw(s) {
  if (s.station) {
    document.getElementById('station').textContent = s.station;
    document.title = `${s.station} · Pelmora station`;
  }
  document.getElementById('fixtures').replaceChildren(...s.fixtures.map(tile));
  announce(s.fixtures);
  totals('run', s.run);
  totals('hour', s.lastHour);
  const name = document.getElementById('recipe-name');
  name.replaceChildren(document.createTextNode(`${s.recipe.name} `), node('code', '', s.recipe.sha256.slice(0, 12)));
  document.getElementById('labels').replaceChildren(...s.recipe.labels.map((l) => {
    const li = node('li', '', `slot ${l.slot}: ${l.file}, ${l.size} bytes, sha256 `);
    li.append(node('code', '', l.sha256.slice(0, 12)));
    return li;
  }));
  const central = document.getElementById('central');
  if (!s.central)
    central.textContent = 'Central ledger: none; every record stays in this station\'s ledger.';
  else
    central.textContent = `Central ledger: ${s.central.waiting} record${s.central.waiting === 1 ? '' : 's'} waiting`
        + (s.central.problem ? `: ${s.central.problem}` : '');
}

function connection(problem) {
  const p = document.getElementById('connection');
  if (!problem) {
    lastAnswer = new Date();
    p.className = 'connection';
    p.textContent = `Station answered at ${timeOfDay(lastAnswer)}`;
    return;
  }
  p.className = 'connection lost';
  p.textContent = `NO ANSWER FROM THE STATION (${problem})`
      + (lastAnswer ? `; what shows is from ${timeOfDay(lastAnswer)}` : '');
  // No tile may look live: each is greyed and says since when nothing came.
  const since = lastAnswer ? `no answer since ${timeOfDay(lastAnswer)}` : 'no answer';
  for (const t of document.querySelectorAll('#fixtures .tile')) {
    t.classList.add('stale');
    let note = t.querySelector('.stale-note');
    if (!note) {
      note = node('p', 'stale-note');
      t.prepend(note);
    }
    note.textContent = since;
  }
}

async function poll() {
  const stop = new AbortController();
  const timer = setTimeout(() => stop.abort(), GIVE_UP_MS);
  try {
    const r = await fetch('/api/state', { cache: 'no-store', signal: stop.signal });
    if (!r.ok)
      throw new Error((await r.text()).trim() || `status ${r.status}`);
    draw(await r.json());
    connection(null);
  } catch (e) {
    connection(e.name === 'AbortError' ? 'no answer within 3 s' : e.message);
  } finally {
    clearTimeout(timer);
    setTimeout(poll, POLL_MS);
  }
}

// Browsers let a page sound only after a touch or a key; a kiosk browser can
// be told to allow it from the start.
function allowSound() {
  const Context = window.AudioContext || window.webkitAudioContext;
  if (Context && !audio) audio = new Context();
  if (audio && audio.state === 'suspended') audio.resume().catch(() => {});
}
document.addEventListener('pointerdown', allowSound, { once: true });
document.addEventListener('keydown', allowSound, { once: true });
poll();
