#!/usr/bin/python3
"""Independent dBase fixtures and readers for the engine's dBase tests.

make DIR       writes the fixture tables: dBase III+ with memos in Windows-1252 and in
               DOS 850 (with deleted records) and FoxPro tables through Python's dbf;
               a dBase IV table with a dBase IV memo file and a table with a production
               index of two tags byte by byte from the format sheet, since Python's dbf
               writes neither.
dbf FILE       prints the records as Python's dbf reads them.
dbfread FILE   prints the records as dbfread reads them (it also reads dBase IV memos).

Records print one per line: "*" or " " for the deletion flag, then the values, each
after a 0x1F; None prints as <null>, dates as YYYY-MM-DD, line ends in memos as \\n.
"""
import datetime
import os
import struct
import sys


def show(value):
    if value is None:
        return "<null>"
    if isinstance(value, bool):
        return "T" if value else "F"
    if isinstance(value, (datetime.date, datetime.datetime)):
        return value.isoformat()
    if isinstance(value, bytes):
        value = value.decode("latin-1")
    if isinstance(value, float) and value == int(value):
        value = int(value)
    return str(value).rstrip(" ").replace("\r", "\\r").replace("\n", "\\n")


def emit(deleted, values):
    line = ("*" if deleted else " ") + "".join("\x1f" + show(v) for v in values)
    sys.stdout.buffer.write(line.encode("utf-8") + b"\n")


# --------------------------------------------------------------------------- readers

def read_with_dbf(path):
    import dbf
    table = dbf.Table(path)
    table.open(dbf.READ_ONLY)
    for record in table:
        emit(dbf.is_deleted(record), [record[name] for name in table.field_names])
    table.close()


def read_with_dbfread(path):
    import dbfread
    table = dbfread.DBF(path, load=True, char_decode_errors="strict")
    rows = [(False, r) for r in table.records] + [(True, r) for r in table.deleted]
    for deleted, record in rows:
        values = []
        for v in record.values():
            # dbfread counts the 8 header bytes of a dBase IV memo as text: drop them.
            if isinstance(v, str):
                v = v.rstrip("\x00")
            values.append(v)
        emit(deleted, values)


# -------------------------------------------------------------------------- fixtures

def make_with_dbf(directory):
    import dbf
    rows = [
        ("Müller", 12.5, datetime.date(1970, 1, 2), True, "Erste Zeile\r\nzweite Zeile äöü"),
        ("Zoë", -3.25, None, False, ""),
        ("Gone", 1, datetime.date(2001, 2, 3), None, "memo of a deleted record"),
        ("Ångström", 1000, datetime.date(1999, 12, 31), None, "x" * 700),
    ]
    for name, codepage in (("III_1252.DBF", "cp1252"), ("III_850.DBF", "cp850")):
        table = dbf.Table(os.path.join(directory, name),
                          "NAME C(20); AMOUNT N(8,2); BORN D; OK L; NOTE M",
                          dbf_type="db3", codepage=codepage)
        table.open(dbf.READ_WRITE)
        for row in rows:
            table.append(row)
        dbf.delete(table[2])
        table.close()

    table = dbf.Table(os.path.join(directory, "FOX.DBF"), "NAME C(10); QTY N(5,0); NOTE M",
                      dbf_type="fp", codepage="cp437")
    table.open(dbf.READ_WRITE)
    table.append(("fox", 7, "fox memo"))
    table.append(("box", None, ""))
    table.close()

    table = dbf.Table(os.path.join(directory, "VFP.DBF"),
                      "NAME C(10); PRICE Y; WHEN T; QTY I; RATIO B; NOTE M; OPT C(5) NULL",
                      dbf_type="vfp", codepage="cp1252")
    table.open(dbf.READ_WRITE)
    table.append(("vfp", 1.2345, datetime.datetime(2001, 2, 3, 4, 5, 6), 42, 0.5, "vfp memo", None))
    table.append(("second", -2, None, -7, -1.25, "", "set"))
    table.close()


def dbf_header(version, fields, count, language_driver, production_index=0):
    record_length = 1 + sum(length for _, _, length, _ in fields)
    header_length = 32 + 32 * len(fields) + 1
    head = struct.pack("<B3BIHH2x2B12xBB2x", version, 126, 1, 2, count, header_length,
                       record_length, 0, 0, production_index, language_driver)
    for name, kind, length, decimals in fields:
        head += struct.pack("<11sc4xBB14x", name.encode("ascii"), kind.encode("ascii"), length, decimals)
    return head + b"\x0d"


