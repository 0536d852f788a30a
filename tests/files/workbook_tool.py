#!/usr/bin/env python3
"""Independent workbook reader and writers for the workbook tests.

  workbook_tool.py read PATH        prints {"sheets": [names], "rows": [[cell, ...], ...]}
                                    for the first sheet, from A1, as openpyxl sees it
  workbook_tool.py write PATH       writes the workbook described on stdin with openpyxl
  workbook_tool.py write-raw PATH   writes it as bare XML parts: inline strings, cells only
                                    where a value is, and sheet part names in reverse tab order

stdin for the writers: {"sheets": [{"name": "...", "rows": [[cell, ...], ...]}]}; a cell is a
string, number, boolean or null.
"""
import json
import sys
import zipfile
from xml.sax.saxutils import escape, quoteattr


def read(path):
    import openpyxl
    book = openpyxl.load_workbook(path)
    sheet = book.worksheets[0]
    rows = [list(r) for r in sheet.iter_rows(min_row=1, min_col=1, values_only=True)]
    json.dump({"sheets": book.sheetnames, "rows": rows}, sys.stdout, ensure_ascii=False)


def write(path, spec):
    import openpyxl
    book = openpyxl.Workbook()
    book.remove(book.active)
    for s in spec["sheets"]:
        sheet = book.create_sheet(s["name"])
        for r, row in enumerate(s["rows"], start=1):
            for c, value in enumerate(row, start=1):
                if value is not None:
                    sheet.cell(row=r, column=c, value=value)
    book.save(path)


def column_letters(n):
    letters = ""
    while n > 0:
        n, rem = divmod(n - 1, 26)
        letters = chr(65 + rem) + letters
    return letters


def cell_xml(ref, value):
    if isinstance(value, bool):
        return '<c r="%s" t="b"><v>%d</v></c>' % (ref, int(value))
    if isinstance(value, (int, float)):
        return '<c r="%s"><v>%r</v></c>' % (ref, value)
    return '<c r="%s" t="inlineStr"><is><t xml:space="preserve">%s</t></is></c>' % (
        ref, escape(value))


def write_raw(path, spec):
    ns = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
    rel_ns = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
    sheets = spec["sheets"]
    count = len(sheets)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("[Content_Types].xml",
                   '<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.'
                   'openxmlformats.org/package/2006/content-types"><Default Extension="xml" '
                   'ContentType="application/xml"/></Types>')
        entries, rels = [], []
        for i, s in enumerate(sheets, start=1):
            part = "sheet%d.xml" % (count + 1 - i)  # tab order differs from part names
            entries.append('<sheet name=%s sheetId="%d" r:id="rId%d"/>' % (quoteattr(s["name"]), i, i))
            rels.append('<Relationship Id="rId%d" Type="%s/worksheet" Target="worksheets/%s"/>'
                        % (i, rel_ns, part))
            rows = []
            for r, row in enumerate(s["rows"], start=1):
                cells = "".join(cell_xml(column_letters(c) + str(r), v)
                                for c, v in enumerate(row, start=1) if v is not None)
                if cells:
                    rows.append('<row r="%d">%s</row>' % (r, cells))
            z.writestr("xl/worksheets/" + part,
                       '<?xml version="1.0" encoding="UTF-8"?><worksheet %s><sheetData>%s'
                       '</sheetData></worksheet>' % (ns, "".join(rows)))
        z.writestr("xl/workbook.xml",
                   '<?xml version="1.0" encoding="UTF-8"?><workbook %s xmlns:r="%s"><sheets>%s'
                   '</sheets></workbook>' % (ns, rel_ns, "".join(entries)))
        z.writestr("xl/_rels/workbook.xml.rels",
                   '<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.'
                   'openxmlformats.org/package/2006/relationships">%s</Relationships>'
                   % "".join(rels))


def main():
    command, path = sys.argv[1], sys.argv[2]
    if command == "read":
        read(path)
    elif command == "write":
        write(path, json.load(sys.stdin))
    elif command == "write-raw":
        write_raw(path, json.load(sys.stdin))
    else:
        sys.exit("unknown command " + command)


if __name__ == "__main__":
    main()
