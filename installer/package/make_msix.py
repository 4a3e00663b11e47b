#!/usr/bin/env python3
"""Packs Veltrano's sparse Windows package (.msix) on any system.

A sparse package carries no program files of its own: it gives the
installed Veltrano.dll and veltrano.exe (the "external location" named at
registration) a package identity, which the file browser of Windows 11
wants before it shows a command in its top-level context menu. The package
holds four parts:

  Logo.png             the package's logo
  AppxManifest.xml     identity, capabilities, the context-menu verbs and
                       the COM class that serves them
  AppxBlockMap.xml     a SHA-256 hash of every 64 KiB block of every part
                       above, for the system to check the payload with
  [Content_Types].xml  the content type of each part (Open Packaging
                       Conventions)

Format, as publicly documented for the package format:
- The package is a ZIP file (PKZIP application note) in its ZIP64 form:
  each entry is a local header (general-purpose bit 3: CRC and sizes come
  after the data), its data, and a ZIP64 data descriptor; the central
  directory gives sizes and offsets in ZIP64 fields, and the archive ends
  with the ZIP64 end records. The payload parts are stored without
  compression (method 0), which the format allows for any part; the block
  map and the content types are deflated (method 8). The content types
  have to be: signing rewrites that part, and osslsigncode 2.9 keeps the
  old method while it writes deflated bytes, which breaks a stored one.
- The block map lists each payload part in archive order (the block map,
  the content types and a later signature are not listed) with its
  uncompressed Size and LfhSize, the byte size of its local file header
  (30 bytes and the name: these headers have no extra field). Each part
  is cut into blocks of 65536 bytes (the last may be shorter) and each
  Block carries the Base64 SHA-256 of its bytes. A Block's Size attribute appears only for
  compressed parts, so never here. Part names use a backslash between
  folders in the block map and a slash in the archive.
- [Content_Types].xml maps extensions (Default) or single parts (Override)
  to content types.
- Signing (osslsigncode, see installer/release.sh) later adds the part
  AppxSignature.p7x.

The manifest comes from one template in which @NAME@ stands for the value
given with --set NAME=VALUE (XML-escaped on the way in); a placeholder left
without a value, or a value that fills no placeholder, is an error, and so
is a manifest that is not well-formed XML.

Usage:
  make_msix.py --template AppxManifest.xml.in --logo logo.png
               --set CLSID=... --set VERSION=... [--set ...]
               --out Veltrano.msix [--manifest-out AppxManifest.xml]

The output is reproducible: every entry gets the same time stamp (from
SOURCE_DATE_EPOCH when set, else 1 January 2020).
"""
import argparse
import base64
import hashlib
import os
import re
import struct
import sys
import time
import xml.dom.minidom
import zlib
from xml.sax.saxutils import escape

BLOCK_SIZE = 65536
LOGO_PART = "Logo.png"
MANIFEST_PART = "AppxManifest.xml"
BLOCK_MAP_PART = "AppxBlockMap.xml"
CONTENT_TYPES_PART = "[Content_Types].xml"

BLOCK_MAP_NS = "http://schemas.microsoft.com/appx/2010/blockmap"
SHA256_METHOD = "http://www.w3.org/2001/04/xmlenc#sha256"
CONTENT_TYPES_NS = "http://schemas.openxmlformats.org/package/2006/content-types"
CONTENT_TYPES = (
    ("Default", "png", "image/png"),
    ("Override", "/" + MANIFEST_PART, "application/vnd.ms-appx.manifest+xml"),
    ("Override", "/" + BLOCK_MAP_PART, "application/vnd.ms-appx.blockmap+xml"),
)

# ZIP record signatures and fields.
LOCAL_HEADER = 0x04034B50
CENTRAL_HEADER = 0x02014B50
DATA_DESCRIPTOR = 0x08074B50
ZIP64_END = 0x06064B50
ZIP64_LOCATOR = 0x07064B50
END_OF_CENTRAL = 0x06054B50
ZIP64_FIELD = 0x0001
VERSION_ZIP64 = 45  # 4.5: ZIP64 extensions
FLAG_DATA_DESCRIPTOR = 0x0008  # CRC and sizes follow the data
STORED = 0
DEFLATED = 8


class PackError(Exception):
    pass


def fill_template(text, values):
    used = set()

    def put(match):
        name = match.group(1)
        if name not in values:
            raise PackError(f"template placeholder @{name}@ has no value (--set {name}=...)")
        used.add(name)
        return escape(values[name], {'"': "&quot;"})

    filled = re.sub(r"@([A-Z][A-Z0-9_]*)@", put, text)
    unused = sorted(set(values) - used)
    if unused:
        raise PackError("values fill no placeholder of the template: " + ", ".join(unused))
    return filled


def check_well_formed(name, data):
    try:
        xml.dom.minidom.parseString(data)
    except Exception as error:  # the parser's own errors vary in type
        raise PackError(f"{name} is not well-formed XML: {error}")


