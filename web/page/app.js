// The page: opens frames and pictures, shows them as a grid of thumbnails,
// views one at 640x480 and saves PNGs, a ZIP of PNGs or encoded frames. The
// codec runs in workers (worker.js); this side keeps only each file's handle,
// its report and a small JPEG thumbnail, so thousands of frames stay light.
'use strict';

const PICTURE_NAME = /\.(png|jpe?g|bmp)$/i;
const FRAME_NAME = /\.yuv$/i;
const LEVEL_ASKED = new URLSearchParams(location.search).get('level');

// ---- Workers -------------------------------------------------------------

// Requests queue here and go to the workers two at a time each, so that an
// urgent one (the view) overtakes a big folder's backlog.
class WorkerPool {
  constructor(size) {
    this.queue = [];
    this.waiting = new Map();
    this.nextId = 1;
    this.workers = Array.from({length: size}, () => {
      const worker = new Worker(LEVEL_ASKED ? `worker.js?level=${encodeURIComponent(LEVEL_ASKED)}` : 'worker.js');
      worker.busy = 0;
      worker.onmessage = (event) => this.settle(worker, event.data);
      worker.onerror = (event) => {
        event.preventDefault();
        this.fail(worker, 'the decoding worker stopped: ' + (event.message || 'unknown error'));
      };
      return worker;
    });
  }

  request(op, payload, {urgent = false, transfer = []} = {}) {
    return new Promise((resolve, reject) => {
      const job = {id: this.nextId++, op, payload, transfer, resolve, reject};
      if (urgent) this.queue.unshift(job); else this.queue.push(job);
      this.pump();
    });
  }

  pump() {
    for (const worker of this.workers) {
      while (worker.busy < 2 && this.queue.length > 0) {
        const job = this.queue.shift();
        worker.busy++;
        job.worker = worker;
        this.waiting.set(job.id, job);
        worker.postMessage({id: job.id, op: job.op, ...job.payload}, job.transfer);
      }
    }
  }

  settle(worker, reply) {
    const job = this.waiting.get(reply.id);
    if (!job) return;
    this.waiting.delete(reply.id);
    worker.busy--;
    if (reply.ok) job.resolve(reply); else job.reject(new Error(reply.error));
    this.pump();
  }

  fail(worker, message) {
    for (const [id, job] of this.waiting) {
      if (job.worker !== worker) continue;
      this.waiting.delete(id);
      worker.busy--;
      job.reject(new Error(message));
    }
    this.pump();
  }

  // Drops what has not started (after Clear).
  dropQueued() {
    for (const job of this.queue.splice(0)) job.reject(new Error('cancelled'));
  }
}

const pool = new WorkerPool(Math.max(1, Math.min(navigator.hardwareConcurrency || 2, 4)));
pool.request('level', {}).then(({level}) => {
  document.getElementById('level').textContent = `The codec runs here as WebAssembly, ${level} level, ` +
    `in ${pool.workers.length} workers.`;
}, (error) => {
  document.getElementById('level').textContent = `The codec could not be started: ${error.message}`;
});

// ---- Items and the grid ----------------------------------------------------

const grid = document.getElementById('grid');
const progress = document.getElementById('progress');
const items = [];  // {name, source, state, kind, step, damage, damageText, error, ...}
let focused = 0;    // the card that Tab reaches in the grid (one tab stop for the whole grid)
let batch = null;   // {total, done, damaged, failed, start, settled: Promise}

function element(tag, attributes = {}, text = '') {
  const e = document.createElement(tag);
  for (const [key, value] of Object.entries(attributes)) e.setAttribute(key, value);
  if (text) e.textContent = text;
  return e;
}

function describe(item) {
  if (item.state === 'pending') return `${item.name}: opening`;
  if (item.state === 'failed') return `${item.name}: ${item.error}`;
  let text = `${item.name}: ${item.kind} frame, quality step ${item.step}`;
  if (item.damage) text += `, damaged (${item.damageText})`;
  if (item.decodeError) text += `, ${item.decodeError}`;
  return text;
}

