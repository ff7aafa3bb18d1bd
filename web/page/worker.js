// A decoding worker: owns one instance of the codec module and answers the
// page's requests one at a time, so the page itself never waits on the codec.
// Requests: {id, op, ...}; replies: {id, ok, ...} or {id, ok: false, error}.
'use strict';
// The module built for 128-bit WebAssembly vectors where the browser has
// them (the same bytes out, faster), else the plain one; ?level=plain or
// ?level=simd128 on the page's address chooses.
const SIMD_PROBE = new Uint8Array([0, 97, 115, 109, 1, 0, 0, 0, 1, 5, 1, 96, 0, 1, 123, 3, 2, 1, 0, 10, 10, 1,
                                   8, 0, 65, 0, 253, 15, 253, 98, 11]);
const asked = new URLSearchParams(self.location.search).get('level');
const LEVEL = asked === 'plain' || (asked !== 'simd128' && !WebAssembly.validate(SIMD_PROBE))
  ? 'plain' : 'simd128';
importScripts(LEVEL === 'plain' ? 'quill_web.js' : 'quill_web_simd.js', 'zip.js');

const FRAME_BYTES = 24576;
const THUMB_WIDTH = 160, THUMB_HEIGHT = 120;

let codec = null;  // {module, context, frame, field2, pixels}: buffers in the module's memory

async function openCodec() {
  const module = await createQuillModule();
  codec = {
    module,
    context: module._qw_new(),
    frame: module._qw_alloc(FRAME_BYTES),
    field2: module._qw_alloc(FRAME_BYTES),
    pixels: module._qw_alloc(640 * 480 * 4),
    thumb: module._qw_alloc(THUMB_WIDTH * THUMB_HEIGHT * 4),
    thumbPixels: new ImageData(THUMB_WIDTH, THUMB_HEIGHT),
    thumbCanvas: new OffscreenCanvas(THUMB_WIDTH, THUMB_HEIGHT),
    notDecodable: module._qw_status_quality_step(),  // a quality step out of range
  };
  if (!codec.context || !codec.frame || !codec.field2 || !codec.pixels || !codec.thumb)
    throw new Error('the codec could not be started (out of memory)');
}
const ready = openCodec();

// A frame's bytes from a File, a Blob or bytes; the size is checked before
// anything is read, so a large file is never loaded.
async function frameBytes(source) {
  const size = source.size !== undefined ? source.size : source.byteLength;
  if (size !== FRAME_BYTES) throw new Error(`is ${size} bytes; a frame is exactly ${FRAME_BYTES} bytes`);
  const bytes = source instanceof Blob ? new Uint8Array(await source.arrayBuffer()) : source;
  return bytes;
}

function report() {
  const m = codec.module;
  return {
    kind: m._qw_report_tagged() ? 'tagged' : 'legacy',
    step: m._qw_report_quality_step(),
    damage: m._qw_report_damage(),
    damageText: m.UTF8ToString(m._qw_report_damage_text()),
  };
}

function inspect(bytes) {
  const m = codec.module;
  m.HEAPU8.set(bytes, codec.frame);
  const status = m._qw_inspect(codec.frame, FRAME_BYTES);
  if (status !== 0) throw new Error(m.UTF8ToString(m._qw_strerror(status)));
  return report();
}

// Decodes the frame already in codec.frame (and the second field, when
// given) into a fresh ImageData.
function decode(step, field2, width, sharpen) {
  const m = codec.module;
  let field2Address = 0;
  if (field2) {
    m.HEAPU8.set(field2, codec.field2);
    field2Address = codec.field2;
  }
  const status = m._qw_decode(codec.context, codec.frame, field2Address, width, sharpen ? 1 : 0,
                              codec.pixels);
  if (status === codec.notDecodable)
    throw new Error(`cannot be decoded: its quality step ${step} is out of range`);
  if (status !== 0) throw new Error('cannot be decoded: ' + m.UTF8ToString(m._qw_strerror(status)));
  const height = width === 640 ? 480 : 240;
  // A view of the module's memory: copied by whoever keeps it.
  return new ImageData(new Uint8ClampedArray(m.HEAPU8.buffer, codec.pixels, width * height * 4), width, height);
}

