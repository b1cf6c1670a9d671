"""Reads a table's memo field through python3-dbfread, or python3-dbf, peer implementations.

Usage: peer_read.py TABLE FIELD [dbf]
Prints one line per record: the memo text's bytes as hex digits (empty for no memo). With
"dbf" the table is read through python3-dbf (texts in code page 1252), otherwise through
python3-dbfread.
"""
import sys


def read_with_dbf(table, field):
    import dbf

    t = dbf.Table(table, codepage="cp1252")
    t.open(dbf.READ_ONLY)
    try:
        for record in t:
            print((record[field.lower()] or "").encode("cp1252").hex())
    finally:
        t.close()


def main():
    table, field = sys.argv[1:3]
    if sys.argv[3:] == ["dbf"]:
        read_with_dbf(table, field)
        return
    from dbfread import DBF

    for record in DBF(table, encoding="latin-1", raw=False, ignore_missing_memofile=False):
        value = record[field]
        if value is None:
            value = ""
        if isinstance(value, str):
            value = value.encode("latin-1")
        print(value.hex())


if __name__ == "__main__":
    main()
