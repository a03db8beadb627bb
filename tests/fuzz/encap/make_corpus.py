#!/usr/bin/env python3
"""Writes the seed inputs of fuzz_gse, fuzz_bbframe and fuzz_ule (see their headers)
into tests/fuzz/corpus/{gse,bbframe,ule}: well-formed GSE data fields with every
label type, fragments and padding; baseband frames in each way in; ULE SNDUs."""
import hashlib, os, struct, sys

root = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'corpus')

def crc32(b):
    c = 0xFFFFFFFF
    for x in b:
        c ^= x << 24
        for _ in range(8):
            c = ((c << 1) ^ 0x04C11DB7) & 0xFFFFFFFF if c & 0x80000000 else (c << 1) & 0xFFFFFFFF
    return c

def crc8(b):
    c = 0
    for x in b:
        c ^= x
        for _ in range(8):
            c = ((c << 1) ^ 0xD5) & 0xFF if c & 0x80 else (c << 1) & 0xFF
    return c

def ipv4(dst, n, seed):
    d = bytearray((seed + 13 * i) & 0xFF for i in range(n))
    d[0] = 0x45; d[2:4] = struct.pack('>H', n); d[16:20] = struct.pack('>I', dst)
    return bytes(d)

OWN = bytes([0, 0x11, 0x22, 0x33, 0x44, 0x55])

def complete(lt, ptype, label, body):
    rest = struct.pack('>H', ptype) + label + body
    return bytes([0xC0 | lt << 4 | len(rest) >> 8, len(rest) & 0xFF]) + rest

def fragments(fid, lt, ptype, label, body, first):
    seq = struct.pack('>H', ptype) + label + body
    seq += struct.pack('>I', crc32(struct.pack('>H', len(seq)) + seq))
    a = bytes([fid]) + struct.pack('>H', len(seq) - 4) + seq[:first]
    b = bytes([fid]) + seq[first:]
    return (bytes([0x80 | lt << 4 | len(a) >> 8, len(a) & 0xFF]) + a,
            bytes([0x40 | len(b) >> 8, len(b) & 0xFF]) + b)

def bbframe(matype, isi, field, pad=0):
    h = bytes([matype, isi, 0, 0]) + struct.pack('>H', len(field) * 8) + bytes(3)
    return h + bytes([crc8(h)]) + field + bytes(pad)

def sndu(ptype, dest, body):
    s = struct.pack('>HH', (0 if dest else 0x8000) | (len(dest) + len(body) + 4), ptype) + dest + body
    return s + struct.pack('>I', crc32(s))

def write(target, data):
    d = os.path.join(root, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, hashlib.sha1(data).hexdigest()), 'wb') as f:
        f.write(data)

d = ipv4(0x0A000001, 120, 1)
g = ipv4(0xE0000001, 80, 2)
f1, f2 = fragments(3, 0, 0x0800, OWN, ipv4(0x0A000001, 900, 3), 300)
inner = b'\xff' * 6 + bytes(6) + b'\x08\x00' + d
fields = [
    complete(0, 0x0800, OWN, d) + complete(3, 0x0800, b'', g) + complete(1, 0x0800, b'\x01\x02\x03', g),
    complete(2, 0x86DD, b'', bytes([0x60]) + bytes(39)) + complete(2, 0x0001, b'', inner) + bytes(10),
    complete(0, 0x0301, OWN, b'\x01\x02\x03\x04\x08\x00' + d) + f1,
    f2 + complete(0, 0x0042, OWN, d),
]
for flags in (0, 1):
    write('gse', bytes([flags]) + b''.join(bytes([0xFF]) + struct.pack('>H', len(x)) + x for x in fields))
write('gse', bytes([1]) + bytes([5]) + struct.pack('>H', len(fields[2])) + fields[2] +
      bytes([6]) + struct.pack('>H', len(fields[2])) + fields[2] + bytes([5]) + struct.pack('>H', len(fields[3])) + fields[3])

frames = [bbframe(0x70, 0, x, pad) for x, pad in zip(fields, (0, 7, 20, 0))]
frames.append(bbframe(0x50, 1, fields[0]))
write('bbframe', bytes([4, 3, 50, 200, 9]) + b''.join(frames))
for way in (1, 2, 3):
    write('bbframe', bytes([4 | way | 8]) + b''.join(struct.pack('>H', len(f)) + f for f in frames))

sndus = [sndu(0x0800, OWN, d), sndu(0x0800, b'', g), sndu(0x0001, b'', inner),
         sndu(0x0301, OWN, b'\x01\x02\x03\x04\x08\x00' + d), sndu(0x0800, OWN, ipv4(0x0A000001, 1400, 4))]
write('ule', bytes([3]) + b''.join(sndus))
stream = b''.join(sndus)
records = b''
at = 0
starts = []
pos = 0
for s in sndus:
    starts.append(pos); pos += len(s)
while at < len(stream):
    nxt = [s for s in starts if at <= s < at + 183]
    if nxt:
        payload = bytes([nxt[0] - at]) + stream[at:at + 183]; at += 183
        records += b'\x01' + payload.ljust(184, b'\xff')
    else:
        records += b'\x00' + stream[at:at + 184].ljust(184, b'\xff'); at += 184
write('ule', bytes([1]) + records)
