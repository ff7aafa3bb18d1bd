// A ZIP archive of stored (uncompressed) entries, written by hand: its
// entries are PNGs, which are compressed already, so deflating them again
// would cost time and gain next to nothing, and no library is needed.
// Entries are Blobs, so the archive is assembled without copying their bytes.
// Limits of a ZIP without its 64-bit extension: 65,535 entries, 4 GiB.
'use strict';

const CRC_TABLE = (() => {
  const table = new Uint32Array(256);
  for (let n = 0; n < 256; n++) {
    let c = n;
    for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    table[n] = c >>> 0;
  }
  return table;
})();

function crc32(bytes) {
  let c = 0xffffffff;
  for (let i = 0; i < bytes.length; i++) c = CRC_TABLE[(c ^ bytes[i]) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

class ZipWriter {
  constructor(date = new Date()) {
    this.parts = [];
    this.central = [];
    this.offset = 0;
    this.names = new Set();
    this.time = (date.getHours() << 11) | (date.getMinutes() << 5) | (date.getSeconds() >> 1);
    this.date = ((date.getFullYear() - 1980) << 9) | ((date.getMonth() + 1) << 5) | date.getDate();
  }

  // A name not yet in the archive: "a.png", then "a (2).png", ...
  uniqueName(name) {
    let candidate = name;
    for (let n = 2; this.names.has(candidate); n++) candidate = name.replace(/(\.[^./]*)?$/, ` (${n})$1`);
    this.names.add(candidate);
    return candidate;
  }

  // Adds `blob` (its CRC-32 given) under `name`; returns the name used.
  add(name, blob, crc) {
    if (this.central.length === 0xffff) throw new Error('a ZIP holds at most 65535 pictures');
    if (this.offset + blob.size + 4096 > 0xffffffff) throw new Error('the ZIP would pass 4 GiB');
    name = this.uniqueName(name);
    const nameBytes = new TextEncoder().encode(name);
    const local = new DataView(new ArrayBuffer(30));
    local.setUint32(0, 0x04034b50, true);
    this.common(local, 4, crc, blob.size, nameBytes.length);
    this.parts.push(local.buffer, nameBytes, blob);
    const entry = new DataView(new ArrayBuffer(46));
    entry.setUint32(0, 0x02014b50, true);
    entry.setUint16(4, 20, true);  // made by: version 2.0
    this.common(entry, 6, crc, blob.size, nameBytes.length);
    entry.setUint32(42, this.offset, true);
    this.central.push(entry.buffer, nameBytes);
    this.offset += 30 + nameBytes.length + blob.size;
    return name;
  }

  // The fields that the local header (at 4) and the central entry (at 6) share.
  common(view, at, crc, size, nameLength) {
    view.setUint16(at, 20, true);          // version needed: 2.0
    view.setUint16(at + 2, 0x0800, true);  // names are UTF-8
    view.setUint16(at + 4, 0, true);       // stored
    view.setUint16(at + 6, this.time, true);
    view.setUint16(at + 8, this.date, true);
    view.setUint32(at + 10, crc, true);
    view.setUint32(at + 14, size, true);
    view.setUint32(at + 18, size, true);
    view.setUint16(at + 22, nameLength, true);
  }

  finish() {
    const centralSize = this.central.reduce((sum, part) => sum + part.byteLength, 0);
    const end = new DataView(new ArrayBuffer(22));
    end.setUint32(0, 0x06054b50, true);
    const entries = this.central.length / 2;
    end.setUint16(8, entries, true);
    end.setUint16(10, entries, true);
    end.setUint32(12, centralSize, true);
    end.setUint32(16, this.offset, true);
    return new Blob([...this.parts, ...this.central, end.buffer], {type: 'application/zip'});
  }
}