def dos_time(epoch):
    t = time.gmtime(max(epoch, 315532800))  # the format starts in 1980
    return ((t.tm_hour << 11) | (t.tm_min << 5) | (t.tm_sec // 2),
            ((t.tm_year - 1980) << 9) | (t.tm_mon << 5) | t.tm_mday)


class ZipWriter:
    """Writes the entries, then the central directory and the end records.

    Each entry is written as packages write them: a local header with the
    data-descriptor flag and no sizes, the data, then a ZIP64 data
    descriptor with the CRC and the 64-bit sizes. The central directory
    carries the sizes and the offset in ZIP64 fields."""

    def __init__(self, epoch):
        self.out = bytearray()
        self.entries = []
        self.time, self.date = dos_time(epoch)

    def add(self, name, data, compress=False):
        """Appends one entry; returns the size of its local header."""
        encoded = name.encode("ascii")
        crc = zlib.crc32(data) & 0xFFFFFFFF
        method, stored = STORED, data
        if compress:
            deflater = zlib.compressobj(9, zlib.DEFLATED, -15)  # raw deflate, no zlib wrapper
            method, stored = DEFLATED, deflater.compress(data) + deflater.flush()
        offset = len(self.out)
        header = struct.pack("<IHHHHHIIIHH", LOCAL_HEADER, VERSION_ZIP64, FLAG_DATA_DESCRIPTOR, method,
                             self.time, self.date, 0, 0, 0, len(encoded), 0)
        self.out += header + encoded + stored
        self.out += struct.pack("<IIQQ", DATA_DESCRIPTOR, crc, len(stored), len(data))
        self.entries.append((encoded, crc, method, len(data), len(stored), offset))
        return len(header) + len(encoded)

    def finish(self):
        directory_start = len(self.out)
        for encoded, crc, method, size, stored_size, offset in self.entries:
            extra = struct.pack("<HHQQQ", ZIP64_FIELD, 24, size, stored_size, offset)
            self.out += struct.pack("<IHHHHHHIIIHHHHHII", CENTRAL_HEADER, VERSION_ZIP64, VERSION_ZIP64,
                                    FLAG_DATA_DESCRIPTOR, method, self.time, self.date, crc, 0xFFFFFFFF,
                                    0xFFFFFFFF, len(encoded), len(extra), 0, 0, 0, 0, 0xFFFFFFFF)
            self.out += encoded + extra
        directory_size = len(self.out) - directory_start
        zip64_end = len(self.out)
        count = len(self.entries)
        self.out += struct.pack("<IQHHIIQQQQ", ZIP64_END, 44, VERSION_ZIP64, VERSION_ZIP64, 0, 0, count, count,
                                directory_size, directory_start)
        self.out += struct.pack("<IIQI", ZIP64_LOCATOR, 0, zip64_end, 1)
        self.out += struct.pack("<IHHHHIIH", END_OF_CENTRAL, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)
        return bytes(self.out)


def block_map(files):
    """files: (part name, data, local header size) of the payload, in order."""
    lines = ['<?xml version="1.0" encoding="UTF-8" standalone="no"?>',
             f'<BlockMap xmlns="{BLOCK_MAP_NS}" HashMethod="{SHA256_METHOD}">']
    for name, data, lfh_size in files:
        lines.append(f'<File Name="{escape(name.replace("/", chr(92)))}" Size="{len(data)}" LfhSize="{lfh_size}">')
        for start in range(0, len(data), BLOCK_SIZE):
            digest = hashlib.sha256(data[start:start + BLOCK_SIZE]).digest()
            lines.append(f'<Block Hash="{base64.b64encode(digest).decode("ascii")}"/>')
        lines.append("</File>")
    lines.append("</BlockMap>")
    return ("\r\n".join(lines) + "\r\n").encode("utf-8")


def content_types():
    lines = ['<?xml version="1.0" encoding="UTF-8"?>', f'<Types xmlns="{CONTENT_TYPES_NS}">']
    for kind, key, value in CONTENT_TYPES:
        attribute = "Extension" if kind == "Default" else "PartName"
        lines.append(f'<{kind} {attribute}="{escape(key)}" ContentType="{value}"/>')
    lines.append("</Types>")
    return ("\r\n".join(lines) + "\r\n").encode("utf-8")


def pack(manifest, logo, epoch):
    check_well_formed(MANIFEST_PART, manifest)
    writer = ZipWriter(epoch)
    payload = []
    for name, data in ((LOGO_PART, logo), (MANIFEST_PART, manifest)):
        payload.append((name, data, writer.add(name, data)))
    writer.add(BLOCK_MAP_PART, block_map(payload), compress=True)
    writer.add(CONTENT_TYPES_PART, content_types(), compress=True)
    return writer.finish()


def main(argv):
    parser = argparse.ArgumentParser(description="Packs the sparse Windows package.")
    parser.add_argument("--template", required=True, help="AppxManifest.xml template")
    parser.add_argument("--logo", required=True, help="PNG logo")
    parser.add_argument("--set", action="append", default=[], metavar="NAME=VALUE", help="template value")
    parser.add_argument("--out", required=True, help="the .msix to write")
    parser.add_argument("--manifest-out", help="also write the filled manifest here")
    args = parser.parse_args(argv)

    values = {}
    for item in args.set:
        name, sep, value = item.partition("=")
        if not sep or not name:
            parser.error(f"--set wants NAME=VALUE, not {item!r}")
        values[name] = value
    try:
        with open(args.template, encoding="utf-8") as f:
            manifest = fill_template(f.read(), values).encode("utf-8")
        with open(args.logo, "rb") as f:
            logo = f.read()
        if not logo.startswith(b"\x89PNG\r\n\x1a\n"):
            raise PackError(f"{args.logo} is not a PNG file")
        epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "1577836800"))
        package = pack(manifest, logo, epoch)
    except (OSError, PackError, ValueError) as error:
        print(f"make_msix: {error}", file=sys.stderr)
        return 1
    # Written whole under another name first, so a failed run leaves no
    # half package behind for a later build step to pick up.
    for path, data in ((args.manifest_out, manifest), (args.out, package)):
        if path:
            with open(path + ".tmp", "wb") as f:
                f.write(data)
            os.replace(path + ".tmp", path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
