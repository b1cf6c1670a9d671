#!/usr/bin/python3
"""Independent reader and writer of DBF tables for the interop tests.

  dbf_peer.py write KIND CODEPAGE PATH   writes a table with python3-dbf and prints the
                                         rows it wrote
  dbf_peer.py read PATH                  reads a table with python3-dbfread and prints
                                         its rows
  dbf_peer.py letters CODEPAGE PATH      writes a dBASE III table with a memo field in a
                                         code page, holding letters of its script, and
                                         prints the rows it wrote

Rows are printed one a line, tab-separated: the deletion flag (* or blank), then each
field: text as is, numbers with four decimals, dates as YYYYMMDD, logicals as T or F,
a missing value as an empty cell.
"""
import datetime
import sys


def cell(value):
    if value is None:
        return ''
    if isinstance(value, bool):
        return 'T' if value else 'F'
    if isinstance(value, (int, float)):
        return '%.4f' % value
    if isinstance(value, datetime.date):
        return value.strftime('%Y%m%d')
    if isinstance(value, bytes):
        return value.decode('latin-1')
    return str(value).rstrip(' ')


ROWS = [
    ('Zoë Ålander', 3, 12.5, datetime.date(2024, 2, 29), True, 1.25),
    ('', None, None, None, None, None),
    ('deleted one', -7, -0.01, datetime.date(1999, 12, 31), False, -3.5),
    ('semi;colon, "quoted"', 12345, 99999.99, datetime.date(2000, 1, 1), True, 0.0),
]


def write(kind, codepage, path):
    import dbf
    fields = 'NAME C(20); QTY N(5,0); PRICE N(8,2); BORN D; OK L'
    fp = kind == 'fp'
    if fp:
        # python3-dbf writes a plain FoxPro table with version byte 0x00; a memo field
        # gives the FPT kind 0xF5 that readers know.
        fields += '; RATIO F(10,4); NOTES M'
    table = dbf.Table(path, fields, dbf_type=kind, codepage=codepage)
    table.open(mode=dbf.READ_WRITE)
    for i, row in enumerate(ROWS):
        values = row if fp else row[:5]
        if fp:
            values = values + (None,)
        table.append(values)
        if i == 2:
            dbf.delete(table[-1])
    table.close()
    for i, row in enumerate(ROWS):
        values = row + (None,) if fp else row[:5]
        print('\t'.join(['*' if i == 2 else ' '] + [cell(v) for v in values]))


# Words of each code page's script: a name and a memo text.
LETTERS = {
    'cp437': ('α¢¥ß Ünïcödé', 'Größe ░▒▓ ½'),
    'cp850': ('Zoë Ålander', 'ÿ ø Þ ±'),
    'cp852': ('Łódź', 'Žluťoučký kůň'),
    'cp857': ('İstanbul', 'ğüşöç ı'),
    'cp860': ('São João', 'ção Ê'),
    'cp861': ('Þórður', 'Ðý ð'),
    'cp863': ('Québec', 'Çà êè ¶'),
    'cp865': ('Blåbærsyltetøy', 'Æ Ø ¤'),
    'cp866': ('Москва', 'Ёжик ╬ №'),
    'cp737': ('Αθήνα', 'ΩΣ ώ'),
    'cp1250': ('Łódź', 'Žluťoučký kůň'),
    'cp1251': ('Москва', 'Ёжик №'),
    'cp1252': ('Zoë Ålander', '€ œ Ÿ'),
    'cp1253': ('Αθήνα', 'ΩΣ ώ'),
    'cp1254': ('İstanbul', 'ğüşı'),
}


def letters(codepage, path):
    import dbf
    name, note = LETTERS[codepage]
    def fits(text, fallback):
        try:
            text.encode(codepage)
            return text
        except UnicodeEncodeError:
            return fallback
    # Capitals and small letters too, where the code page has them.
    rows = [(name, note), (fits(name.upper(), name), fits(note.lower(), note)),
            ('plain', 'ascii only')]
    table = dbf.Table(path, 'NAME C(30); NOTES M', dbf_type='db3', codepage=codepage)
    table.open(mode=dbf.READ_WRITE)
    for row in rows:
        table.append(row)
    table.close()
    for row in rows:
        print('\t'.join(row))


def read(path):
    import dbfread
    table = dbfread.DBF(path, load=True, ignore_missing_memofile=True, char_decode_errors='strict')
    rows = [(' ', r) for r in table.records] + [('*', r) for r in table.deleted]
    print('count %d' % len(table.records))
    for flag, record in rows:
        print('\t'.join([flag] + [cell(v) for v in record.values()]))


if __name__ == '__main__':
    if sys.argv[1] == 'write':
        write(sys.argv[2], sys.argv[3], sys.argv[4])
    elif sys.argv[1] == 'letters':
        letters(sys.argv[2], sys.argv[3])
    else:
        read(sys.argv[2])
