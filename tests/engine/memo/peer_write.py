"""Writes a table with a memo field through python3-dbf, a peer implementation.

Usage: peer_write.py KIND TABLE TEXTS
KIND is a python3-dbf table kind (db3: memo file .dbt, fp: memo file .fpt); TEXTS holds
one memo text per line as hex digits (an empty line is an empty memo). The table gets the
fields NAME C(10) and NOTES M, one record per text, NAME holding the record number.
"""
import sys

import dbf


def main():
    kind, table, texts = sys.argv[1:4]
    with open(texts) as f:
        memos = [bytes.fromhex(line.strip()).decode("latin-1") for line in f]
    t = dbf.Table(table, "name C(10); notes M", dbf_type=kind, codepage="cp1252")
    t.open(dbf.READ_WRITE)
    for i, text in enumerate(memos, 1):
        t.append((str(i), text))
    t.close()


if __name__ == "__main__":
    main()
