// The viewer of an Umbrascope page: decodes the sections the exporter wrote into this page (gzip
// and base64, in blocks of rows) with the browser's own DecompressionStream, and draws the run:
// the map, the band and, with a study's voltages, the profile. Plain functions in the order a
// frame needs them: decode, layout, draw, input. Nothing is fetched.
'use strict';

const page = {};          // what the sections hold
const blocks = new Map(); // block number -> decoded tables, the most recently used last
const state = { row: 1, playing: false, speed: 10, view: null, hover: -1, ringed: 0, ringedRow: 0, lines: null,
                hideControls: false, note: '', noteRow: 0, countOwn: false };
const stats = { frames: [], decodes: [] };

// ---- decode ----

function fail(text) {
  const message = document.getElementById('message');
  message.textContent = text;
  window.umbrascope.error = text;
  throw new Error(text);
}

function sectionText(id) {
  const element = document.getElementById('u-' + id);
  if (!element)
    fail('This page could not be read: its section "' + id + '" is missing, so the file was cut short. ' +
         'Get the whole file again (umbrascope-export writes it whole).');
  return element;
}

async function sectionBytes(id) {
  const element = sectionText(id);
  let binary;
  try {
    binary = atob(element.textContent.trim());
  } catch (e) {
    fail('This page could not be read: its section "' + id + '" is damaged (not base64), so the file was cut short ' +
         'or changed. Get the whole file again.');
  }
  const packed = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; ++i)
    packed[i] = binary.charCodeAt(i);
  let raw;
  try {
    const stream = new Blob([packed]).stream().pipeThrough(new DecompressionStream('gzip'));
    raw = new Uint8Array(await new Response(stream).arrayBuffer());
  } catch (e) {
    fail('This page could not be read: its section "' + id + '" does not unpack, so the file was cut short or ' +
         'changed. Get the whole file again.');
  }
  if (raw.length !== Number(element.dataset.size))
    fail('This page could not be read: its section "' + id + '" holds ' + raw.length + ' bytes where ' +
         element.dataset.size + ' were written. Get the whole file again.');
  return raw;
}

async function sectionJson(id) {
  return JSON.parse(new TextDecoder().decode(await sectionBytes(id)));
}

const EMPTY = -2147483648;

// A block of a table, column by column in the page's order: each value a byte -127..127, its step
// from a prediction (in the block's first row the parent's value, else the value in the row before
// plus the parent's step between them; without a parent, no step), or a byte -128 and the value
// whole, 32 bits little-endian, the smallest of which is no value.
function readPredicted(bytes, count, byParent) {
  const buses = page.meta.buses, table = new Int32Array(count * buses);
  const order = page.network.order, parent = page.network.parent;
  const value = (i, b) => { const v = table[i * buses + b]; return v === EMPTY ? 0 : v; };
  let at = 0;
  for (const b of order) {
    const p = byParent ? parent[b] : -1;
    for (let i = 0; i < count; ++i) {
      const x = bytes[at++];
      let v;
      if (x === 128) {
        v = bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | (bytes[at + 3] << 24);
        at += 4;
      } else {
        const predicted = i === 0 ? (p >= 0 ? value(0, p) : 0) : value(i - 1, b) + (p >= 0 ? value(i, p) - value(i - 1, p) : 0);
        v = predicted + (x > 127 ? x - 256 : x);
      }
      table[i * buses + b] = v;
    }
  }
  if (at !== bytes.length)
    fail('This page could not be read: a table holds ' + bytes.length + ' bytes where its values take ' + at +
         '. Get the whole file again.');
  return table;
}

// As umbrascope-clouds rounds the index to thousandths: to the nearest, a half to the even one.
function thousandths(value) {
  const scaled = value * 1000;
  if (Math.abs(scaled) < 2 ** 51) {
    const nearest = (scaled + 6755399441055744) - 6755399441055744;
    if (Math.abs(Math.abs(scaled - nearest) - 0.5) > 1e-6)
      return nearest;
  }
  // Near a half, the exact decimal value of the number decides.
  const text = Math.abs(value).toFixed(100);
  const point = text.indexOf('.');
  let n = Number(text.slice(0, point) + text.slice(point + 1, point + 4));
  const rest = text.slice(point + 4);
  const half = '5'.padEnd(rest.length, '0');
  if (rest > half || (rest === half && n % 2 === 1))
    n += 1;
  return value < 0 ? -n : n;
}

// The measured series at `t` seconds from its start: linearly between samples, held beyond its ends.
function seriesAt(f, t) {
  const v = f.series, last = v.length - 1, end = last * f.interval;
  if (!(t > 0) || last === 0)
    return v[0];
  if (t >= end)
    return v[last];
  const a = t / f.interval, i = Math.min(Math.floor(a), last - 1);
  return v[i] + (v[i + 1] - v[i]) * (a - i);
}

// A bus's sun intensity in thousandths in `row`: from the block, or where the sky is measured,
// made from its field as the sun table was.
function sunAt(block, row, k) {
  const f = page.network.field;
  if (!f)
    return at(block, block.sun, row, k);
  if (!page.wind) {
    const r = f.from * Math.PI / 180;
    page.wind = [Math.sin(r), Math.cos(r)];
  }
  const x = Math.fround(f.net_x[k]), y = Math.fround(f.net_y[k]);
  const along = -(x - f.sensor[0]) * page.wind[0] - (y - f.sensor[1]) * page.wind[1];
  const t = (f.first + (row - 1) * f.row_interval) - along * f.metres_per_unit / f.speed;
  let result = thousandths(seriesAt(f, t) / f.scale);
  if (f.row_clear.length) {
    const clear = f.row_clear[row - 1];
    result = clear > 0 ? thousandths(result / 1000 / clear) : 0;
  }
  return result;
}

