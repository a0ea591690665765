#!/usr/bin/env python3
"""Writes a self-extracting archive by hand, independently of the builder: a stub, a settings
block, the archive header and entries, the settings offset. The tests use it for archives the
builder cannot make (unsafe names, every setting, a flat layout, a second command, settings that
name another method than the data).

  make_sfx.py --stub STUB --out FILE [--method bzip2|gzip] [settings...] ITEM...

An ITEM is NAME=@PATH (the file's bytes and time), NAME=:TEXT (the text, a fixed time) or
--tree DIR (every file below DIR, stored as \\relative\\path). NAME takes Python escapes
(\\x2e, \\\\); each character is stored as the byte of its code (so \\xe4 is
the code page 1252 a-umlaut).
"""
import argparse
import bz2
import codecs
import gzip
import os
import struct
import sys
import time


def string(b):
    return struct.pack('<H', len(b)) + b


def text(s):
    return codecs.decode(s, 'unicode_escape').encode('latin-1')


def dos_block(t):
    lt = time.localtime(t)
    return struct.pack('<6I', lt.tm_sec // 2, lt.tm_min, lt.tm_hour, lt.tm_mday, lt.tm_mon,
                       lt.tm_year - 1980)


def compress(data, method):
    if method == 0:
        return bz2.compress(data, 9)
    return gzip.compress(data, 9)


def main():
    p = argparse.ArgumentParser()
    p.add_argument('--stub', required=True)
    p.add_argument('--out', required=True)
    p.add_argument('--method', choices=['bzip2', 'gzip'], default='gzip')
    p.add_argument('--store-dir-names', type=int, default=1)
    p.add_argument('--target-dir', default='')
    p.add_argument('--command', default='')
    p.add_argument('--second-command', default='')
    p.add_argument('--dialog-text', default='')
    p.add_argument('--title', default='')
    p.add_argument('--info-before', default='')
    p.add_argument('--info-after', default='')
    p.add_argument('--terminates', type=int, default=0)
    p.add_argument('--target-editable', type=int, default=1)
    p.add_argument('--clean-up', type=int, default=0)
    p.add_argument('--max-compression', type=int, default=None,
                   help='the MaxCompression setting (default: 1 for bzip2, 0 for gzip)')
    p.add_argument('--tree', action='append', default=[])
    p.add_argument('items', nargs='*')
    a = p.parse_args()
    method = 0 if a.method == 'bzip2' else 1

    entries = []
    for root in a.tree:
        for dirpath, dirs, files in os.walk(root):
            dirs.sort()
            for f in sorted(files):
                path = os.path.join(dirpath, f)
                rel = os.path.relpath(path, root).replace('/', '\\')
                name = ('\\' + rel).encode('cp1252', errors='surrogateescape')
                with open(path, 'rb') as fh:
                    entries.append((name, fh.read(), os.stat(path).st_mtime))
    for item in a.items:
        name, _, value = item.partition('=')
        if value.startswith('@'):
            with open(value[1:], 'rb') as fh:
                entries.append((text(name), fh.read(), os.stat(value[1:]).st_mtime))
        else:
            entries.append((text(name), value[1:].encode('latin-1'),
                            time.mktime((2026, 12, 7, 14, 31, 58, 0, 0, -1))))

    with open(a.stub, 'rb') as fh:
        stub = fh.read()
    s = bytes([1]) + struct.pack('<H', 1) + string(b'C:\\Quelle')
    max_compression = a.max_compression
    if max_compression is None:
        max_compression = 1 if method == 0 else 0
    s += bytes([a.store_dir_names, max_compression])
    for v in (a.target_dir, '', a.command, a.second_command, '', a.dialog_text, a.info_before,
              a.info_after):
        s += string(text(v))
    s += bytes([a.terminates]) + string(text(a.title)) + bytes([a.target_editable, a.clean_up])

    body = b''
    if entries:
        body += b'SFX2' + struct.pack('<III', len(entries), sum(len(e[1]) for e in entries), 0)
        body += bytes([method])
        for name, data, mtime in entries:
            packed = compress(data, method)
            body += struct.pack('<H', len(name)) + name + dos_block(mtime)
            body += struct.pack('<II', len(data), len(packed)) + bytes([method, 0])
            body += struct.pack('<I', 0) + packed
    with open(a.out, 'wb') as fh:
        fh.write(stub + s + body + struct.pack('<I', len(stub)))
    return 0


if __name__ == '__main__':
    sys.exit(main())