function renderItem(item) {
  const li = item.element || element('li');
  li.replaceChildren();
  li.className = item.state;
  li.dataset.index = item.index;
  const card = element('button', {type: 'button', class: 'card', tabindex: '-1'});
  if (item.state === 'ok' && item.thumb) {
    card.append(element('canvas', {width: 0, height: 120, class: 'thumb', role: 'img', 'aria-label': describe(item)}));
  } else {
    const text = item.state === 'pending' ? 'opening…' : item.decodeError || 'no picture';
    card.append(element('span', {class: 'no-picture', role: 'img', 'aria-label': describe(item)}, text));
  }
  card.append(element('span', {class: 'name'}, item.name));
  if (item.state === 'ok') {
    const facts = `${item.kind} · quality step ${item.step}` +
                  (item.madeFrom ? ` · made from ${item.madeFrom}` : '');
    card.append(element('span', {class: 'facts'}, facts));
    if (item.damage) card.append(element('span', {class: 'damaged'}, `damaged: ${item.damageText}`));
  } else if (item.state === 'failed') {
    card.append(element('span', {class: 'error'}, item.error));
  }
  if (item.state === 'ok' && !item.decodeError) card.addEventListener('click', () => openView(item));
  else card.setAttribute('aria-disabled', 'true');
  li.append(card);
  if (item.frameUrl) li.append(element('a', {href: item.frameUrl, download: item.name, class: 'save-frame'},
                                       `Save ${item.name}`));
  item.element = li;
  if (item.index === focused) card.tabIndex = 0;
  if (item.thumb) drawThumbnail(item);
}

// Only the thumbnails near the screen hold their pixels (75 KB each): their
// canvases are drawn from the small JPEGs as the browser starts rendering
// their cards (content-visibility: auto skips cards far from the screen),
// and emptied (width 0) as it stops. Images would keep every decoded picture.
function drawThumbnail(item) {
  const canvas = item.element.querySelector('canvas.thumb');
  if (!canvas || !item.element.onScreen) return;
  createImageBitmap(item.thumb).then((bitmap) => {
    if (item.element.onScreen && canvas.isConnected) {
      canvas.width = bitmap.width;
      canvas.getContext('2d').drawImage(bitmap, 0, 0);
    }
    bitmap.close();
  }, () => {});
}
grid.addEventListener('contentvisibilityautostatechange', (event) => {
  const li = event.target;
  li.onScreen = !event.skipped;
  const item = items[Number(li.dataset.index)];
  if (!item || item.element !== li) return;
  if (li.onScreen) return drawThumbnail(item);
  const canvas = li.querySelector('canvas.thumb');
  if (canvas) canvas.width = 0;
}, true);

function releaseItem(item) {
  if (item.frameUrl) URL.revokeObjectURL(item.frameUrl);
}

// ---- Opening ---------------------------------------------------------------

function baseName(path) { return path.slice(path.lastIndexOf('/') + 1); }

async function openOne(item) {
  try {
    if (PICTURE_NAME.test(item.name)) {
      const encoded = await pool.request('encode', {source: item.source});
      item.madeFrom = item.name;
      item.name = item.name.replace(PICTURE_NAME, '.yuv');
      item.path = item.path.replace(PICTURE_NAME, '.yuv');
      item.source = encoded.frame;
      item.frameUrl = URL.createObjectURL(new Blob([encoded.frame], {type: 'application/octet-stream'}));
    }
    const report = await requestOpen(item.source);
    Object.assign(item, {state: 'ok', kind: report.kind, step: report.step, damage: report.damage,
                         damageText: report.damageText, decodeError: report.decodeError});
    item.thumb = report.thumb;
  } catch (error) {
    if (error.message === 'cancelled') return;
    item.state = 'failed';
    item.error = error.message;
  }
  if (item.cleared) return releaseItem(item);  // cleared meanwhile
  renderItem(item);
  batch.done++;
  if (batch.done === batch.total) batch.end = performance.now();
  if (item.state === 'failed') batch.failed++;
  else if (item.damage) batch.damaged++;
  showProgress();
}

// Frames go to the workers eight to a request: the worker reads their files
// in one go, which costs the browser far less than a read each.
const OPEN_CHUNK = 8;  // worker.js's READ_FRAMES
let opensToSend = [];
function requestOpen(source) {
  return new Promise((resolve, reject) => {
    opensToSend.push({source, resolve, reject});
    if (opensToSend.length === 1) queueMicrotask(sendOpens);
  });
}
function sendOpens() {
  const all = opensToSend;
  opensToSend = [];
  for (let i = 0; i < all.length; i += OPEN_CHUNK) {
    const chunk = all.slice(i, i + OPEN_CHUNK);
    pool.request('open', {sources: chunk.map((c) => c.source)}).then(({results}) => {
      results.forEach((r, n) => (r.error ? chunk[n].reject(new Error(r.error)) : chunk[n].resolve(r)));
    }, (error) => chunk.forEach((c) => c.reject(error)));
  }
}