// A block's tables, row by row: value (row, bus) at (row - first) * buses + bus.
async function decodeBlock(b) {
  const started = performance.now();
  const buses = page.meta.buses;
  const first = b * page.meta.block_rows;
  const count = Math.min(page.meta.block_rows, page.meta.rows - first);
  const classes = await sectionBytes('class-' + b);
  for (let i = buses; i < classes.length; ++i)
    classes[i] ^= classes[i - buses];
  const column = async (name, byParent) => readPredicted(await sectionBytes(name + '-' + b), count, byParent);
  const block = { first, count, classes, sun: page.meta.sun ? await column('sun', false) : null };
  if (page.meta.voltages) {
    block.low = await column('low', true);
    block.high = await column('high', true);
  }
  stats.decodes.push(performance.now() - started);
  return block;
}

function blockOf(row) { return Math.floor((row - 1) / page.meta.block_rows); }

// The block of `row`, decoded once; a few are kept, the least recently used let go.
async function loadBlock(b) {
  if (blocks.has(b)) {
    const block = blocks.get(b);
    blocks.delete(b);
    blocks.set(b, block);
    return block;
  }
  const pending = decodeBlock(b);
  blocks.set(b, pending);
  const block = await pending;
  if (blocks.get(b) === pending)
    blocks.set(b, block);
  while (blocks.size > 6)
    blocks.delete(blocks.keys().next().value);
  return block;
}

function readyBlock(row) {
  const block = blocks.get(blockOf(row));
  return block && !(block instanceof Promise) ? block : null;
}

async function decodePage() {
  const meta = JSON.parse(sectionText('meta').textContent);
  if (meta.format !== 1)
    fail('This page is of a later layout (' + meta.format + ') than this viewer reads.');
  page.meta = meta;
  if (typeof DecompressionStream === 'undefined')
    fail('This browser cannot unpack the page\'s data: it lacks DecompressionStream. Open the page in a current ' +
         'Chrome, Edge, Firefox or Safari.');
  page.network = await sectionJson('network');
  page.times = new TextDecoder().decode(await sectionBytes('times')).split('\n');
  const clouds = new Int16Array((await sectionBytes('clouds')).slice().buffer);
  page.clouds = [];
  for (let at = 0, row = 0; row < meta.rows; ++row) {
    const n = clouds[at++];
    page.clouds.push(clouds.subarray(at, at + n * 5));
    at += n * 5;
  }
  const n = page.network;
  page.controlStates = n.controls.map((c) => ({ states: c.states, clear: c.clear }));
}

// ---- what a row says ----

function at(block, table, row, bus) { return table[(row - block.first - 1) * page.meta.buses + bus]; }

function stateAt(changes, row) {
  let value = changes[1];
  for (let i = 2; i < changes.length && changes[i] <= row; i += 2)
    value = changes[i + 1];
  return value;
}

function acts(changes, row) {
  for (let i = 2; i < changes.length; i += 2)
    if (changes[i] === row)
      return true;
  return false;
}

// The class of one value, as the profile's points take it: 0 below B .. 4 above B.
function valueClass(v) {
  if (v < 9500)
    return v * 120 < 1100000 ? 0 : 1;
  if (v > 10500)
    return v * 120 > 1270000 ? 4 : 3;
  return 2;
}

function perUnit(v) { return v === -2147483648 ? 'none' : (v / 10000).toFixed(4); }

// ---- layout ----

const map = document.getElementById('map');
const profile = document.getElementById('profile');

function fit() {
  const n = page.network;
  let left = Infinity, top = Infinity, right = -Infinity, bottom = -Infinity;
  for (let k = 0; k < page.meta.buses; ++k) {
    if (n.x[k] === null)
      continue;
    left = Math.min(left, n.x[k]); right = Math.max(right, n.x[k]);
    top = Math.min(top, n.y[k]); bottom = Math.max(bottom, n.y[k]);
  }
  if (!(right >= left)) {
    [left, top, right, bottom] = page.meta.frame;
  }
  const w = map.width, h = map.height, margin = 20 * devicePixelRatio;
  const spanX = Math.max(right - left, 1), spanY = Math.max(bottom - top, 1);
  const scale = Math.min((w - 2 * margin) / spanX, (h - 2 * margin) / spanY);
  state.view = { scale, x: (w - spanX * scale) / 2 - left * scale, y: (h - spanY * scale) / 2 - top * scale };
  state.lines = null;
}

function resize() {
  const ratio = devicePixelRatio || 1;
  for (const canvas of [map, profile]) {
    if (canvas.hidden)
      continue;
    canvas.width = Math.max(1, Math.round(canvas.clientWidth * ratio));
    canvas.height = Math.max(1, Math.round(canvas.clientHeight * ratio));
  }
  fit();
  draw();
}

function px(x) { return x * state.view.scale + state.view.x; }
function py(y) { return y * state.view.scale + state.view.y; }

