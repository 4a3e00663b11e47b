#!/usr/bin/env python3
"""Writes the fuzzer's hand-made seed inputs to fuzz/corpus/seeds/.

Each seed is a tiny, structurally valid example of one container the probe
recognises, so that the fuzzer starts from inside every reader rather than
having to discover each magic number. Run it again after changing it; the
output is deterministic.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus", "seeds")

# TIFF field types
BYTE, ASCII, SHORT, LONG, RATIONAL, UNDEFINED = 1, 2, 3, 4, 5, 7


def tiny_jpeg(width=16, height=12, app1=b""):
    """Start of image, optional APP1, JFIF, one 8-bit baseline frame header,
    a scan header, a few scan bytes and the end marker."""
    out = b"\xFF\xD8" + app1
    out += b"\xFF\xE0" + struct.pack(">H", 16) + b"JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00"
    out += b"\xFF\xDB" + struct.pack(">H", 67) + b"\x00" + bytes(range(1, 65))
    out += b"\xFF\xC0" + struct.pack(">HBHHB", 17, 8, height, width, 3)
    out += b"\x01\x22\x00\x02\x11\x00\x03\x11\x00"
    out += b"\xFF\xDA" + struct.pack(">HB", 12, 3) + b"\x01\x00\x02\x11\x03\x11\x00\x3F\x00"
    out += bytes([0x5A, 0xA5] * 8) + b"\xFF\xD9"
    return out


class Tiff:
    """Lays out a TIFF structure: directories are dicts of tag -> (type,
    values), placed in order; blobs are appended and patched in."""

    def __init__(self, little=True, base=0):
        self.e = "<" if little else ">"
        self.base = base
        self.data = bytearray((b"II" if little else b"MM") + struct.pack(self.e + "HI", 42, 8))

    def here(self):
        return len(self.data)

    def blob(self, b, align=2):
        while len(self.data) % align:
            self.data.append(0)
        at = len(self.data)
        self.data += b
        return at

    def pack_value(self, typ, values):
        e = self.e
        if typ in (ASCII, BYTE, UNDEFINED):
            return values if isinstance(values, bytes) else bytes(values)
        if typ == SHORT:
            return b"".join(struct.pack(e + "H", v) for v in values)
        if typ == LONG:
            return b"".join(struct.pack(e + "I", v) for v in values)
        if typ == RATIONAL:
            return b"".join(struct.pack(e + "II", n, d) for n, d in values)
        raise ValueError(typ)

    def directory(self, entries, next_offset=0):
        """Writes a directory at the current end; entries is a list of
        (tag, type, values) in tag order. Returns the directory's offset and a
        dict tag -> position of its 4-byte value field (for patching)."""
        e = self.e
        while len(self.data) % 2:
            self.data.append(0)
        at = len(self.data)
        size = 2 + 12 * len(entries) + 4
        self.data += b"\x00" * size
        struct.pack_into(e + "H", self.data, at, len(entries))
        fields = {}
        for i, (tag, typ, values) in enumerate(entries):
            raw = self.pack_value(typ, values)
            count = len(values) if typ not in (ASCII, BYTE, UNDEFINED) else len(raw)
            pos = at + 2 + 12 * i
            struct.pack_into(e + "HHI", self.data, pos, tag, typ, count)
            fields[tag] = pos + 8
            if len(raw) <= 4:
                self.data[pos + 8:pos + 8 + len(raw)] = raw
            else:
                off = self.blob(raw)
                struct.pack_into(e + "I", self.data, pos + 8, off - self.base)
        struct.pack_into(e + "I", self.data, at + size - 4, next_offset)
        return at, fields

    def patch(self, pos, value):
        struct.pack_into(self.e + "I", self.data, pos, value)

    def set_first(self, offset):
        self.patch(4, offset - self.base)


def exif_entries():
    return [
        (33434, RATIONAL, [(1, 250)]),
        (33437, RATIONAL, [(56, 10)]),
        (34855, SHORT, [400]),
        (36867, ASCII, b"2010:06:01 12:30:00\x00"),
        (37386, RATIONAL, [(50, 1)]),
    ]


def gps_entries():
    return [
        (0, BYTE, [2, 2, 0, 0]),
        (1, ASCII, b"N\x00"),
        (2, RATIONAL, [(48, 1), (51, 1), (2400, 100)]),
        (3, ASCII, b"E\x00"),
        (4, RATIONAL, [(2, 1), (21, 1), (300, 100)]),
        (5, BYTE, [0]),
        (6, RATIONAL, [(35, 1)]),
        (7, RATIONAL, [(12, 1), (30, 1), (0, 1)]),
        (18, ASCII, b"WGS-84\x00"),
        (29, ASCII, b"2010:06:01\x00"),
    ]


def cr2_like(little=True, make=b"Canon\x00", model=b"Canon EOS 350D DIGITAL\x00"):
    """IFD0 holds a 3-sample JPEG preview, make, model, Exif and GPS; a
    SubIFD holds a one-sample raw strip."""
    t = Tiff(little)
    preview = tiny_jpeg()
    p_at = t.blob(preview)
    raw_at = t.blob(bytes((i * 7) & 0xFF for i in range(64 * 8)))
    exif_at, _ = t.directory(exif_entries())
    gps_at, _ = t.directory(gps_entries())
    sub_at, _ = t.directory([
        (256, SHORT, [64]), (257, SHORT, [8]), (258, SHORT, [12]), (259, SHORT, [1]),
        (273, LONG, [raw_at]), (277, SHORT, [1]), (279, LONG, [64 * 8]),
    ])
    ifd0, _ = t.directory([
        (256, SHORT, [16]), (257, SHORT, [12]), (258, SHORT, [8, 8, 8]), (259, SHORT, [6]),
        (271, ASCII, make), (272, ASCII, model), (273, LONG, [p_at]), (274, SHORT, [6]),
        (279, LONG, [len(preview)]), (306, ASCII, b"2010:06:01 12:30:00\x00"),
        (315, ASCII, b"Someone\x00"), (330, LONG, [sub_at]),
        (34665, LONG, [exif_at]), (34853, LONG, [gps_at]),
    ])
    t.set_first(ifd0)
    return bytes(t.data)


def nef_like():
    """Big-endian; IFD0 with a tiny thumbnail, SubIFDs with a JPEG preview
    (tags 513/514) and the raw data, and a Nikon-style maker note."""
    t = Tiff(little=False)
    preview = tiny_jpeg(32, 24)
    p_at = t.blob(preview)
    raw_at = t.blob(bytes(256))
    note = b"Nikon\x00\x02\x10\x00\x00" + b"MM\x00\x2A\x00\x00\x00\x08" + b"\x00\x01" + \
        struct.pack(">HHII", 2, 3, 2, 400) + b"\x00\x00\x00\x00"
    exif_at, _ = t.directory(exif_entries() + [(37500, UNDEFINED, note)])
    sub1, _ = t.directory([(259, SHORT, [6]), (513, LONG, [p_at]), (514, LONG, [len(preview)])])
    sub2, _ = t.directory([
        (256, LONG, [32]), (257, LONG, [8]), (258, SHORT, [12]), (259, SHORT, [1]),
        (273, LONG, [raw_at]), (277, SHORT, [1]), (279, LONG, [256]),
    ])
    subs = t.blob(struct.pack(">II", sub1, sub2), 4)
    ifd0, f = t.directory([
        (254, LONG, [1]), (271, ASCII, b"NIKON CORPORATION\x00"), (272, ASCII, b"NIKON D70\x00"),
        (274, SHORT, [1]), (330, LONG, [0, 0]), (34665, LONG, [exif_at]),
    ])
    t.patch(f[330], subs)
    t.set_first(ifd0)
    return bytes(t.data)


def exif_app1(make=b"Panasonic\x00", model=b"DMC-LX3\x00"):
    """An APP1 segment holding a small Exif TIFF structure."""
    t = Tiff(True)
    exif_at, _ = t.directory(exif_entries())
    ifd0, _ = t.directory([(271, ASCII, make), (272, ASCII, model), (34665, LONG, [exif_at])])
    t.set_first(ifd0)
    payload = b"Exif\x00\x00" + bytes(t.data)
    return b"\xFF\xE1" + struct.pack(">H", len(payload) + 2) + payload


def tag46_file():
    """A Panasonic-like TIFF whose JPEG preview sits in tag 46 (type 7)."""
    t = Tiff(True)
    jpeg = tiny_jpeg(app1=exif_app1())
    ifd0, _ = t.directory([
        (2, SHORT, [64]), (3, SHORT, [48]), (46, UNDEFINED, jpeg),
        (271, ASCII, b"Panasonic\x00"), (272, ASCII, b"DMC-LX3\x00"),
    ])
    t.set_first(ifd0)
    return bytes(t.data)


def dng_file():
    t = Tiff(True)
    preview = tiny_jpeg()
    p_at = t.blob(preview)
    ifd0, _ = t.directory([
        (254, LONG, [1]), (256, SHORT, [16]), (257, SHORT, [12]), (258, SHORT, [8, 8, 8]),
        (259, SHORT, [7]), (271, ASCII, b"Canon\x00"), (272, ASCII, b"Canon EOS 350D DIGITAL\x00"),
        (273, LONG, [p_at]), (277, SHORT, [3]), (279, LONG, [len(preview)]),
        (305, ASCII, b"Adobe DNG Converter\x00"), (50706, BYTE, [1, 1, 0, 0]),
    ])
    t.set_first(ifd0)
    return bytes(t.data)


def raf_file():
    """FUJIFILM header: preview offset and length at 84/88, a directory
    pointer at 92, the raw TIFF offset at 100; the preview carries Exif."""
    preview = tiny_jpeg(app1=exif_app1(b"FUJIFILM\x00", b"FinePixS2Pro\x00"))
    head = bytearray(160)
    head[0:16] = b"FUJIFILMCCD-RAW "
    head[16:28] = b"0201FF129502"
    head[28:60] = b"FinePix S2Pro".ljust(32, b"\x00")
    preview_at = len(head)
    data = head + preview
    while len(data) % 4:
        data.append(0)
    dir_at = len(data)
    data += struct.pack(">I", 2) + struct.pack(">HH", 0x100, 4) + struct.pack(">HH", 1024, 768)
    data += struct.pack(">HH", 0x121, 4) + struct.pack(">HH", 1024, 768)
    tiff_at = len(data)
    t = Tiff(False)
    ifd0, _ = t.directory([(256, LONG, [32]), (257, LONG, [8]), (258, SHORT, [12])])
    t.set_first(ifd0)
    data += t.data
    struct.pack_into(">II", data, 84, preview_at, len(preview))
    struct.pack_into(">I", data, 92, dir_at)
    struct.pack_into(">I", data, 100, tiff_at)
    return bytes(data)


def jpeg_with_exif():
    return tiny_jpeg(app1=exif_app1(b"NIKON CORPORATION\x00", b"NIKON D70s\x00"))


def ciff_file():
    """A CIFF heap: header, one record holding the make and model texts."""
    texts = b"Canon\x00Canon EOS DIGITAL REBEL\x00"
    heap = bytearray(texts)
    while len(heap) % 4:
        heap.append(0)
    records_at = len(heap)
    heap += struct.pack("<H", 1) + struct.pack("<HII", 0x080A, len(texts), 0)
    heap += struct.pack("<I", records_at)
    return b"II" + struct.pack("<I", 26) + b"HEAPCCDR" + struct.pack("<HH", 1, 2) + bytes(8) + bytes(heap)


def mrw_file():
    """\\0MRM container with a PRD block and a TTW block holding a TIFF."""
    t = Tiff(False)
    ifd0, _ = t.directory([(271, ASCII, b"Konica Minolta\x00"), (272, ASCII, b"DiMAGE A2\x00")])
    t.set_first(ifd0)
    prd = b"\x00PRD" + struct.pack(">I", 24) + b"21810002" + struct.pack(">HHHH", 1968, 2616, 1960, 2608) + bytes(8)
    ttw = b"\x00TTW" + struct.pack(">I", len(t.data)) + bytes(t.data)
    body = prd + ttw
    return b"\x00MRM" + struct.pack(">I", len(body)) + body


def riff_file():
    idit = b"IDIT" + struct.pack("<I", 26) + b"Tue Jun 01 12:30:00 2010\n\x00"
    lst = b"LIST" + struct.pack("<I", 4 + len(idit)) + b"hdrl" + idit
    return b"RIFF" + struct.pack("<I", 4 + len(lst)) + b"AVI " + lst


def x3f_file():
    data = bytearray(b"FOVb" + struct.pack("<I", 0x00020002) + bytes(24))
    data += bytes(64)
    dir_at = len(data)
    data += b"SECd" + struct.pack("<II", 0x00020000, 0)
    data += struct.pack("<I", dir_at)
    return bytes(data)


def phase_one_file():
    data = bytearray(b"IIII" + struct.pack("<I", 0x52617749) + struct.pack("<I", 8) + bytes(52))
    return bytes(data)


def olympus_sp550():
    return cr2_like(True, b"OLYMPUS IMAGING CORP.  \x00", b"SP550UZ\x00")


def phone_dng():
    """A phone DNG: IFD0 is the JPEG preview (NewSubfileType 1, YCbCr), as
    large as the tiled CFA raw image of its SubIFD (NewSubfileType 0)."""
    t = Tiff(True)
    preview = tiny_jpeg(16, 12)
    p_at = t.blob(preview)
    tile_at = t.blob(bytes((i * 5) & 0xFF for i in range(256)))
    sub_at, _ = t.directory([
        (254, LONG, [0]), (256, LONG, [16]), (257, LONG, [12]), (258, SHORT, [16]), (259, SHORT, [1]),
        (262, SHORT, [32803]), (277, SHORT, [1]), (322, LONG, [16]), (323, LONG, [16]),
        (324, LONG, [tile_at]), (325, LONG, [256]), (33421, SHORT, [2, 2]), (33422, BYTE, [0, 1, 1, 2]),
    ])
    ifd0, _ = t.directory([
        (254, LONG, [1]), (256, LONG, [16]), (257, LONG, [12]), (258, SHORT, [8, 8, 8]), (259, SHORT, [7]),
        (262, SHORT, [6]), (271, ASCII, b"Google\x00"), (272, ASCII, b"Pixel 7\x00"), (273, LONG, [p_at]),
        (277, SHORT, [3]), (278, LONG, [12]), (279, LONG, [len(preview)]), (330, LONG, [sub_at]),
        (50706, BYTE, [1, 6, 0, 0]),
    ])
    t.set_first(ifd0)
    return bytes(t.data)


def cut_cr2():
    """A CR2 cut inside its IFD0 preview (stored last); IFD1 holds a whole
    thumbnail (513/514), IFD2 the raw strip."""
    t = Tiff(True)
    t.data[8:16] = b"CR\x02\x00" + bytes(4)
    thumb = tiny_jpeg(16, 12)
    th_at = t.blob(thumb)
    raw_at = t.blob(bytes((i * 3) & 0xFF for i in range(128)))
    ifd2, _ = t.directory([
        (256, SHORT, [16]), (257, SHORT, [8]), (258, SHORT, [14]), (259, SHORT, [6]),
        (273, LONG, [raw_at]), (277, SHORT, [1]), (279, LONG, [128]),
    ])
    ifd1, _ = t.directory([(259, SHORT, [6]), (513, LONG, [th_at]), (514, LONG, [len(thumb)])], ifd2)
    preview = tiny_jpeg(64, 48)
    ifd0, f = t.directory([
        (256, SHORT, [64]), (257, SHORT, [48]), (258, SHORT, [8, 8, 8]), (259, SHORT, [6]),
        (271, ASCII, b"Canon\x00"), (272, ASCII, b"Canon EOS 5D Mark III\x00"), (273, LONG, [0]),
        (279, LONG, [len(preview)]),
    ], ifd1)
    t.patch(f[273], t.blob(preview))
    t.set_first(ifd0)
    struct.pack_into("<I", t.data, 12, ifd2)
    return bytes(t.data[:-40])


def thumbnail_crw():
    """A CIFF heap with make and model and only the thumbnail record 0x2008."""
    texts = b"Canon\x00Canon PowerShot A5\x00"
    thumb = tiny_jpeg(16, 12)
    heap = bytearray(texts)
    while len(heap) % 4:
        heap.append(0)
    thumb_at = len(heap)
    heap += thumb
    while len(heap) % 4:
        heap.append(0)
    records_at = len(heap)
    heap += struct.pack("<H", 2) + struct.pack("<HII", 0x080A, len(texts), 0)
    heap += struct.pack("<HII", 0x2008, len(thumb), thumb_at)
    heap += struct.pack("<I", records_at)
    return b"II" + struct.pack("<I", 26) + b"HEAPCCDR" + struct.pack("<HH", 1, 2) + bytes(8) + bytes(heap)


def pentax_note(modern, preview_len, preview_start):
    """A Pentax maker note: "PENTAX \\0" + "MM" (offsets from the note's
    first byte) or "AOC\\0" + "II" (offsets from the TIFF header), then the
    preview size, length and start tags."""
    if modern:
        e, head = ">", b"PENTAX \x00MM"
    else:
        e, head = "<", b"AOC\x00II"
    body = struct.pack(e + "H", 3)
    body += struct.pack(e + "HHI", 2, SHORT, 2) + struct.pack(e + "HH", 16, 12)
    body += struct.pack(e + "HHII", 3, LONG, 1, preview_len)
    body += struct.pack(e + "HHII", 4, LONG, 1, preview_start)
    return head + body + bytes(4)


def pef_file(modern):
    """A PEF: IFD0 raw with the Exif maker note, IFD1 a thumbnail, IFD2 the
    JpgFromRaw, stored last and cut; the maker-note preview whole."""
    t = Tiff(True)
    thumb = tiny_jpeg(8, 6)
    th_at = t.blob(thumb)
    preview = tiny_jpeg(16, 12)
    raw_at = t.blob(bytes((i * 11) & 0xFF for i in range(128)))
    exif_at, f = t.directory([(37500, UNDEFINED, pentax_note(modern, len(preview), 0))])
    note_at = struct.unpack_from("<I", t.data, f[37500])[0]
    pv_at = t.blob(preview)
    # The start tag's value field: after the name and byte order (10 or 6
    # bytes), the entry count and two entries.
    struct.pack_into(">I" if modern else "<I", t.data, note_at + (10 if modern else 6) + 2 + 24 + 8,
                     pv_at - note_at if modern else pv_at)
    big = tiny_jpeg(64, 48)
    ifd2, f2 = t.directory([(259, SHORT, [6]), (513, LONG, [0]), (514, LONG, [len(big)])])
    ifd1, _ = t.directory([(259, SHORT, [6]), (513, LONG, [th_at]), (514, LONG, [len(thumb)])], ifd2)
    ifd0, _ = t.directory([
        (256, LONG, [16]), (257, LONG, [8]), (258, SHORT, [14]), (259, SHORT, [65535]),
        (271, ASCII, b"PENTAX\x00"), (272, ASCII, b"PENTAX K-3 II\x00"), (273, LONG, [raw_at]),
        (277, SHORT, [1]), (279, LONG, [128]), (34665, LONG, [exif_at]),
    ], ifd1)
    t.patch(f2[513], t.blob(big))
    t.set_first(ifd0)
    return bytes(t.data[:-40])


def far_preview_tiff():
    """A TIFF whose IFD1 JPEG is said to lie 2.5 GiB into the file."""
    t = Tiff(True)
    raw_at = t.blob(bytes(64))
    ifd1, _ = t.directory([(259, SHORT, [6]), (513, LONG, [0xA0000000]), (514, LONG, [4096])])
    ifd0, _ = t.directory([
        (256, LONG, [8]), (257, LONG, [8]), (258, SHORT, [14]), (259, SHORT, [1]),
        (271, ASCII, b"NIKON CORPORATION\x00"), (272, ASCII, b"NIKON D850\x00"), (273, LONG, [raw_at]),
        (277, SHORT, [1]), (279, LONG, [64]),
    ], ifd1)
    t.set_first(ifd0)
    return bytes(t.data)


def box(kind, payload):
    return struct.pack(">I", 8 + len(payload)) + kind + payload


CANON_UUID = bytes.fromhex("85c0b687820f11e08111f4ce462b6a48")
PREVIEW_UUID = bytes.fromhex("eaf42b5e1c984b88b9fbb7dc406e4d16")


def cmt_tiff(entries, little=True):
    t = Tiff(little)
    at, _ = t.directory(entries)
    t.set_first(at)
    return bytes(t.data)


def cr3_file(full_size=True, thumbnail=True, little=True):
    """ftyp "crx ", moov with Canon's uuid box (CMT1, CMT2, CMT4, THMB) and
    a first track whose one sample (stsd CRAW, stsz, co64) is the full-size
    JPEG in mdat, and the top-level uuid box holding PRVW."""
    jpeg = tiny_jpeg()
    thmb = struct.pack(">IHHII", 0, 160, 120, len(jpeg), 0x10000) + jpeg
    prvw = struct.pack(">IHHHHI", 0, 1, 1620, 1080, 1, len(jpeg)) + jpeg
    canon = CANON_UUID + box(b"CNCV", b"CanonCR3_001/00.10.00/00.00.00") + \
        box(b"CMT1", cmt_tiff([(271, ASCII, b"Canon\x00"), (272, ASCII, b"Canon EOS R6\x00"),
                              (274, SHORT, [6]), (306, ASCII, b"2010:06:01 12:30:00\x00")], little)) + \
        box(b"CMT2", cmt_tiff(exif_entries(), little)) + box(b"CMT4", cmt_tiff(gps_entries(), little))
    if thumbnail:
        canon += box(b"THMB", thmb)
    moov = box(b"uuid", canon)
    if full_size:
        craw = bytearray(78)
        craw[7] = 1
        struct.pack_into(">HH", craw, 24, 16, 12)
        stbl = box(b"stsd", struct.pack(">II", 0, 1) + box(b"CRAW", bytes(craw))) + \
            box(b"stsz", struct.pack(">III", 0, len(jpeg), 1)) + \
            box(b"co64", struct.pack(">IIQ", 0, 1, 0))
        moov += box(b"trak", box(b"mdia", box(b"minf", box(b"stbl", stbl))))
    head = box(b"ftyp", b"crx \x00\x00\x00\x01crx isom") + box(b"moov", moov) + \
        box(b"uuid", PREVIEW_UUID + struct.pack(">II", 0, 1) + box(b"PRVW", prvw))
    data = bytearray(head + box(b"mdat", jpeg if full_size else b""))
    if full_size:
        at = data.find(b"co64")
        struct.pack_into(">Q", data, at + 12, len(head) + 8)
    return bytes(data)


SEEDS = {
    "cr3-track-prvw-thmb.cr3": cr3_file,
    "cr3-prvw-only-be.cr3": lambda: cr3_file(full_size=False, thumbnail=False, little=False),
    "tiff-le-preview-ifd0.cr2": lambda: cr2_like(True),
    "tiff-be-preview-ifd0.tif": lambda: cr2_like(False),
    "tiff-be-preview-subifd.nef": nef_like,
    "tiff-tag46-preview.rw2": tag46_file,
    "tiff-dng-version.dng": dng_file,
    "tiff-olympus-sp550.orf": olympus_sp550,
    "fujifilm-header.raf": raf_file,
    "jpeg-with-exif.nef": jpeg_with_exif,
    "ciff-heap.crw": ciff_file,
    "minolta-blocks.mrw": mrw_file,
    "riff-avi-idit.avi": riff_file,
    "x3f-header.x3f": x3f_file,
    "phase-one-header.iiq": phase_one_file,
    "dng-preview-as-large-as-raw.dng": phone_dng,
    "cr2-cut-in-preview.cr2": cut_cr2,
    "ciff-thumbnail-only.crw": thumbnail_crw,
    "pef-pentax-note-cut.pef": lambda: pef_file(True),
    "pef-aoc-note-cut.pef": lambda: pef_file(False),
    "tiff-preview-past-2gib.nef": far_preview_tiff,
}


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, make in SEEDS.items():
        data = make()
        assert len(data) < 4096, name
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)
        print(f"{name}: {len(data)} bytes")


if __name__ == "__main__":
    main()
