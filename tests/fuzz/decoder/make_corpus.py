#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_decoder into tests/fuzz/corpus/decoder/.

Each seed is the fuzz target's header (flags, extra PIDs, four sample-size
selectors) followed by a transport stream: cuts of the reference stream
tests/data/mpe-udp-pid1001.ts and hand-built MPE streams on PID 0x100; or,
with flag bit 4, followed by section records that the target packetises
itself (fixing up each section's CRC_32); and long streams that fill a
section buffer or use all 15 slots.
Run from anywhere: python3 tests/fuzz/decoder/make_corpus.py
"""
import os
import struct

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..', '..'))
OUT = os.path.join(ROOT, 'tests', 'fuzz', 'corpus', 'decoder')


def header(flags=0, pids=(), selectors=(200, 200, 200, 200)):
    h = bytes([flags, len(pids)])
    for p in pids:
        h += struct.pack('>H', p)
    return h + bytes(selectors)


def crc32_mpeg(data):
    crc = 0xFFFFFFFF
    for b in data:
        crc ^= b << 24
        for _ in range(8):
            crc = ((crc << 1) ^ 0x04C11DB7) if crc & 0x80000000 else crc << 1
            crc &= 0xFFFFFFFF
    return crc


def ipv4(length, seed):
    d = bytearray((seed + i * 7) & 0xFF for i in range(max(length, 20)))
    d[0] = 0x45
    d[2:4] = struct.pack('>H', length)
    return bytes(d[:length])


def ipv6(payload, seed):
    d = bytearray((seed + i * 5) & 0xFF for i in range(40 + payload))
    d[0] = 0x60
    d[4:6] = struct.pack('>H', payload)
    return bytes(d)


def section(mac, datagram, llc=False, flags=0xC1, ethertype=0x0800):
    s = bytearray([0x3E, 0, 0, mac[5], mac[4], flags | (0x02 if llc else 0), 0, 0,
                   mac[3], mac[2], mac[1], mac[0]])
    if llc:
        s += bytes([0xAA, 0xAA, 0x03, 0, 0, 0]) + struct.pack('>H', ethertype)
    s += datagram + b'\0\0\0\0'
    n = len(s) - 3
    s[1] = 0xB0 | (n >> 8)
    s[2] = n & 0xFF
    s[-4:] = struct.pack('>I', crc32_mpeg(bytes(s[:-4])))
    return bytes(s)


def packetise(pid, payload, starts, cc=0, adaptation_every=0):
    """Sections back to back; a packet holding a section start gets PUSI and a
    pointer field. Every adaptation_every-th packet carries a small adaptation
    field."""
    packets = []
    pos = 0
    index = 0
    while pos < len(payload):
        index += 1
        af = b''
        if adaptation_every and index % adaptation_every == 0:
            af = bytes([3, 0x00, 0xFF, 0xFF])
        room = 184 - len(af)
        nxt = [s for s in starts if pos <= s < pos + room - 1]
        body = bytearray()
        if nxt:
            body.append(nxt[0] - pos)
            take = min(room - 1, len(payload) - pos)
        else:
            take = min(room, len(payload) - pos)
        body += payload[pos:pos + take]
        pos += take
        control = 0x30 if af else 0x10
        hdr = bytes([0x47, (0x40 if nxt else 0) | (pid >> 8), pid & 0xFF, control | (cc & 15)])
        packet = hdr + af + bytes(body)
        packet += b'\xFF' * (188 - len(packet))
        packets.append(packet)
        cc += 1
    flush = bytes([0x47, 0x40 | (pid >> 8), pid & 0xFF, 0x10 | (cc & 15), 0]) + b'\xFF' * 183
    packets.append(flush)
    return packets


def mpe_stream(pid=0x100, own=bytes([0x00, 0x11, 0x22, 0x33, 0x44, 0x55]), adaptation_every=0):
    macs = [own, bytes([0x01, 0x00, 0x5E, 0x01, 0x02, 0x03]), bytes([0xFF] * 6),
            bytes([0x02, 0, 0, 0, 0, 9]), bytes(6)]
    payload = bytearray()
    starts = []
    datagrams = [ipv4(64, 1), ipv4(300, 2), ipv6(120, 3), ipv4(1500, 4), ipv4(28, 5), ipv6(40, 6)]
    for i, d in enumerate(datagrams):
        starts.append(len(payload))
        payload += section(macs[i % len(macs)], d, llc=(i % 3 == 2), ethertype=0x86DD if d[0] >> 4 == 6 else 0x0800)
        if i == 3:
            payload += b'\xFF' * 20  # stuffing ends that buffer's walk
    return packetise(pid, bytes(payload), starts, adaptation_every=adaptation_every)


def null_packets(n):
    return [bytes([0x47, 0x1F, 0xFF, 0x10 | (i & 15)]) + b'\xFF' * 184 for i in range(n)]


def record(pid_index, section_bytes, keep=False, own_packet=False):
    """A section record of the target's section mode."""
    control = (pid_index & 15) | (0x10 if keep else 0) | (0x20 if own_packet else 0)
    return bytes([control]) + struct.pack('>H', len(section_bytes)) + section_bytes


def write(name, data):
    with open(os.path.join(OUT, name), 'wb') as f:
        f.write(data)


def main():
    os.makedirs(OUT, exist_ok=True)
    with open(os.path.join(ROOT, 'tests', 'data', 'mpe-udp-pid1001.ts'), 'rb') as f:
        ref = f.read()
    # Cuts of the reference stream: from its start, and from inside it (not on
    # a packet boundary), in large and small samples.
    write('ref-start-4k', header(0, (), (200, 200, 200, 200)) + ref[:4 * 1024])
    write('ref-middle-6k', header(0, (1001,), (130, 7, 255, 60)) + ref[100001:100001 + 6 * 1024])
    write('ref-small-samples', header(4, (), (3, 90, 187, 187)) + ref[188 * 40:188 * 40 + 3000])

    mixed = mpe_stream()
    # Interleave null packets.
    muxed = []
    nulls = null_packets(len(mixed))
    for a, b in zip(mixed, nulls):
        muxed += [a, b]
    stream = b''.join(muxed)
    write('mpe-own-filter', header(1, (0x1FFF,), (200, 200, 200, 200)) + stream)
    write('mpe-zero-filter-adaptation', header(0, (), (140, 187, 60, 255))
          + b''.join(mpe_stream(adaptation_every=3)))
    # Byte slips: bytes inserted and lost between packets, a broken sync byte.
    slip = bytearray(b''.join(mixed))
    slip[188 * 5:188 * 5] = b'\x5A' * 17
    del slip[188 * 12 + 17:188 * 12 + 17 + 40]
    slip[188 * 3] = 0x00
    write('mpe-slips', header(9, (), (150, 20, 255, 33)) + bytes(slip))
    # Errors: a continuity gap, scrambling, a pointer field beyond the payload,
    # a cut section, a datagram over 1506 bytes.
    errs = [bytearray(p) for p in mpe_stream()]
    errs[2][3] = (errs[2][3] & 0xF0) | ((errs[2][3] + 5) & 15)
    errs[4][3] |= 0x80
    errs[6][1] |= 0x40
    errs[6][4] = 184
    big = section(bytes(6), ipv4(1507, 9))
    errs += packetise(0x100, big, [0], cc=3)
    cut = section(bytes(6), ipv4(800, 7))[:300]
    errs += packetise(0x100, cut, [0], cc=9)
    write('mpe-errors', header(2, (0x100, 0x101), (200, 200, 200, 200)) + b''.join(bytes(p) for p in errs))

    # Section mode: sections for every kind of address on four PIDs, some
    # corrupted (kept as they are, so their CRC fails), some with a DSM-CC
    # checksum (section_syntax_indicator 0), some in packets of their own.
    own = bytes([0x00, 0x11, 0x22, 0x33, 0x44, 0x55])
    macs = [own, bytes([0x01, 0x00, 0x5E, 0x01, 0x02, 0x03]), bytes([0x33, 0x33, 0, 0, 0x40, 0x06]),
            bytes([0xFF] * 6), bytes([0x02, 0, 0, 0, 0, 9]), bytes(6)]
    records = b''
    for i in range(24):
        d = ipv6(40 + i * 50, i) if i % 4 == 1 else ipv4(28 + i * 61, i)
        s = bytearray(section(macs[i % len(macs)], d, llc=(i % 5 == 3),
                              ethertype=0x86DD if d[0] >> 4 == 6 else 0x0800))
        keep = False
        if i % 7 == 6:
            s[len(s) // 2] ^= 0x04
            keep = True
        if i % 9 == 8:
            s[1] &= 0x7F
            s[-1] ^= 0x55
            keep = True
        records += record(i % 4, bytes(s), keep=keep, own_packet=(i % 6 == 5))
    write('sections-mixed', header(0x11, (0x200, 0x201), (200, 60, 255, 150)) + records)

    # All 15 slots taken (17 PIDs asked for: the last two get none), sections on
    # the first 16 (a record names one of 16).
    pids = tuple(0x300 + k for k in range(15))
    records = b''.join(record(k, section(own if k % 2 else macs[1], ipv4(100 + 10 * k, k))) for k in range(16))
    write('sections-all-slots', header(0x11, pids, (255, 255, 255, 255)) + records)

    # One section start, then continuation packets without end on PID 0x100: the
    # section buffer fills to its end (131071 bytes) and the next append is refused.
    first = bytes([0x47, 0x41, 0x00, 0x10, 0]) + section(own, ipv4(100, 1))
    long_run = [first + b'\xFF' * (188 - len(first))]
    for k in range(1, 730):
        long_run.append(bytes([0x47, 0x01, 0x00, 0x10 | (k & 15)]) + bytes([(k * 7 + j) & 0xFF for j in range(184)]))
    long_run.append(bytes([0x47, 0x41, 0x00, 0x10 | (730 & 15), 0]) + section(own, ipv4(60, 2))
                    + b'\xFF' * (188 - 5 - len(section(own, ipv4(60, 2)))))
    long_run.append(bytes([0x47, 0x41, 0x00, 0x10 | (731 & 15), 0]) + b'\xFF' * 183)
    write('buffer-fills-up', header(1, (), (255, 255, 255, 255)) + b''.join(long_run))


if __name__ == '__main__':
    main()