// A disc keeps its classic size, or where buses lie closer, three quarters as wide as they lie apart.
function discRadius() {
  const full = 85 / 15 * devicePixelRatio;
  const spacing = page.meta.spacing > 0 ? page.meta.spacing * state.view.scale : Infinity;
  return Math.max(1.5 * devicePixelRatio, Math.min(full, 0.375 * spacing));
}

// ---- draw ----

function drawShade(g, row) {
  const f = page.network.field;
  if (!f)
    return;
  const m = page.network.mapping;  // xp_min, yp_max, plot width, plot height, xc_min, yc_min
  const span = page.network.c_span;
  // A canvas pixel's time in the series is linear in it: t = t0 + a x + b y.
  const time = (cx, cy) => {
    const plotX = (cx - state.view.x) / state.view.scale, plotY = (cy - state.view.y) / state.view.scale;
    const x = (plotX - m[0]) / m[2] * span + m[4], y = (m[1] - plotY) / m[3] * span + m[5];
    const r = f.from * Math.PI / 180;
    const along = -(x - f.sensor[0]) * Math.sin(r) - (y - f.sensor[1]) * Math.cos(r);
    return f.first + (row - 1) * f.row_interval - along * f.metres_per_unit / f.speed;
  };
  const t0 = time(0, 0), a = time(1, 0) - t0, b = time(0, 1) - t0;
  const length = Math.hypot(a, b);
  if (!(length > 0))
    return;
  const divisor = f.row_clear.length >= row && row >= 1 ? f.row_clear[row - 1] : 1;
  const level = (t) => {
    const index = divisor > 0 ? seriesAt(f, t) / f.scale / divisor : 0;
    if (!(index < 0.95)) return 0;
    if (!(index > 0)) return 6;
    return 1 + Math.floor((0.95 - index) / 0.95 * 6 * 0.9999);
  };
  const w = map.width, h = map.height;
  const corners = [t0, t0 + a * w, t0 + b * h, t0 + a * w + b * h];
  const low = Math.min(...corners), high = Math.max(...corners);
  // Bands of one level across the map, a pixel's worth of time a step along the wind.
  const step = length / 2, gx = a / length, gy = b / length, reach = w + h;
  const [fl, ft, fr, fb] = page.meta.frame;
  g.save();
  g.beginPath();
  g.rect(px(fl), py(ft), (fr - fl) * state.view.scale, (fb - ft) * state.view.scale);
  g.clip();
  let start = low, current = level(low);
  const band = (from, to, lvl) => {
    if (lvl === 0) return;
    const d0 = (from - t0) / length, d1 = (to - t0) / length;
    g.fillStyle = page.meta.shade[lvl - 1];
    g.beginPath();
    g.moveTo(gx * d0 - gy * reach, gy * d0 + gx * reach);
    g.lineTo(gx * d0 + gy * reach, gy * d0 - gx * reach);
    g.lineTo(gx * d1 + gy * reach, gy * d1 - gx * reach);
    g.lineTo(gx * d1 - gy * reach, gy * d1 + gx * reach);
    g.fill();
  };
  for (let t = low + step; t <= high + step; t += step) {
    const here = level(t);
    if (here !== current) {
      band(start, t, current);
      start = t;
      current = here;
    }
  }
  band(start, high + step, current);
  g.restore();
}

function drawClouds(g, row) {
  const shapes = page.clouds[row - 1];
  if (!shapes || shapes.length === 0)
    return;
  g.save();
  g.strokeStyle = '#000';
  g.lineWidth = 1;
  g.setLineDash([1, 1]);
  g.beginPath();
  for (let i = 0; i < shapes.length; i += 5) {
    if (shapes[i] === 0) {
      g.moveTo(Math.round(px(shapes[i + 1])) + 0.5, Math.round(py(shapes[i + 2])) + 0.5);
      g.lineTo(Math.round(px(shapes[i + 3])) + 0.5, Math.round(py(shapes[i + 4])) + 0.5);
    } else {
      const r = shapes[i + 3] * state.view.scale;
      g.moveTo(px(shapes[i + 1]) + r, py(shapes[i + 2]));
      g.arc(px(shapes[i + 1]), py(shapes[i + 2]), r, 0, 2 * Math.PI);
    }
  }
  g.stroke();
  g.restore();
}

// The network's lines, drawn once for a view into a layer of their own.
function linesLayer() {
  if (state.lines && state.lines.width === map.width && state.lines.height === map.height)
    return state.lines;
  const layer = document.createElement('canvas');
  layer.width = map.width;
  layer.height = map.height;
  const g = layer.getContext('2d');
  const n = page.network;
  g.strokeStyle = '#000080';
  g.lineWidth = 1;
  g.beginPath();
  for (let i = 0; i < n.connections.length; i += 2) {
    const f = n.connections[i], t = n.connections[i + 1];
    if (n.x[f] === null || n.x[t] === null)
      continue;
    g.moveTo(Math.round(px(n.x[f])) + 0.5, Math.round(py(n.y[f])) + 0.5);
    g.lineTo(Math.round(px(n.x[t])) + 0.5, Math.round(py(n.y[t])) + 0.5);
  }
  g.stroke();
  state.lines = layer;
  return layer;
}

