"""Reads a table's memo field through python3-dbfread, a peer implementation.

Usage: peer_read.py TABLE FIELD
Prints one line per record: the memo text's bytes as hex digits (empty for no memo).
"""
import sys

from dbfread import DBF


def main():
    table, field = sys.argv[1:3]
    for record in DBF(table, encoding="latin-1", raw=False, ignore_missing_memofile=False):
        value = record[field]
        if value is None:
            value = ""
        if isinstance(value, str):
            value = value.encode("latin-1")
        print(value.hex())


if __name__ == "__main__":
    main()
