#!/usr/bin/python3
"""Compares the engine's reading of tables with two independent readers.

Usage: compare_readers.py MANIFEST
MANIFEST lines: <table path> TAB <engine dump path>. An engine dump is JSON: {"fields": [[name,
type letter], ...], "rows": [[[kind, text], ...], ...]} with live records only.

Prints one line per table and reader: "OK <reader> <table> <rows>", "SKIP <reader> <table>
<why>" when the reader cannot open the table, or "DIFF <reader> <table> <detail>".
"""
import codecs
import datetime
import decimal
import json
import sys

import dbf
import dbfread


def engine_value(kind, text):
    if kind == "null":
        return None
    if kind == "bool":
        return text == "1"
    if kind == "int":
        return int(text)
    if kind in ("double",):
        return float(text)
    if kind == "decimal":
        return decimal.Decimal(text)
    if kind == "text":
        return text
    if kind == "bytes":
        return bytes.fromhex(text)
    if kind == "date":
        return datetime.date.fromisoformat(text)
    if kind == "datetime":
        return datetime.datetime.fromisoformat(text)
    raise ValueError(kind)


def same(ftype, mine, theirs):
    if type(theirs).__name__ == "NullType":  # python-dbf's Null
        theirs = None
    if isinstance(mine, bytes) and isinstance(theirs, str):
        # Binary (NOCPTRANS) character fields: the engine hands out the bytes.
        theirs = theirs.encode("latin-1", errors="replace")
        if ftype == "C":
            mine, theirs = mine.rstrip(b" \x00"), theirs.rstrip(b" \x00")
    if isinstance(theirs, str):
        theirs = theirs.rstrip(" \x00") if ftype == "C" else theirs
    if isinstance(mine, str) and ftype == "C":
        mine = mine.rstrip(" \x00")
    if isinstance(theirs, Dbase4Memo):
        return isinstance(mine, str) and theirs.startswith(mine) and len(mine) >= len(theirs) - 2
    if theirs is SKIP_NULL:
        return True
    if theirs is NULL_MARK:
        return mine is None
    if theirs is None or (isinstance(theirs, str) and theirs == "" and ftype in "MC"):
        # Readers disagree on blanks: a blank logical reads .F. in FoxPro, an empty memo "".
        if mine is None or mine is False or mine == "" or mine == b"":
            return True
        return False
    if mine is None:
        return theirs is None or theirs == "" or theirs == b""
    if isinstance(theirs, bool) or isinstance(mine, bool):
        return bool(mine) == bool(theirs)
    if isinstance(theirs, datetime.datetime):
        if not isinstance(mine, datetime.datetime):
            return False
        # FoxPro stores truncated milliseconds; both sides are compared to the nearest second.
        t = theirs + datetime.timedelta(microseconds=500000)
        return mine == t.replace(microsecond=0)
    if isinstance(theirs, datetime.date):
        return mine == theirs
    if isinstance(theirs, (int, float, decimal.Decimal)):
        try:
            return decimal.Decimal(str(mine)) == decimal.Decimal(str(theirs)) or float(mine) == float(theirs)
        except Exception:
            return False
    if isinstance(theirs, (bytes, bytearray)):
        if isinstance(mine, str):
            return False
        return bytes(mine) == bytes(theirs) or bytes(mine).rstrip(b" ") == bytes(theirs).rstrip(b" ")
    return mine == theirs


def compare(reader, table, dump, rows_of):
    try:
        theirs = rows_of(table, dump)
        if theirs is None:
            return
    except Exception as e:  # the reader cannot open this table
        print("SKIP", reader, table, type(e).__name__, str(e).replace("\n", " ")[:120])
        return
    mine = dump["rows"]
    if len(theirs) != len(mine):
        print("DIFF", reader, table, "rows", len(mine), "vs", len(theirs))
        return
    fields = dump["fields"]
    for r, (a, b) in enumerate(zip(mine, theirs)):
        for (name, ftype), cell, value in zip(fields, a, b):
            v = engine_value(*cell)
            if not same(ftype, v, value):
                print("DIFF", reader, table, "row", r + 1, name, repr(v), "vs", repr(value))
                return
    print("OK", reader, table, len(mine))