function drawControls(g, row) {
  const n = page.network;
  if (!n.controls.length || state.hideControls)
    return;
  const scale = devicePixelRatio, half = Math.max(3, Math.round(4.5 * scale));
  const atBus = new Map();
  n.controls.forEach((c, i) => {
    if (c.bus < 0) return;
    if (!atBus.has(c.bus)) atBus.set(c.bus, []);
    atBus.get(c.bus).push(i);
  });
  g.save();
  g.lineWidth = Math.max(1, Math.round(scale));
  for (const [bus, list] of atBus) {
    list.forEach((i, slot) => {
      const c = n.controls[i];
      const x = Math.round(px(n.x[bus]) + (slot - (list.length - 1) / 2) * 13 * scale) + 0.5;
      const y = Math.round(py(n.y[bus]) - 15 * scale) + 0.5;
      const acting = acts(c.states, row);
      g.strokeStyle = acting ? '#ff00ff' : '#000';
      g.beginPath();
      if (acting)
        g.rect(x - half - 2 * scale, y - half - 2 * scale, 2 * half + 4 * scale, 2 * half + 4 * scale);
      if (c.kind === 'regcontrol') {
        g.rect(x - half, y - half, 2 * half, 2 * half);
        g.moveTo(x - half + 1, y + half - 1);
        g.lineTo(x + half - 1, y - half + 1);
      } else {
        const gap = Math.max(1, Math.round(half / 3));
        g.moveTo(x - gap, y - half); g.lineTo(x - gap, y + half);
        g.moveTo(x + gap, y - half); g.lineTo(x + gap, y + half);
        g.moveTo(x - half, y); g.lineTo(x - gap, y);
        g.moveTo(x + gap, y); g.lineTo(x + half, y);
      }
      g.stroke();
    });
  }
  g.restore();
}

function ring(g, bus, colour) {
  const n = page.network;
  if (bus < 0 || n.x[bus] === null)
    return;
  g.save();
  for (const [c, w] of [['#fff', 5], [colour, 2]]) {
    g.strokeStyle = c;
    g.lineWidth = w * devicePixelRatio;
    g.beginPath();
    g.arc(px(n.x[bus]), py(n.y[bus]), 12 * devicePixelRatio, 0, 2 * Math.PI);
    g.stroke();
  }
  g.restore();
}

function drawMap(block, row) {
  const g = map.getContext('2d');
  const n = page.network, meta = page.meta;
  g.fillStyle = '#f0f0f0';
  g.fillRect(0, 0, map.width, map.height);
  const [fl, ft, fr, fb] = meta.frame;
  g.fillStyle = '#fff';
  g.fillRect(px(fl), py(ft), (fr - fl) * state.view.scale, (fb - ft) * state.view.scale);
  drawShade(g, row);
  drawClouds(g, row);
  g.drawImage(linesLayer(), 0, 0);
  // The discs a class at a time; in voltage colours, those outside range A last, above the rest.
  const r = discRadius();
  const order = meta.colour_by === 'voltage' ? [2, 5, 0, 1, 3, 4] : meta.classes.map((c, i) => i);
  const base = (row - block.first - 1) * meta.buses;
  const counts = new Array(meta.classes.length).fill(0);
  for (let k = 0; k < meta.buses; ++k)
    counts[block.classes[base + k]]++;
  for (const c of order) {
    if (!counts[c])
      continue;
    g.fillStyle = meta.classes[c].colour;
    g.beginPath();
    for (let k = 0; k < meta.buses; ++k) {
      if (block.classes[base + k] !== c || n.x[k] === null)
        continue;
      const x = px(n.x[k]), y = py(n.y[k]);
      g.moveTo(x + r, y);
      g.arc(x, y, r, 0, 2 * Math.PI);
    }
    g.fill();
  }
  drawControls(g, row);
  if (state.ringed && state.ringedRow === row)
    ring(g, state.ringed - 1, '#000');
  if (state.hover >= 0)
    ring(g, state.hover, '#ff00ff');
  return counts;
}

const profilePlot = {};