// Files as {file, path}, in the order given.
function openFiles(entries) {
  if (entries.length === 0) return;
  if (!batch || batch.done === batch.total) {
    batch = {total: 0, done: 0, damaged: 0, failed: 0, start: performance.now()};
  }
  batch.total += entries.length;
  // The new cards go into the grid at once: one change to the page, not one each.
  const cardsOfBatch = document.createDocumentFragment();
  const jobs = entries.map(({file, path}) => {
    const item = {index: items.length, name: baseName(path), path, source: file, state: 'pending'};
    items.push(item);
    renderItem(item);
    cardsOfBatch.append(item.element);
    return openOne(item);
  });
  grid.append(cardsOfBatch);
  const settled = Promise.all([batch.settled, ...jobs]);
  batch.settled = settled;
  document.getElementById('grid-help').hidden = false;
  updateButtons();
  showProgress();
}

let progressFrame = 0;
function showProgress() {
  if (progressFrame) return;
  progressFrame = requestAnimationFrame(() => {
    progressFrame = 0;
    if (!batch) return void (progress.textContent = '');
    const seconds = (performance.now() - batch.start) / 1000;
    const rate = seconds > 0 ? Math.round(batch.done / seconds) : 0;
    const verb = batch.done === batch.total ? 'Opened' : 'Opening…';
    let text = `${verb} ${batch.done.toLocaleString('en')} of ${batch.total.toLocaleString('en')} ` +
               `in ${seconds.toFixed(1)} s (${rate} a second)`;
    if (batch.damaged) text += `; ${batch.damaged} damaged`;
    if (batch.failed) text += `; ${batch.failed} could not be opened`;
    progress.textContent = text;
    updateButtons();
  });
}

function updateButtons() {
  document.getElementById('save-all').disabled = !items.some((i) => i.state === 'ok' && !i.decodeError);
  document.getElementById('clear').disabled = items.length === 0;
}

// A folder's frames: .yuv files, hidden names skipped, in path order (as
// `quill decode -r` walks a folder).
function framesOfFolder(entries) {
  return entries.filter(({path}) => FRAME_NAME.test(path) && !path.split('/').some((p) => p.startsWith('.')))
                .sort((a, b) => (a.path < b.path ? -1 : a.path > b.path ? 1 : 0));
}

document.getElementById('files').addEventListener('change', (event) => {
  openFiles([...event.target.files].map((file) => ({file, path: file.name})));
  event.target.value = '';
});
document.getElementById('folder').addEventListener('change', (event) => {
  const entries = [...event.target.files].map((file) => ({file, path: file.webkitRelativePath || file.name}));
  const frames = framesOfFolder(entries);
  if (frames.length === 0) progress.textContent = 'That folder holds no .yuv frames.';
  openFiles(frames);
  event.target.value = '';
});