def encoding_of(dump):
    # Unmarked tables are read as 1252, as the engine does; marked ones in their own page.
    return dump.get("encoding")


def null_bits(fields):
    """The _NullFlags bit of each nullable field and the length bit of each V/Q field, in
    descriptor order: a length bit first, then a null bit."""
    nulls, lengths, k = {}, {}, 0
    for i, f in enumerate(fields):
        if f.type == "0":
            continue
        flags = f.reserved1 & 0xFF
        if f.type in "VQ":
            lengths[i] = k
            k += 1
        if flags & 0x02:
            nulls[i] = k
            k += 1
    return nulls, lengths


def bit(flags, b):
    return b is not None and b // 8 < len(flags) and flags[b // 8] >> (b % 8) & 1


# Bytes a single-byte code page leaves undefined (0x81 in 1252) decode as the control character
# of the same number, as Windows decodes them; Python's codecs refuse them.
codecs.register_error("same_number", lambda e: (chr(e.object[e.start]), e.start + 1))
codecs.register_error("same_number_back", lambda e: (bytes([ord(e.object[e.start])]), e.start + 1))


def with_dbfread(table, dump):
    t = dbfread.DBF(table, encoding=encoding_of(dump), char_decode_errors="same_number",
                    ignore_missing_memofile=False, recfactory=None)
    nulls, lengths = null_bits(t.fields)
    flags_at = [i for i, f in enumerate(t.fields) if f.type == "0"]
    out = []
    for items in t:
        values = [v for _, v in items]
        flags = values[flags_at[0]] if flags_at else b""
        row = []
        for i, f in enumerate(t.fields):
            if f.type == "0":
                continue
            v = values[i]
            if i in lengths and bit(flags, lengths[i]):
                raw = v.encode(t.encoding) if isinstance(v, str) else v
                # The last byte holds the length; dbfread has already stripped a zero length.
                v = raw[: raw[-1]] if raw and len(raw) == f.length else raw[:0]
                if isinstance(values[i], str):
                    v = v.decode(t.encoding)
            if bit(flags, nulls.get(i)):
                v = NULL_MARK
            if f.type in "CMV" and f.reserved1 & 0x04 and isinstance(v, str):
                # Binary (NOCPTRANS) fields hold bytes; dbfread decodes them all the same.
                v = v.encode(t.encoding, errors="same_number_back")
            if f.type == "M" and t.header.dbversion == 0x8B and v:
                # dbfread reads a dBase IV memo to its end mark, the engine by its stored
                # length; the end mark may come after stale bytes of an older, longer memo.
                v = Dbase4Memo(v)
            row.append(v)
        out.append(row)
    return out


class Dbase4Memo(str):
    pass


class NullMark:
    def __repr__(self):
        return "NULL(by _NullFlags)"


NULL_MARK = NullMark()
# python-dbf numbers _NullFlags bits over every field, not just the nullable ones, so its nulls
# are not evidence; the value comparison is still made wherever it reads a value.
SKIP_NULL = object()


def with_dbf(table, dump):
    t = dbf.Table(table, codepage=encoding_of(dump))
    t.open(dbf.READ_ONLY)
    try:
        names = [f[0] for f in dump["fields"]]
        tnames = t.field_names
        has_null_flags = any(f[1] == "0" for f in dump.get("all_fields", [])) or dump.get("null_flags")
        out = []
        for rec in t:
            if dbf.is_deleted(rec):
                continue
            out.append([SKIP_NULL if type(rec[tnames[i]]).__name__ == "NullType" and has_null_flags
                        else rec[tnames[i]] for i in range(len(names))])
        return out
    finally:
        t.close()


def main():
    for line in open(sys.argv[1], encoding="utf-8"):
        line = line.rstrip("\n")
        if not line:
            continue
        table, dump_path = line.split("\t")
        dump = json.load(open(dump_path, encoding="utf-8"))
        compare("dbfread", table, dump, with_dbfread)
        compare("python-dbf", table, dump, with_dbf)


if __name__ == "__main__":
    main()