function drawProfile(block, row) {
  if (profile.hidden)
    return;
  const g = profile.getContext('2d');
  const n = page.network, meta = page.meta, s = devicePixelRatio;
  const w = profile.width, h = profile.height;
  g.fillStyle = '#fff';
  g.fillRect(0, 0, w, h);
  const plot = { left: 56 * s, top: 24 * s, right: w - 12 * s, bottom: h - 36 * s };
  const [low, high] = meta.profile_axes;
  const far = Math.max(meta.profile_km, 1e-9);
  const x = (km) => plot.left + km / far * (plot.right - plot.left);
  const y = (v) => plot.bottom - (v / 10000 - low) / (high - low) * (plot.bottom - plot.top);
  Object.assign(profilePlot, { x, y, plot });
  g.font = (12 * s) + 'px "DejaVu Sans", sans-serif';
  g.fillStyle = '#000';
  g.fillText('voltage profile, row ' + row + ' (pu): each bus\u2019s lowest (navy) and highest (maroon)', plot.left, 16 * s);
  g.fillText(meta.distance_unit === 'network units' ? 'distance from the source, network units'
                                                    : 'km from the source along the lines',
             (plot.left + plot.right) / 2 - 90 * s, h - 8 * s);
  // Ranges A (solid) and B (dashed).
  g.strokeStyle = '#808080';
  for (const [v, dash] of [[0.95, []], [1.05, []], [110 / 120, [4, 3]], [127 / 120, [4, 3]]]) {
    g.setLineDash(dash.map((d) => d * s));
    g.beginPath();
    g.moveTo(plot.left, Math.round(y(v * 10000)) + 0.5);
    g.lineTo(plot.right, Math.round(y(v * 10000)) + 0.5);
    g.stroke();
  }
  g.setLineDash([]);
  for (let t = 0; t <= 4; ++t) {
    const v = low + (high - low) * t / 4;
    g.fillText(v.toFixed(3), 4 * s, y(v * 10000) + 4 * s);
  }
  const tick = Math.pow(10, Math.floor(Math.log10(far / 2))), every = far / tick > 10 ? tick * 2 : tick;
  for (let km = 0; km <= far + 1e-9; km += every)
    g.fillText(String(Math.round(km * 1000) / 1000), x(km) - 6 * s, plot.bottom + 14 * s);
  g.save();
  g.beginPath();
  g.rect(plot.left, plot.top, plot.right - plot.left, plot.bottom - plot.top);
  g.clip();
  for (const [table, colour] of [[block.low, '#000080'], [block.high, '#800000']]) {
    g.strokeStyle = colour;
    g.beginPath();
    for (let i = 0; i < n.segments.length; i += 2) {
      const f = n.segments[i], t = n.segments[i + 1];
      const df = n.distance_km[f], dt = n.distance_km[t];
      const vf = at(block, table, row, f), vt = at(block, table, row, t);
      if (df === null || dt === null || vf === -2147483648 || vt === -2147483648)
        continue;
      g.moveTo(x(df), y(vf));
      g.lineTo(x(dt), y(vt));
    }
    g.stroke();
  }
  // Each bus's two points, each in the class of its own value: the points of a class together.
  const side = (meta.buses < 500 ? 5 : 3) * s;
  const base = (row - block.first - 1) * meta.buses;
  if (!page.points || page.points.length !== 6 * meta.buses)
    page.points = new Float64Array(6 * meta.buses);
  const points = page.points;  // x, y and class of each point; class -1 for none
  let count = 0;
  for (let k = 0; k < meta.buses; ++k) {
    const d = n.distance_km[k];
    if (d === null) continue;
    const px0 = Math.round(x(d) - side / 2);
    for (const v of [block.low[base + k], block.high[base + k]]) {
      if (v === -2147483648) continue;
      points[count++] = px0;
      points[count++] = Math.round(y(v) - side / 2);
      points[count++] = valueClass(v);
    }
  }
  for (let c = 0; c < meta.voltage_colours.length; ++c) {
    g.fillStyle = meta.voltage_colours[c];
    for (let i = 0; i < count; i += 3)
      if (points[i + 2] === c)
        g.fillRect(points[i], points[i + 1], side, side);
  }
  g.restore();
  g.strokeStyle = '#000';
  g.strokeRect(plot.left + 0.5, plot.top + 0.5, plot.right - plot.left, plot.bottom - plot.top);
}

function drawBand(counts, row) {
  const meta = page.meta;
  // A part of a longer sky numbers its rows as that sky does.
  const rowOf = meta.row_offset + row, rowsOf = meta.sky_rows || meta.rows;
  let when = page.times[row - 1] + '    row ' + rowOf + ' / ' + rowsOf;
  if (meta.sky_rows)
    when += '    (rows ' + (meta.row_offset + 1) + '\u2013' + (meta.row_offset + meta.rows) + ' of the sky on this page)';
  // What a key that had nowhere to go says, until the row changes.
  if (state.note && state.noteRow === row)
    when += '    ' + state.note;
  const worst = state.ringed && state.ringedRow === row ? state.ringed - 1 : -1;
  if (worst >= 0)
    when += '    worst bus ' + page.network.names[worst];
  document.getElementById('when').textContent = when;
  const legend = document.getElementById('legend');
  if (!legend.childElementCount) {
    meta.classes.forEach((c) => {
      const entry = document.createElement('span');
      const swatch = document.createElement('span');
      swatch.className = 'swatch';
      swatch.style.background = c.colour;
      entry.append(swatch, document.createTextNode(''));
      legend.append(entry);
    });
    if (page.network.controls.length) {
      const entry = document.createElement('span');
      entry.textContent = '\u25a8 regulator   \u2016 capacitor   (magenta: acts in this row)';
      legend.append(entry);
    }
    if (page.network.own_outside.length) {
      const entry = document.createElement('span');
      entry.id = 'own';
      entry.textContent = ownText();
      legend.append(entry);
    }
    if (meta.field) {
      // The shade's steps, lightest first: the clear-sky index under 0.95 and falling.
      const entry = document.createElement('span');
      entry.title = 'The measured sky drifting with the wind: the darker, the less sun (clear-sky index under 0.95)';
      // Outlined, its lightest steps being near the band's own grey.
      const strip = document.createElement('span');
      strip.style.cssText = 'display: inline-block; border: 1px solid #000; line-height: 0; vertical-align: -2px';
      for (const colour of meta.shade) {
        const swatch = document.createElement('span');
        swatch.className = 'swatch';
        swatch.style.background = colour;
        swatch.style.margin = '0';
        swatch.style.verticalAlign = 'top';
        strip.append(swatch);
      }
      entry.append(strip, document.createTextNode(' shade: the sky\u2019s index under 0.95'));
      legend.append(entry);
    }
  }
  meta.classes.forEach((c, i) => { legend.children[i].lastChild.data = c.text + ': ' + counts[i]; });
  document.title = 'row ' + rowOf + ' / ' + rowsOf + ' \u2014 ' + meta.title + ' \u2014 Umbrascope';
  document.getElementById('slider').value = row;
}