def make_dbase4_memo(directory):
    """A dBase IV table (0x8B, DBWINUS0) and its memo file with 512-byte blocks (sheet 8.2)."""
    fields = [("NAME", "C", 10, 0), ("NOTE", "M", 10, 0)]
    memos = ["first memo", "", "a longer memo " * 60]
    blocks = [b""]  # block 0 is the header
    pointers = []
    for memo in memos:
        if not memo:
            pointers.append(b" " * 10)
            continue
        data = memo.encode("cp1252")
        value = b"\xff\xff\x08\x00" + struct.pack("<I", len(data) + 8) + data
        value += b"\x00" * (-len(value) % 512)
        pointers.append(str(len(blocks)).rjust(10).encode("ascii"))
        for i in range(0, len(value), 512):
            blocks.append(value[i:i + 512])
    header = struct.pack("<I4x8s", len(blocks), b"IV_MEMO") + b"\x00\x00\x02\x01" + struct.pack("<H", 512)
    blocks[0] = header + b"\x00" * (512 - len(header))
    with open(os.path.join(directory, "IV_MEMO.DBT"), "wb") as f:
        f.write(b"".join(blocks))
    with open(os.path.join(directory, "IV_MEMO.DBF"), "wb") as f:
        f.write(dbf_header(0x8B, fields, len(memos), 0x57))
        for i, pointer in enumerate(memos):
            f.write(b" " + ("rec%d" % (i + 1)).ljust(10).encode("ascii") + pointers[i])
        f.write(b"\x1a")


def numeric_key(value):
    """The 12-byte numeric key of sheet 9.6 (dBase style: byte 1 = 0x29 | sign)."""
    if value == 0:
        return b"\x34\x01" + b"\x00" * 10
    text = ("%.10f" % abs(value)).rstrip("0").rstrip(".")
    whole, _, frac = text.partition(".")
    digits = (whole + frac).lstrip("0")
    exponent = len(whole.lstrip("0")) if whole.lstrip("0") else -(len(frac) - len(frac.lstrip("0")))
    digits = digits.rstrip("0")
    packed = bytearray(10)
    for i, d in enumerate(digits[:20]):
        packed[i // 2] |= int(d) << (4 if i % 2 == 0 else 0)
    return bytes([52 + exponent, 0x29 | (0x80 if value < 0 else 0)]) + bytes(packed)


def make_tagged(directory):
    """TAGS.DBF with a production index of two tags, NAME and AMOUNT (sheet 9)."""
    fields = [("NAME", "C", 10, 0), ("AMOUNT", "N", 8, 2), ("CITY", "C", 8, 0)]
    rows = [("Nora", 12.5, "Bonn"), ("Anton", -3.25, "Aue"), ("Berta", 100, "Celle"),
            ("Anton", 0, "Zeitz"), ("Carl", 7, "Bonn")]
    with open(os.path.join(directory, "TAGS.DBF"), "wb") as f:
        f.write(dbf_header(0x03, fields, len(rows), 0x57, production_index=1))
        for name, amount, city in rows:
            f.write(b" " + name.ljust(10).encode() + ("%8.2f" % amount).encode() + city.ljust(8).encode())
        f.write(b"\x1a")
    tags = [("NAME", "NAME", "C", 10, [(r[0].ljust(10).encode(), i + 1) for i, r in enumerate(rows)]),
            ("AMOUNT", "AMOUNT", "N", 12, [(numeric_key(r[1]), i + 1) for i, r in enumerate(rows)])]
    pages = 4
    body = b""
    entries = b""
    for n, (name, expression, key_type, key_length, keys) in enumerate(tags):
        if key_type == "N":
            keys.sort(key=lambda k: (rows[k[1] - 1][1], k[1]))
        else:
            keys.sort()
        item = (key_length + 4 + 3) // 4 * 4
        header_page = pages
        leaf_page = pages + 2
        head = struct.pack("<IIBcxBHHHHB2xB", leaf_page, 2, 0x10, key_type.encode(), 0x1B, key_length,
                           (1024 - 12) // item, 1 if key_type == "D" else 0, item, 1, 0)
        head += expression.encode().ljust(221, b"\x00")
        head = head.ljust(246, b"\x00") + b"\x01\x00" + struct.pack("<II", leaf_page, leaf_page)
        leaf = struct.pack("<II", len(keys), 0)
        for key, recno in keys:
            leaf += struct.pack("<I", recno) + key.ljust(item - 4, b"\x00")
        body += head.ljust(1024, b"\x00") + leaf.ljust(1024, b"\x00")
        entries += struct.pack("<I11sBBBBBc11x", header_page, name.encode(), 0x10,
                               2 if n == 0 else 0, 0, 0 if n == 0 else 1, 0x02, key_type.encode())
        pages += 4
    header = struct.pack("<B3B16sHHBBBxHBBIII3B", 2, 126, 1, 2, b"TAGS", 2, 1024, 1, 48, 32,
                         len(tags), len(tags) + 1, 0x1B, pages, 0, 0, 126, 1, 2)
    header = header.ljust(544, b"\x00") + entries
    with open(os.path.join(directory, "TAGS.MDX"), "wb") as f:
        f.write(header.ljust(2048, b"\x00") + body)


def main():
    command = sys.argv[1]
    if command == "make":
        make_with_dbf(sys.argv[2])
        make_dbase4_memo(sys.argv[2])
        make_tagged(sys.argv[2])
    elif command == "dbf":
        read_with_dbf(sys.argv[2])
    elif command == "dbfread":
        read_with_dbfread(sys.argv[2])
    else:
        sys.exit("unknown command " + command)


if __name__ == "__main__":
    main()
