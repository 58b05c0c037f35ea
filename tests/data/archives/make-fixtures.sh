#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Remakes the archives of this folder that tst_archiveformats cannot make with libarchive's
# writer (README.md says which and how). Needs Debian 12's python3, zstd and 7zip packages;
# the tests need none of them, only the files this writes, which are kept in git. The RAR
# files come from libarchive's own tests instead (README.md).
#   tests/data/archives/make-fixtures.sh
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/car/Maps"

python3 - "$work/car" <<'PYTHON'
# The car's three files, byte i of file k being (i*i + k) % 251 (tst_archiveformats'
# sample()), and the zip archives: bzip2 and LZMA entries as Python's zipfile writes them,
# and zstd entries (method 93) put together here, zipfile having no zstd: each entry's data
# is the frame the zstd command makes of it, in a zip laid out by hand.
import struct, subprocess, sys, zipfile, zlib

def sample(k, size):
    return bytes((i * i + k) % 251 for i in range(size))

files = {'kestrel.4ds': sample(0, 3000), 'Maps/kestrel00.bmp': sample(1, 2000),
         'Maps/kestrel01.bmp': sample(2, 1500)}
for name, data in files.items():
    open(sys.argv[1] + '/' + name, 'wb').write(data)
when = (2026, 1, 2, 3, 4, 6)

def write(path, method):
    with zipfile.ZipFile(path, 'w') as z:
        z.writestr(zipfile.ZipInfo('Maps/', when), b'')
        for name, data in files.items():
            info = zipfile.ZipInfo(name, when)
            info.compress_type = method
            z.writestr(info, data)

def zstd_zip(path):
    entries, out = [], bytearray()
    for name in ['Maps/'] + list(files):
        data = files.get(name, b'')
        packed = subprocess.run(['zstd', '-19', '-q', '-c'], input=data, capture_output=True,
                                check=True).stdout if data else b''
        method = 93 if data else 0
        crc = zlib.crc32(data)
        out_offset = len(out)
        out += struct.pack('<IHHHHHIIIHH', 0x04034b50, 20, 0, method, 0x2080, 0x5c21, crc,
                           len(packed), len(data), len(name), 0) + name.encode() + packed
        entries.append((name, method, crc, len(packed), len(data), out_offset))
    central = bytearray()
    for name, method, crc, psize, usize, offset in entries:
        attr = 0x10 if name.endswith('/') else 0
        central += struct.pack('<IHHHHHHIIIHHHHHII', 0x02014b50, 20, 20, 0, method, 0x2080,
                               0x5c21, crc, psize, usize, len(name), 0, 0, 0, 0, attr, offset)
        central += name.encode()
    end = struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, len(entries), len(entries), len(central),
                      len(out), 0)
    open(path, 'wb').write(out + central + end)

write('zip-bzip2.zip', zipfile.ZIP_BZIP2)
write('zip-lzma.zip', zipfile.ZIP_LZMA)
zstd_zip('zip-zstd.zip')
PYTHON

# The 7z archives and the xz zip, by 7-Zip (Debian's package 7zip, 7zz).
here=$PWD
rm -f 7z-bcj-lzma2.7z 7z-solid.7z 7z-encrypted.7z zip-xz.zip
cd "$work/car"
touch -d '2026-01-02 03:04:06 UTC' kestrel.4ds Maps/* Maps
7zz a -bd -mtc=off -mta=off -mf=BCJ -m0=LZMA2 -ms=off "$here/7z-bcj-lzma2.7z" kestrel.4ds Maps >/dev/null
7zz a -bd -mtc=off -mta=off -m0=LZMA2 -ms=on "$here/7z-solid.7z" kestrel.4ds Maps >/dev/null
7zz a -bd -mtc=off -mta=off -m0=LZMA2 -pkestrel -mhe=off "$here/7z-encrypted.7z" kestrel.4ds Maps >/dev/null
7zz a -bd -tzip -mtc=off -mcu=on -mm=XZ "$here/zip-xz.zip" kestrel.4ds Maps >/dev/null