let pending = false;

function draw() {
  if (!page.meta || !state.view)
    return;
  const row = state.row;
  const block = readyBlock(row);
  if (!block) {
    loadBlock(blockOf(row)).then(draw, () => {});
    return;
  }
  const started = performance.now();
  const counts = drawMap(block, row);
  drawProfile(block, row);
  drawBand(counts, row);
  stats.frames.push(performance.now() - started);
  if (stats.frames.length > 10000)
    stats.frames.splice(0, 5000);
  // The next block, ready before it is needed.
  const next = blockOf(Math.min(row + page.meta.block_rows, page.meta.rows));
  if (!blocks.has(next))
    loadBlock(next).catch(() => {});
}

function requestDraw() {
  if (pending)
    return;
  pending = true;
  requestAnimationFrame(() => { pending = false; draw(); });
}

// ---- input ----

let addressTimer = 0;

function show(row, ringWorst) {
  const rows = page.meta.rows;
  state.row = Math.max(1, Math.min(rows, Math.round(row)));
  if (ringWorst && jumps().worst_bus.length) {
    state.ringed = jumps().worst_bus[state.row - 1];
    state.ringedRow = state.row;
  }
  requestDraw();
  clearTimeout(addressTimer);
  // The address names the row as the sky numbers it, on a page of a part of it too.
  addressTimer = setTimeout(() => history.replaceState(null, '', '#row=' + (page.meta.row_offset + state.row)), 150);
}

// The rows in which a regulator or capacitor acts, in order.
function actionRows() {
  if (!page.actionRows) {
    const rows = new Set();
    for (const c of page.network.controls)
      for (let i = 2; i < c.states.length; i += 2)
        rows.add(c.states[i]);
    page.actionRows = [...rows].filter((r) => r >= 1 && r <= page.meta.rows).sort((a, b) => a - b);
  }
  return page.actionRows;
}

// T and Shift+T: the next or previous row where a control acts, or a word in the band where none is.
function action(forward) {
  const rows = actionRows();
  let target = 0;
  if (forward)
    target = rows.find((r) => r > state.row) || 0;
  else
    for (const r of rows) if (r < state.row) target = r;
  pause();
  if (target > 0) {
    show(target);
    return;
  }
  state.note = !rows.length ? 'no regulator or capacitor acts in this run'
                            : forward ? 'no action after this row' : 'no action before this row';
  state.noteRow = state.row;
  requestDraw();
}

// The jumps' figures: with the buses outside range A all run (the feeder's own) left out, as
// by default, or counted after O.
function jumps() {
  const n = page.network;
  return state.countOwn && n.counted ? n.counted : n;
}

// What the legend says of the feeder's own once: which buses, and whether the jumps count them.
function ownText() {
  const own = page.network.own_outside;
  const names = own.slice(0, 5).map((b) => page.network.names[b]);
  const more = own.length > names.length ? ' and ' + (own.length - names.length) + ' more' : '';
  return (own.length === 1 ? '1 bus' : own.length + ' buses') + ' outside range A in every row, the feeder\u2019s own: ' +
         names.join(', ') + more + (state.countOwn ? '; counted in W and the jumps (O leaves ' : '; left out of W and the jumps (O counts ') +
         (own.length === 1 ? 'it)' : 'them)');
}

function excursion(forward) {
  const starts = jumps().excursions;
  let target = 0;
  if (forward)
    target = starts.find((r) => r > state.row) || 0;
  else
    for (const r of starts) if (r < state.row) target = r;
  if (target > 0) {
    pause();
    show(target, true);
  }
}

let playTimer = 0, playStarted = 0, playFrom = 0;

function pause() {
  state.playing = false;
  cancelAnimationFrame(playTimer);
  document.getElementById('play').innerHTML = '&#9654;';
}

function play() {
  if (state.row >= page.meta.rows)
    show(1);
  state.playing = true;
  playStarted = performance.now();
  playFrom = state.row;
  document.getElementById('play').innerHTML = '&#10074;&#10074;';
  const tick = (now) => {
    if (!state.playing) return;
    const row = playFrom + Math.floor((now - playStarted) / 1000 * state.speed);
    if (row >= page.meta.rows) {
      show(page.meta.rows);
      pause();
      return;
    }
    if (row !== state.row)
      show(row);
    playTimer = requestAnimationFrame(tick);
  };
  playTimer = requestAnimationFrame(tick);
}

function nearestBus(cx, cy) {
  const n = page.network, reach = Math.max(8 * devicePixelRatio, discRadius() + 2);
  let best = -1, distance = reach;
  for (let k = 0; k < page.meta.buses; ++k) {
    if (n.x[k] === null) continue;
    const d = Math.hypot(px(n.x[k]) - cx, py(n.y[k]) - cy);
    if (d <= distance) { distance = d; best = k; }
  }
  return best;
}