// Dropped files and folders (folders walked for their frames).
function readAll(reader) {
  return new Promise((resolve, reject) => {
    const all = [];
    const next = () => reader.readEntries((batchOf) => {
      if (batchOf.length === 0) return resolve(all);
      all.push(...batchOf);
      next();
    }, reject);
    next();
  });
}
async function walk(entry, out) {
  if (entry.isFile) {
    out.push({file: await new Promise((resolve, reject) => entry.file(resolve, reject)),
              path: entry.fullPath.replace(/^\//, '')});
  } else if (entry.isDirectory) {
    for (const child of await readAll(entry.createReader())) await walk(child, out);
  }
}
document.addEventListener('dragover', (event) => {
  event.preventDefault();
  document.body.classList.add('dragging');
});
document.addEventListener('dragleave', (event) => {
  if (event.relatedTarget === null) document.body.classList.remove('dragging');
});
document.addEventListener('drop', async (event) => {
  event.preventDefault();
  document.body.classList.remove('dragging');
  const files = [], folders = [];
  for (const dropped of [...event.dataTransfer.items]) {
    const entry = dropped.webkitGetAsEntry ? dropped.webkitGetAsEntry() : null;
    if (entry && entry.isDirectory) folders.push(entry);
    else if (dropped.kind === 'file') files.push(dropped.getAsFile());
  }
  const inFolders = [];
  for (const folder of folders) await walk(folder, inFolders);
  openFiles([...files.map((file) => ({file, path: file.name})), ...framesOfFolder(inFolders)]);
});

document.getElementById('clear').addEventListener('click', () => {
  pool.dropQueued();
  for (const item of items.splice(0)) {
    item.cleared = true;
    releaseItem(item);
  }
  grid.replaceChildren();
  batch = null;
  focused = 0;
  progress.textContent = 'Cleared.';
  document.getElementById('grid-help').hidden = true;
  updateButtons();
});

// ---- Keyboard ----------------------------------------------------------------

function cards() { return grid.querySelectorAll('.card'); }
function columns() {
  const list = grid.children;
  if (list.length === 0) return 1;
  const top = list[0].offsetTop;
  let n = 1;
  while (n < list.length && list[n].offsetTop === top) n++;
  return n;
}
grid.addEventListener('keydown', (event) => {
  const all = cards();
  if (all.length === 0) return;
  const here = focused;
  const step = {ArrowRight: 1, ArrowLeft: -1, ArrowDown: columns(), ArrowUp: -columns(),
                Home: -Infinity, End: Infinity}[event.key];
  if (step === undefined) return;
  event.preventDefault();
  const next = Math.max(0, Math.min(all.length - 1, here + step));
  all[next].focus();  // focusin below moves the tab stop
});
grid.addEventListener('focusin', (event) => {
  const card = event.target.closest('.card');
  if (!card) return;
  const previous = items[focused]?.element?.querySelector('.card');
  if (previous && previous !== card) previous.tabIndex = -1;
  focused = Number(card.parentElement.dataset.index);
  card.tabIndex = 0;
});

// ---- The view ------------------------------------------------------------------

const view = document.getElementById('view');
const canvas = document.getElementById('view-canvas');
const viewStatus = document.getElementById('view-status');
const sizeChoice = document.getElementById('view-size');
const sharpenChoice = document.getElementById('view-sharpen');
const field2Choice = document.getElementById('view-field2');
let viewed = null;
let viewRequest = 0;

function viewOptions() {
  const width = Number(sizeChoice.value);
  const field2 = width === 640 && field2Choice.value !== '' ? items[Number(field2Choice.value)] : null;
  return {width, sharpen: sharpenChoice.checked, field2};
}

function pictureName(item, {width, sharpen, field2}) {
  let name = item.name.replace(FRAME_NAME, '');
  if (width === 640) name += '-640x480';
  if (sharpen) name += '-sharpened';
  if (field2) name += '-with-' + field2.name.replace(FRAME_NAME, '');
  return name + '.png';
}

function openView(item) {
  viewed = item;
  document.getElementById('view-title').textContent = describe(item);
  field2Choice.replaceChildren(element('option', {value: ''}, 'none: the frame itself twice'));
  for (const other of items)
    if (other !== item && other.state === 'ok' && !other.decodeError)
      field2Choice.append(element('option', {value: String(other.index)}, other.name));
  document.getElementById('view-save-frame').hidden = !item.frameUrl;
  if (!view.open) view.showModal();
  drawView();
}

async function drawView() {
  const item = viewed, options = viewOptions(), ticket = ++viewRequest;
  field2Choice.disabled = options.width !== 640;
  viewStatus.textContent = 'Decoding…';
  try {
    const {image} = await pool.request('render', {source: item.source, field2: options.field2?.source,
                                                  width: options.width, sharpen: options.sharpen, as: 'pixels'},
                                       {urgent: true});
    if (ticket !== viewRequest) return;  // a newer choice is on its way
    canvas.width = image.width;
    canvas.height = image.height;
    canvas.getContext('2d').putImageData(image, 0, 0);
    let label = `${item.name} at ${image.width}×${image.height}`;
    if (options.sharpen) label += ', sharpened';
    if (options.field2) label += `, second field ${options.field2.name}`;
    canvas.setAttribute('aria-label', label);
    viewStatus.textContent = item.damage ? `Damaged: ${item.damageText}` : '';
  } catch (error) {
    if (ticket === viewRequest) viewStatus.textContent = `${item.name} ${error.message}`;
  }
}

for (const control of [sizeChoice, sharpenChoice, field2Choice]) control.addEventListener('change', drawView);
document.getElementById('view-close').addEventListener('click', () => view.close());
view.addEventListener('close', () => {
  const card = viewed?.element?.querySelector('.card');
  if (card) card.focus();
});

function download(blob, name) {
  const link = element('a', {href: URL.createObjectURL(blob), download: name});
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 60000);
}

async function renderPng(item, options, urgent) {
  return pool.request('render', {source: item.source, field2: options.field2?.source, width: options.width,
                                 sharpen: options.sharpen, as: 'png'}, {urgent});
}

document.getElementById('view-save').addEventListener('click', async () => {
  const item = viewed, options = viewOptions();
  try {
    download((await renderPng(item, options, true)).png, pictureName(item, options));
  } catch (error) {
    viewStatus.textContent = `${item.name} ${error.message}`;
  }
});
document.getElementById('view-save-frame').addEventListener('click', () => {
  if (viewed?.frameUrl) download(new Blob([viewed.source]), viewed.name);
});

// ---- Save all --------------------------------------------------------------------

// Every decodable frame at 320x240 (as `quill decode` writes it), under its
// path with .png for .yuv; the rest of the batch goes on past any failure.
async function zipOfAll(onProgress) {
  const chosen = items.filter((i) => i.state === 'ok' && !i.decodeError);
  const zip = new ZipWriter();
  const failures = [];
  const pictures = chosen.map((item) => renderPng(item, {width: 320, sharpen: false}, false)
    .catch((error) => ({error})));
  for (let n = 0; n < chosen.length; n++) {
    const result = await pictures[n];
    if (result.error) failures.push(`${chosen[n].name} ${result.error.message}`);
    else zip.add(chosen[n].path.replace(FRAME_NAME, '') + '.png', result.png, result.crc);
    onProgress(n + 1, chosen.length);
  }
  return {blob: zip.finish(), saved: chosen.length - failures.length, failures};
}

document.getElementById('save-all').addEventListener('click', async (event) => {
  event.target.disabled = true;
  const start = performance.now();
  try {
    const {blob, saved, failures} = await zipOfAll((done, total) => {
      if (done % 25 !== 0 && done !== total) return;
      const rate = Math.round(done / ((performance.now() - start) / 1000));
      progress.textContent = `Making the ZIP: ${done} of ${total} pictures (${rate} a second)`;
    });
    download(blob, 'quill-pictures.zip');
    progress.textContent = `Saved ${saved} pictures in quill-pictures.zip` +
                           (failures.length ? `; left out: ${failures.join('; ')}` : '.');
  } catch (error) {
    progress.textContent = `The ZIP could not be made: ${error.message}`;
  } finally {
    updateButtons();
  }
});

// ---- For the browser tests ---------------------------------------------------------

async function sha256(bytes) {
  const digest = await crypto.subtle.digest('SHA-256', bytes);
  return [...new Uint8Array(digest)].map((b) => b.toString(16).padStart(2, '0')).join('');
}

// What the tests read: the items' reports, and hashes of the RGB pixels of a
// saved PNG (read back as the browser decodes it) and of encoded frames.
window.quillPage = {
  idle: () => Promise.resolve(batch?.settled).then(() => undefined),
  batchSeconds: () => (batch?.end - batch?.start) / 1000,
  items: () => items.map(({name, path, state, kind, step, damage, damageText, decodeError, error}) =>
    ({name, path, state, kind, step, damage, damageText, decodeError: decodeError || '', error: error || ''})),
  async pngHash(index, width, sharpen, field2Index) {
    const field2 = field2Index === undefined ? null : items[field2Index];
    const {png} = await renderPng(items[index], {width, sharpen, field2}, true);
    const bitmap = await createImageBitmap(png, {colorSpaceConversion: 'none', premultiplyAlpha: 'none'});
    const scratch = new OffscreenCanvas(bitmap.width, bitmap.height).getContext('2d', {willReadFrequently: true});
    scratch.drawImage(bitmap, 0, 0);
    const rgba = scratch.getImageData(0, 0, bitmap.width, bitmap.height).data;
    const rgb = new Uint8Array(rgba.length / 4 * 3);
    for (let i = 0, j = 0; i < rgba.length; i += 4, j += 3) rgb.set(rgba.subarray(i, i + 3), j);
    return sha256(rgb);
  },
  async zipBase64() {
    const {blob} = await zipOfAll(() => {});
    const bytes = new Uint8Array(await blob.arrayBuffer());
    let text = '';
    for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
    return btoa(text);
  },
  frameHash: (index) => (items[index].frameUrl ? sha256(items[index].source) : Promise.resolve('')),
};