// One canvas a size for the PNGs (convertToBlob takes the pixels at once,
// so the canvas can take the next picture straight away).
const pngCanvases = {};
function canvasOf(image) {
  const canvas = pngCanvases[image.width] ||= new OffscreenCanvas(image.width, image.height);
  canvas.getContext('2d').putImageData(image, 0, 0);
  return canvas;
}

// A frame's bytes, read into a spare buffer when it is a file; `done` gives
// the buffer back.
async function oneFrame(source) {
  const {frames: [{bytes, error}], done} = await framesOf([source]);
  if (error) throw new Error(error);
  return {bytes, done};
}

// Opens one frame for the grid: what it is, and its thumbnail, a small JPEG
// (some 5 KB), so that thousands of thumbnails stay small. The thumbnail is
// a promise; the canvas's pixels are taken when it is asked for.
function openFrame(bytes) {
  const m = codec.module;
  m.HEAPU8.set(bytes, codec.frame);
  const status = m._qw_open(codec.context, codec.frame, codec.pixels, codec.thumb);
  if (status !== 0 && status !== codec.notDecodable) throw new Error(m.UTF8ToString(m._qw_strerror(status)));
  const result = report();
  if (status === codec.notDecodable) {
    result.decodeError = `cannot be decoded: its quality step ${result.step} is out of range`;
    return result;
  }
  // One canvas and one pixel buffer for every thumbnail: canvases made per
  // frame would wait for the collector, 75 KB each, in their thousands.
  codec.thumbPixels.data.set(m.HEAPU8.subarray(codec.thumb, codec.thumb + THUMB_WIDTH * THUMB_HEIGHT * 4));
  codec.thumbCanvas.getContext('2d').putImageData(codec.thumbPixels, 0, 0);
  result.thumb = codec.thumbCanvas.convertToBlob({type: 'image/jpeg', quality: 0.85});
  return result;
}

// Buffers for reading frames, used again and again: a buffer read per frame
// would be garbage that a worker collects only after tens of megabytes.
const READ_FRAMES = 8;  // the page sends at most this many frames a request
const spareBuffers = [];

// Reads a Blob of at most READ_FRAMES frames into a spare buffer (one byte
// over, so that the end of the stream is seen). Returns [bytes, buffer].
async function readInto(blob) {
  let buffer = spareBuffers.pop() || new ArrayBuffer(READ_FRAMES * FRAME_BYTES + 1);
  const reader = blob.stream().getReader({mode: 'byob'});
  let length = 0;
  for (;;) {
    const {value, done} = await reader.read(new Uint8Array(buffer, length));
    if (!value) throw new Error('could not be read');
    buffer = value.buffer;  // each read hands the buffer over and back
    if (done) break;
    length += value.byteLength;
    if (length === buffer.byteLength) throw new Error('grew while being read');
  }
  return [new Uint8Array(buffer, 0, length), buffer];
}

// The bytes of several frames (Files, Blobs or bytes), their files read in
// one go, which costs the browser far less than a read each; when that
// fails, each is read by itself, so the failure is the one file's. Frames of
// the wrong size are not read at all. `done` gives the buffer back.
async function framesOf(sources) {
  const files = sources.filter((s) => s instanceof Blob && s.size === FRAME_BYTES);
  let joined = null, buffer = null;
  try {
    if (files.length > 0) [joined, buffer] = await readInto(new Blob(files));
    if (joined && joined.length !== files.length * FRAME_BYTES) throw new Error('changed while being read');
  } catch (error) {
    joined = null;
  }
  let next = 0;
  const frames = await Promise.all(sources.map(async (source) => {
    if (joined && source instanceof Blob && source.size === FRAME_BYTES)
      return joined.subarray(next * FRAME_BYTES, ++next * FRAME_BYTES);
    return frameBytes(source);
  }).map((p) => p.then((bytes) => ({bytes}), (error) => ({error: error.message}))));
  return {frames, done: () => buffer && spareBuffers.push(buffer)};
}