function nearestControl(cx, cy) {
  const n = page.network, s = devicePixelRatio;
  const atBus = new Map();
  let best = -1, distance = 8 * s;
  n.controls.forEach((c, i) => {
    if (c.bus < 0) return;
    if (!atBus.has(c.bus)) atBus.set(c.bus, []);
    atBus.get(c.bus).push(i);
  });
  for (const [bus, list] of atBus)
    list.forEach((i, slot) => {
      const x = px(n.x[bus]) + (slot - (list.length - 1) / 2) * 13 * s, y = py(n.y[bus]) - 15 * s;
      const d = Math.hypot(x - cx, y - cy);
      if (d <= distance) { distance = d; best = i; }
    });
  return best;
}

function describeBus(k) {
  const block = readyBlock(state.row);
  const n = page.network, meta = page.meta, row = state.row;
  if (!block) return '';
  const c = block.classes[(row - block.first - 1) * meta.buses + k];
  const sun = sunAt(block, row, k);
  let text = n.names[k] + '\nrow ' + row + ' (' + page.times[row - 1] + '): ' + meta.classes[c].text;
  if (meta.voltages)
    text += '\nlowest ' + perUnit(at(block, block.low, row, k)) + ' pu, highest ' + perUnit(at(block, block.high, row, k)) + ' pu';
  if (n.distance_km[k] !== null && n.distance_km[k] !== undefined)
    text += '\n' + n.distance_km[k].toFixed(3) + ' ' + (meta.distance_unit || 'km') + ' from the source';
  text += '\nsunlight ' + (sun === -2147483648 ? 'none' : (sun / 1000).toFixed(3));
  if (meta.bus_notes && meta.bus_notes[k]) text += '\n' + meta.bus_notes[k];
  return text;
}

function describeControl(i) {
  const c = page.network.controls[i], row = state.row;
  const what = (v) => c.kind === 'regcontrol' ? 'tap ' + v : v + (v === 1 ? ' step' : ' steps') + ' in service';
  let text = (c.kind === 'regcontrol' ? 'regulator ' : 'capacitor control ') + c.name + ' (' + c.element + ')\nrow ' + row +
      ': ' + what(stateAt(c.states, row));
  if (acts(c.states, row))
    text += ', from ' + stateAt(c.states, row - 1) + ': it acts';
  if (c.clear)
    text += '\nunder a clear sky: ' + what(stateAt(c.clear, row));
  return text;
}

function tip(text, event) {
  const element = document.getElementById('tip');
  element.hidden = !text;
  element.textContent = text;
  element.style.left = (event.clientX + 14) + 'px';
  element.style.top = (event.clientY + 14) + 'px';
}

function input() {
  const slider = document.getElementById('slider');
  slider.max = page.meta.rows;
  // A tick at every row where a control acts.
  if (page.network.controls.length) {
    const ticks = document.createElement('datalist');
    ticks.id = 'actions';
    for (const r of actionRows()) {
      const option = document.createElement('option');
      option.value = r;
      ticks.append(option);
    }
    document.body.append(ticks);
    slider.setAttribute('list', 'actions');
    slider.title += '; T and Shift+T the next and previous row where a regulator or capacitor acts, K shows or hides them';
  }
  if (page.network.own_outside.length)
    slider.title += '; O counts the buses outside range A in every row in W and the jumps, or leaves them out again';
  slider.addEventListener('input', () => { pause(); show(Number(slider.value)); });
  document.getElementById('play').addEventListener('click', () => (state.playing ? pause() : play()));
  document.getElementById('speed').addEventListener('change', (e) => {
    state.speed = Number(e.target.value);
    if (state.playing) { pause(); play(); }
  });
  const hasExcursions = page.meta.voltages;
  for (const [id, forward] of [['previous', false], ['next', true]]) {
    const button = document.getElementById(id);
    button.hidden = !hasExcursions;
    button.addEventListener('click', () => excursion(forward));
  }
  window.addEventListener('keydown', (e) => {
    const rows = page.meta.rows, row = state.row;
    const keys = { Home: 1, End: rows, ArrowLeft: row - 1, ArrowRight: row + 1, PageUp: row - 10, PageDown: row + 10 };
    if ((e.ctrlKey || e.metaKey) && (e.key === 'ArrowRight' || e.key === 'ArrowLeft')) {
      excursion(e.key === 'ArrowRight');
    } else if (e.key in keys) {
      pause();
      show(keys[e.key]);
    } else if (e.key === ' ') {
      state.playing ? pause() : play();
    } else if (e.key === 'f' || e.key === 'F') {
      fit(); requestDraw();
    } else if ((e.key === 't' || e.key === 'T') && page.network.controls.length) {
      action(!e.shiftKey);
    } else if ((e.key === 'k' || e.key === 'K') && page.network.controls.length) {
      state.hideControls = !state.hideControls;
      requestDraw();
    } else if ((e.key === 'w' || e.key === 'W') && jumps().worst_row > 0) {
      pause();
      show(jumps().worst_row, true);
    } else if ((e.key === 'o' || e.key === 'O') && page.network.own_outside.length) {
      state.countOwn = !state.countOwn;
      state.ringed = 0;
      document.getElementById('own').textContent = ownText();
      requestDraw();
    } else {
      return;
    }
    e.preventDefault();
  });
  map.addEventListener('wheel', (e) => {
    e.preventDefault();
    const factor = Math.pow(1.25, -e.deltaY / 100);
    const cx = e.offsetX * devicePixelRatio, cy = e.offsetY * devicePixelRatio;
    const v = state.view;
    v.x = cx - (cx - v.x) * factor;
    v.y = cy - (cy - v.y) * factor;
    v.scale *= factor;
    state.lines = null;
    requestDraw();
  }, { passive: false });
  let drag = null;
  map.addEventListener('mousedown', (e) => { drag = { x: e.clientX, y: e.clientY }; map.classList.add('dragging'); });
  window.addEventListener('mouseup', () => { drag = null; map.classList.remove('dragging'); });
  map.addEventListener('mousemove', (e) => {
    if (drag) {
      state.view.x += (e.clientX - drag.x) * devicePixelRatio;
      state.view.y += (e.clientY - drag.y) * devicePixelRatio;
      drag = { x: e.clientX, y: e.clientY };
      state.lines = null;
      requestDraw();
      return;
    }
    const cx = e.offsetX * devicePixelRatio, cy = e.offsetY * devicePixelRatio;
    const control = nearestControl(cx, cy);
    const bus = control < 0 ? nearestBus(cx, cy) : -1;
    tip(control >= 0 ? describeControl(control) : bus >= 0 ? describeBus(bus) : '', e);
  });
  map.addEventListener('mouseleave', () => tip('', { clientX: 0, clientY: 0 }));
  // A click (or a tap, where nothing hovers) shows what the page knows of the bus under it.
  map.addEventListener('click', (e) => {
    const bus = nearestBus(e.offsetX * devicePixelRatio, e.offsetY * devicePixelRatio);
    if (bus >= 0) tip(describeBus(bus), e);
  });
  map.addEventListener('dblclick', () => { fit(); requestDraw(); });
  profile.addEventListener('mousemove', (e) => {
    const block = readyBlock(state.row);
    if (!block || !profilePlot.x) return;
    const cx = e.offsetX * devicePixelRatio, cy = e.offsetY * devicePixelRatio, n = page.network;
    let best = -1, distance = 6 * devicePixelRatio;
    for (let k = 0; k < page.meta.buses; ++k) {
      if (n.distance_km[k] === null) continue;
      for (const table of [block.low, block.high]) {
        const v = at(block, table, state.row, k);
        if (v === -2147483648) continue;
        const d = Math.hypot(profilePlot.x(n.distance_km[k]) - cx, profilePlot.y(v) - cy);
        if (d < distance) { distance = d; best = k; }
      }
    }
    if (best !== state.hover) { state.hover = best; requestDraw(); }
    tip(best >= 0 ? describeBus(best) : '', e);
  });
  profile.addEventListener('mouseleave', () => { state.hover = -1; tip('', { clientX: 0, clientY: 0 }); requestDraw(); });
  // The canvases' bitmaps follow their sizes on the page, whatever changes them.
  let sized = [0, 0, 0, 0];
  new ResizeObserver(() => {
    const now = [map.clientWidth, map.clientHeight, profile.clientWidth, profile.clientHeight];
    if (now.some((v, i) => v !== sized[i])) {
      sized = now;
      resize();
    }
  }).observe(document.getElementById('views'));
}

async function start() {
  try {
    await decodePage();
  } catch (e) {
    if (!window.umbrascope.error)
      fail('This page could not be read: ' + e.message);
    return;
  }
  const wanted = /(?:^#|&)row=(\d+)/.exec(location.hash);
  state.row = wanted ? Math.max(1, Math.min(page.meta.rows, Number(wanted[1]) - page.meta.row_offset)) : 1;
  profile.hidden = !page.meta.profile;
  input();
  try {
    await loadBlock(blockOf(state.row));
  } catch (e) {
    return;
  }
  document.getElementById('message').textContent = '';
  resize();
  window.umbrascope.shown = state.row;
}

// Where a bus's disc and a control's symbol are on the page, in CSS pixels, for tests and tools.
function where(k) {
  const box = map.getBoundingClientRect(), n = page.network;
  return [box.left + px(n.x[k]) / devicePixelRatio, box.top + py(n.y[k]) / devicePixelRatio];
}

function symbolAt(i) {
  const n = page.network, c = n.controls[i], s = devicePixelRatio, box = map.getBoundingClientRect();
  const list = n.controls.map((other, j) => j).filter((j) => n.controls[j].bus === c.bus);
  const slot = list.indexOf(i);
  return [box.left + (px(n.x[c.bus]) + (slot - (list.length - 1) / 2) * 13 * s) / s, box.top + (py(n.y[c.bus]) - 15 * s) / s];
}

window.umbrascope = {
  error: '',
  stats,
  row: () => state.row,
  playing: () => state.playing,
  names: () => page.network.names,
  colours: () => page.meta.classes.map((c) => c.colour),
  valueClass,
  where,
  symbol: symbolAt,
  sun: (block, row, k) => sunAt(block, row, k),
  show: (row) => { pause(); show(row); },
  block: (b) => loadBlock(b),
  blockOf: (row) => blockOf(row),
  ready: null,
};
// The sections follow this script in the page: it starts once the whole page is read (or as much
// of it as there is).
window.umbrascope.ready = new Promise((resolve) => {
  if (document.readyState === 'loading')
    document.addEventListener('DOMContentLoaded', () => resolve(start()));
  else
    resolve(start());
});