async function openFrames({sources}) {
  const results = [];
  const {frames, done} = await framesOf(sources);
  for (const {bytes, error} of frames) {
    try {
      if (error) throw new Error(error);
      results.push(openFrame(bytes));
    } catch (failure) {
      results.push({error: failure.message});
    }
  }
  done();
  for (const result of results) if (result.thumb) result.thumb = await result.thumb;
  return {results};
}

// A picture at the view's options: pixels (for the screen) or a PNG with its
// CRC-32 (for saving, alone or in a ZIP).
async function render({source, field2, width, sharpen, as}) {
  const first = await oneFrame(source);
  const second = field2 ? await oneFrame(field2) : null;
  let image;
  try {
    image = decode(inspect(first.bytes).step, second && second.bytes, width, sharpen);
  } finally {
    first.done();
    if (second) second.done();
  }
  if (as === 'pixels') {
    const copy = new ImageData(new Uint8ClampedArray(image.data), image.width, image.height);
    return {image: copy, transfer: [copy.data.buffer]};
  }
  const png = await canvasOf(image).convertToBlob({type: 'image/png'});
  return {png, crc: crc32(new Uint8Array(await png.arrayBuffer()))};
}

// Encodes a picture file through the browser's own image decoding.
async function encode({source}) {
  let bitmap;
  try {
    bitmap = await createImageBitmap(source, {colorSpaceConversion: 'none', premultiplyAlpha: 'none'});
  } catch (error) {
    throw new Error('is not a picture this browser can read');
  }
  const {width, height} = bitmap;
  if (!((width === 320 && height === 240) || (width === 640 && height === 480))) {
    bitmap.close();
    throw new Error(`is ${width}x${height}; pictures of 320x240 or 640x480 are taken`);
  }
  const canvas = new OffscreenCanvas(width, height);
  const context = canvas.getContext('2d', {willReadFrequently: true});
  context.drawImage(bitmap, 0, 0);
  bitmap.close();
  const rgba = context.getImageData(0, 0, width, height).data;
  // Alpha on black, as the quill tool reads pictures: (c * a + 127) / 255.
  // The canvas keeps partly transparent pixels premultiplied, so those may
  // come out one step away from the tool's; opaque and fully transparent
  // pixels are exact.
  for (let i = 0; i < rgba.length; i += 4) {
    const a = rgba[i + 3];
    if (a === 255) continue;
    for (let c = 0; c < 3; ++c) rgba[i + c] = Math.floor((rgba[i + c] * a + 127) / 255);
    rgba[i + 3] = 255;
  }
  const m = codec.module;
  const pixels = m._qw_alloc(rgba.length);
  if (!pixels) throw new Error('cannot be encoded: out of memory');
  try {
    m.HEAPU8.set(rgba, pixels);
    const status = m._qw_encode(codec.context, pixels, width, height, codec.frame);
    if (status !== 0) throw new Error('cannot be encoded: ' + m.UTF8ToString(m._qw_strerror(status)));
  } finally {
    m._qw_release(pixels);
  }
  const frame = new Uint8Array(m.HEAPU8.subarray(codec.frame, codec.frame + FRAME_BYTES));
  return {frame, step: m._qw_encoded_quality_step(), transfer: [frame.buffer]};
}

const operations = {open: openFrames, render, encode, level: async () => ({level: LEVEL})};

self.onmessage = async (event) => {
  const request = event.data;
  try {
    await ready;
    const {transfer = [], ...result} = await operations[request.op](request);
    self.postMessage({id: request.id, ok: true, ...result}, transfer);
  } catch (error) {
    self.postMessage({id: request.id, ok: false, error: error.message || String(error)});
  }
};
