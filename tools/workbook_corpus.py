#!/usr/bin/python3
# Source workbooks of the workbook corpus (tests/workbooks), written with
# XlsxWriter and openpyxl. Run by tools/make_workbook_corpus.sh, which turns
# some of them into LibreOffice and Gnumeric files.
#
#   workbook_corpus.py sources DIR   the sources LibreOffice converts
#   workbook_corpus.py direct DIR    files kept as their library wrote them
#   workbook_corpus.py handmade DIR  files no program here writes, with
#                                    their expected texts or refusals
#   workbook_corpus.py hostile DIR   small files that inflate or count past
#                                    what any list needs
import datetime
import os
import sys
import zipfile
import zlib

# The writers are needed only for the files they write; the hand-made and
# hostile files are written byte by byte.
try:
    import openpyxl
    import openpyxl.styles
    import xlsxwriter
    import xlwt
except ImportError:
    openpyxl = xlsxwriter = xlwt = None

HEAD = ["编号", "姓名", "电话号码", "身份证号码", "图片文件", "备注"]


def participants_source(path, date_1904=False):
    """Formulas giving numbers, texts, truth values and errors; dates and
    times; number formats; rich text; merged cells; a row after the first
    blank row that the import must not read."""
    wb = xlsxwriter.Workbook(path, {"date_1904": date_1904})
    ws = wb.add_worksheet("名单")
    f = lambda code: wb.add_format({"num_format": code})
    bold = wb.add_format({"bold": True})
    red = wb.add_format({"font_color": "red"})
    ws.write_row(0, 0, HEAD)
    # Row 2: a number made text by a formula, a name, a phone number typed as
    # a number, an identity number typed as text, a text built by a formula.
    ws.write_formula("A2", '=TEXT(ROW()-1,"0000")')
    ws.write_string("B2", "张三")
    ws.write_number("C2", 13800138000)
    ws.write_string("D2", "110101199001011234")
    ws.write_string("E2", "zhang.jpg")
    ws.write_formula("F2", '=B2&"的备注"')
    # Row 3: rich text and number formats.
    ws.write_string("A3", "0002")
    ws.write_rich_string("B3", bold, "李", red, "四")
    ws.write_number("C3", 1.5, f("0.00"))
    ws.write_number("D3", 0.125, f("0%"))
    ws.write_number("E3", 1234.5, f('"¥"#,##0.00'))
    ws.write_number("F3", 12, f('0"元"'))
    # Row 4: dates and times.
    day = datetime.datetime(2024, 1, 15)
    ws.write_datetime("A4", day, f("yyyy-mm-dd"))
    ws.write_datetime("B4", datetime.datetime(2024, 1, 15, 18, 30), f("yyyy/m/d h:mm"))
    ws.write_datetime("C4", datetime.datetime(1900, 1, 1, 18, 0, 5) if date_1904 else
                      datetime.time(18, 0, 5), f("hh:mm:ss"))
    ws.write_datetime("D4", day, f('yyyy"年"m"月"d"日"'))
    ws.write_datetime("E4", day, f("mmm d, yyyy"))
    ws.write_number("F4", 1.52083, f("[h]:mm"))
    # Row 5: formula results of every kind, General numbers.
    ws.write_formula("A5", "=1/3")
    ws.write_formula("B5", "=2>1")
    ws.write_formula("C5", "=1/0")
    ws.write_formula("D5", "=SUM(1,2)*0.5")
    ws.write_number("E5", 22.2222)
    ws.write_number("F5", 72.0)
    # Row 6: merged cells, sections, grouping, exponent.
    ws.merge_range("A6:B6", "合并单元格")
    ws.write_number("C6", -1234.5, f('0.00;[Red](0.00);"零"'))
    ws.write_number("D6", 0, f('0.00;[Red](0.00);"零"'))
    ws.write_number("E6", 1234567, f("#,##0"))
    ws.write_number("F6", 0.000123, f("0.00E+00"))
    # Row 7: a truth value, a percentage with decimals, a long date, a
    # whole number longer than 15 digits typed as a number.
    ws.write_boolean("A7", False)
    ws.write_number("B7", 0.12345, f("0.00%"))
    ws.write_datetime("C7", day, f("[$-F800]dddd\\,\\ mmmm\\ dd\\,\\ yyyy"))
    ws.write_number("D7", 110101199001011234)
    ws.write_formula("E7", '=IF(B7>0,"正","负")')
    ws.write_string("F7", "  带空格  ")
    # Row 8 is blank: the reading ends there.
    ws.write_string("B9", "空行之后")
    other = wb.add_worksheet("其他")
    other.write_string("A1", "第二页")
    wb.close()


def dates_1904_source(path):
    wb = xlsxwriter.Workbook(path, {"date_1904": True})
    ws = wb.add_worksheet()
    f = lambda code: wb.add_format({"num_format": code})
    ws.write_row(0, 0, HEAD)
    ws.write_datetime("A2", datetime.datetime(2024, 1, 15), f("yyyy-mm-dd"))
    ws.write_datetime("B2", datetime.datetime(2024, 1, 15, 18, 30), f("yyyy/m/d h:mm"))
    ws.write_number("C2", 43844)
    ws.write_formula("D2", "=A2+1", f("yyyy-mm-dd"))
    ws.write_string("E2", "1904")
    wb.close()


def long_numbers_source(path):
    """Identity and card numbers typed as numbers: a spreadsheet keeps 15
    significant digits of them, under General and under "0"."""
    wb = xlsxwriter.Workbook(path)
    ws = wb.add_worksheet()
    zero = wb.add_format({"num_format": "0"})
    ws.write_row(0, 0, HEAD)
    ws.write_string("A2", "0001")
    ws.write_number("D2", 110101199001011234, zero)
    ws.write_string("A3", "0002")
    ws.write_number("D3", 110101199001011234)
    ws.write_string("A4", "0003")
    ws.write_number("C4", 13800138000)
    ws.write_number("D4", 123456789012345, zero)  # 15 digits: all kept
    ws.write_string("A5", "0004")
    ws.write_number("C5", 6222021234567899, zero)  # a 16-digit card number
    ws.write_string("D5", "110101199001011234")
    wb.close()


def formulas_sources(d):
    """Formulas as scripts write them without calculating: openpyxl and
    xlwt store no result, XlsxWriter stores 0 and asks for a calculation
    when the workbook is opened."""
    rows = [("0001", '="T"&TEXT(3,"000")', "=2+3"), ("0002", '=A3&"号"', "=LEN(A3)")]
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.append(HEAD)
    for a, b, c in rows:
        ws.append([a, b, c])
    wb.save(os.path.join(d, "openpyxl_formulas.xlsx"))
    wb = xlsxwriter.Workbook(os.path.join(d, "xlsxwriter_formulas.xlsx"))
    ws = wb.add_worksheet()
    ws.write_row(0, 0, HEAD)
    for r, (a, b, c) in enumerate(rows, 1):
        ws.write_string(r, 0, a)
        ws.write_formula(r, 1, b)
        ws.write_formula(r, 2, c)
    wb.close()
    wb = xlwt.Workbook(encoding="utf-8")
    ws = wb.add_sheet("S")
    for c, h in enumerate(HEAD):
        ws.write(0, c, h)
    for r, (a, b, c) in enumerate(rows, 1):
        ws.write(r, 0, a)
        ws.write(r, 1, xlwt.Formula(b[1:].replace(",", ";")))
        ws.write(r, 2, xlwt.Formula(c[1:]))
    wb.save(os.path.join(d, "xlwt_formulas.xls"))


def xlsxwriter_direct(path):
    """As a script would write a list with XlsxWriter: inline strings (the
    constant-memory mode), formula values given by the writer."""
    wb = xlsxwriter.Workbook(path, {"constant_memory": True})
    ws = wb.add_worksheet()
    f = lambda code: wb.add_format({"num_format": code})
    ws.write_row(0, 0, HEAD)
    ws.write_string(1, 0, "0001")
    ws.write_string(1, 1, "王五")
    ws.write_number(1, 2, 13912345678)
    ws.write_string(1, 3, "11010119900101123X")
    ws.write_formula(1, 5, '="备注"&A2', None, "备注0001")
    ws.write_number(2, 0, 2)
    ws.write_rich_string(2, 1, wb.add_format({"italic": True}), "赵", "六")
    ws.write_number(2, 2, 0.5, f("0.0%"))
    ws.write_datetime(2, 3, datetime.datetime(2023, 12, 31, 23, 59, 59), f("yyyy-mm-dd hh:mm:ss"))
    ws.write_boolean(2, 4, True)
    ws.write_number(2, 5, -3.25, f("#,##0.00;(#,##0.00)"))
    wb.close()


def openpyxl_direct(path):
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "名单"
    ws.append(HEAD)
    ws.append(["0001", "孙七", 13700000000, "110101199001011234", None, "备注"])
    ws.append([2, "周八", 1.25, 0.3333, "pic.png", datetime.datetime(2024, 2, 29, 8, 5)])
    ws["D3"].number_format = "0.00%"
    ws["C3"].number_format = "0.000"
    ws["F3"].number_format = "yyyy-mm-dd hh:mm"
    ws.append(["合并", None, 12345.678, 1e-5, True, 22.2222])
    ws.merge_cells("A4:B4")
    ws["C4"].number_format = "#,##0.0"
    ws.append([])
    ws.append(["之后", "不读"])
    wb.save(path)


# --- Hand-made files ----------------------------------------------------------------------

CT = ('<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/'
      'package/2006/content-types"/>')
RELS = ('<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats'
        '.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxml'
        'formats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>'
        '</Relationships>')
NS = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
BOOK = ('<?xml version="1.0" encoding="UTF-8"?><workbook ' + NS + ' xmlns:r="http://schemas.'
        'openxmlformats.org/officeDocument/2006/relationships"><sheets><sheet name="S" '
        'sheetId="1" r:id="rId1"/></sheets></workbook>')


def book_rels(strings="sharedStrings.xml"):
    return ('<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.'
            'openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http'
            '://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target='
            '"worksheets/sheet1.xml"/><Relationship Id="rId2" Type="http://schemas.openxml'
            'formats.org/officeDocument/2006/relationships/sharedStrings" Target="' + strings +
            '"/></Relationships>')


def sst(*items):
    return ('<?xml version="1.0" encoding="UTF-8"?><sst ' + NS + '>' +
            "".join("<si><t>%s</t></si>" % s for s in items) + "</sst>")


def sheet(rows):
    return ('<?xml version="1.0" encoding="UTF-8"?><worksheet ' + NS + '><sheetData>' + rows +
            '</sheetData></worksheet>')


def write_zip(path, parts, stored=()):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in parts:
            z.writestr(zipfile.ZipInfo(name, (2024, 1, 1, 0, 0, 0)), data,
                       zipfile.ZIP_STORED if name in stored else zipfile.ZIP_DEFLATED)


def write_expected(path, rows):
    with open(path, "w", encoding="utf-8", newline="\n") as out:
        for r in rows:
            out.write(",".join(r) + "\n")


def handmade(d):
    # Shared-string cells that cannot be read: an empty value, no value, an
    # index out of range, a negative index. Each reads as "" and the rest
    # of the sheet is read.
    write_zip(os.path.join(d, "hand_empty_value.xlsx"), [
        ("[Content_Types].xml", CT), ("_rels/.rels", RELS), ("xl/workbook.xml", BOOK),
        ("xl/_rels/workbook.xml.rels", book_rels()),
        ("xl/sharedStrings.xml", sst("编号", "姓名", "张三", "备注")),
        ("xl/worksheets/sheet1.xml", sheet(
            '<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c></row>'
            '<row r="2"><c r="A2" t="s"><v/></c><c r="B2" t="s"><v>2</v></c>'
            '<c r="C2" t="s"></c><c r="D2" t="s"><v>99</v></c><c r="E2" t="s"><v>-1</v></c>'
            '<c r="F2" t="s"><v>3</v></c></row>'
            '<row r="3"><c r="A3"><v>7</v></c></row>')),
    ])
    write_expected(os.path.join(d, "hand_empty_value.xlsx.csv"),
                   [["编号", "姓名"], ["", "张三", "", "", "", "备注"], ["7"]])
    # The shared strings stored as xl/SharedStrings.xml while the
    # relationship names sharedStrings.xml: part names ignore case.
    write_zip(os.path.join(d, "hand_part_case.xlsx"), [
        ("[Content_Types].xml", CT), ("_rels/.rels", RELS), ("xl/workbook.xml", BOOK),
        ("xl/_rels/workbook.xml.rels", book_rels()),
        ("xl/SharedStrings.xml", sst("编号", "李四")),
        ("xl/worksheets/Sheet1.xml", sheet(
            '<row r="1"><c r="A1" t="s"><v>0</v></c></row>'
            '<row r="2"><c r="A2"><v>1</v></c><c r="B2" t="s"><v>1</v></c></row>')),
    ])
    write_expected(os.path.join(d, "hand_part_case.xlsx.csv"), [["编号"], ["1", "李四"]])
    # A member whose stored CRC does not match its contents: the
    # relationships of the workbook. Refused, naming the part.
    path = os.path.join(d, "hand_bad_crc.xlsx")
    write_zip(path, [
        ("[Content_Types].xml", CT), ("_rels/.rels", RELS), ("xl/workbook.xml", BOOK),
        ("xl/_rels/workbook.xml.rels", book_rels()),
        ("xl/sharedStrings.xml", sst("编号")),
        ("xl/worksheets/sheet1.xml", sheet('<row r="1"><c r="A1" t="s"><v>0</v></c></row>')),
    ], stored=("xl/_rels/workbook.xml.rels",))
    data = bytearray(open(path, "rb").read())
    name = b"xl/_rels/workbook.xml.rels"
    at = data.index(name) + len(name)  # the local header's data follows the name
    i = data.index(b"worksheets/sheet1.xml", at)
    data[i] = ord("W")  # one byte of the stored data changed, its CRC kept
    open(path, "wb").write(bytes(data))
    with open(path + ".refused", "w", encoding="utf-8") as out:
        out.write("已损坏\nxl/_rels/workbook.xml.rels\n")


def main():
    what, d = sys.argv[1], sys.argv[2]
    os.makedirs(d, exist_ok=True)
    if what == "sources":
        participants_source(os.path.join(d, "participants.xlsx"))
        dates_1904_source(os.path.join(d, "dates1904.xlsx"))
        long_numbers_source(os.path.join(d, "long_numbers.xlsx"))
    elif what == "direct":
        xlsxwriter_direct(os.path.join(d, "xlsxwriter_list.xlsx"))
        openpyxl_direct(os.path.join(d, "openpyxl_list.xlsx"))
        formulas_sources(d)
    elif what == "handmade":
        handmade(d)
    elif what == "hostile":
        hostile(d)
        hostile_markup(d)



# --- Hostile files ------------------------------------------------------------------------


def package(sheet_xml, strings=None, sheet_method=zipfile.ZIP_DEFLATED):
    # The workbook names the shared strings only when the package has them.
    rels = book_rels() if strings is not None else rels_of(
        ("rId1", "worksheet", "worksheets/sheet1.xml"))
    parts = [("[Content_Types].xml", CT), ("_rels/.rels", RELS), ("xl/workbook.xml", BOOK),
             ("xl/_rels/workbook.xml.rels", rels)]
    if strings is not None:
        parts.append(("xl/sharedStrings.xml", strings))
    return parts, ("xl/worksheets/sheet1.xml", sheet_xml, sheet_method)


def write_package(path, sheet_xml, strings=None, sheet_method=zipfile.ZIP_DEFLATED):
    parts, sheet_part = package(sheet_xml, strings, sheet_method)
    write_parts(path, [(n, d, zipfile.ZIP_DEFLATED) for n, d in parts] + [sheet_part])


def head():
    return ('<?xml version="1.0" encoding="UTF-8"?><worksheet ' + NS + '><sheetData>').encode()


def tail():
    return b"</sheetData></worksheet>"


def hostile(d):
    os.makedirs(d, exist_ok=True)
    # A bomb of empty cells in one row: refused after the most cells a row
    # can have.
    def row_bomb():
        yield head() + b'<row r="1"><c r="A1" t="inlineStr"><is><t>x</t></is></c>'
        block = b"<c/>" * 250000
        for _ in range(10):  # 10 MB of cells
            yield block
        yield b"</row>" + tail()
    write_package(os.path.join(d, "bomb_row_of_empty_cells.xlsx"), row_bomb())
    # A bomb of rows, each with a name and then empty cells up to the last
    # column, squeezed with bzip2: refused once more is inflated than a
    # sheet may take.
    def rows_bomb():
        yield head()
        row = b"<row><c t=\"inlineStr\"><is><t>x</t></is></c>" + b"<c/>" * 16000 + b"</row>"
        for _ in range(64 * 1024 * 1024 // len(row)):
            yield row
        yield tail()
    write_package(os.path.join(d, "bomb_rows_bzip2.xlsx"), rows_bomb(),
                  sheet_method=zipfile.ZIP_BZIP2)
    # Every row a sheet can have, each with a value: refused at the row limit.
    def all_rows(n):
        yield head() + b'<row r="1"><c r="A1" t="inlineStr"><is><t>h</t></is></c></row>'
        row = b'<row><c t="b"><v>1</v></c><c t="inlineStr"><is><t>name</t></is></c></row>'
        for _ in range(n - 1):
            yield row
        yield tail()
    write_package(os.path.join(d, "rows_1048576.xlsx"), all_rows(1048576),
                  sheet_method=zipfile.ZIP_BZIP2)
    # The header and as many rows of data as a sheet may hold: read.
    write_package(os.path.join(d, "rows_at_limit.xlsx"), all_rows(200001),
                  sheet_method=zipfile.ZIP_BZIP2)
    # Rows of six long texts: refused once the sheet's text passes its limit.
    def long_texts():
        yield head()
        cell = "<c t=\"inlineStr\"><is><t>%s</t></is></c>" % ("参加抽奖人员名单" * 5)
        row = ("<row>" + cell * 6 + "</row>").encode()
        for _ in range(200001):
            yield row
        yield tail()
    write_package(os.path.join(d, "rows_of_long_texts.xlsx"), long_texts(),
                  sheet_method=zipfile.ZIP_BZIP2)
    # Row numbers past the sheet that wrap to small ones in 32 bits.
    write_package(os.path.join(d, "row_number_wraps.xlsx"), sheet(
        '<row r="1"><c r="A1" t="inlineStr"><is><t>h</t></is></c></row>'
        '<row r="4294967298"><c t="inlineStr"><is><t>wrapped</t></is></c></row>'))
    write_package(os.path.join(d, "cell_row_wraps.xlsx"), sheet(
        '<row r="1"><c r="A1" t="inlineStr"><is><t>h</t></is></c></row>'
        '<row><c r="A4294967298" t="inlineStr"><is><t>wrapped</t></is></c></row>'))
    # Entities that expand a thousand times a thousand times.
    write_package(os.path.join(d, "entity_expansion.xlsx"),
                  '<?xml version="1.0"?><!DOCTYPE worksheet [<!ENTITY a "aaaaaaaaaa">'
                  '<!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;">'
                  '<!ENTITY c "&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;">]><worksheet ' + NS +
                  '><sheetData><row r="1"><c t="inlineStr"><is><t>&c;</t></is></c></row>'
                  '</sheetData></worksheet>')
    # The sheet declared as 500 MB (local header and directory) but small.
    path = os.path.join(d, "declared_size_huge.xlsx")
    write_package(path, sheet('<row r="1"><c r="A1" t="inlineStr"><is><t>h</t></is></c></row>'
                              '<row r="2"><c r="A2"><v>1</v></c></row>'))
    data = bytearray(open(path, "rb").read())
    name = b"xl/worksheets/sheet1.xml"
    huge = (500 * 1024 * 1024).to_bytes(4, "little")
    for sig, size_at in ((b"PK\x03\x04", 22), (b"PK\x01\x02", 24)):
        at = 0
        while True:
            at = data.find(sig, at)
            if at < 0:
                break
            fn_at = at + (30 if sig == b"PK\x03\x04" else 46)
            if data[fn_at:fn_at + len(name)] == name:
                if data[at + size_at:at + size_at + 4] != b"\xff\xff\xff\xff":
                    data[at + size_at:at + size_at + 4] = huge
            at += 4
    open(path, "wb").write(bytes(data))


# --- Hostile markup: nesting, long tokens, many attributes ------------------------------


REL_TYPE = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/"


def rels_of(*rels):
    """Relationships part: (id, type, target) triples."""
    return ('<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.'
            'openxmlformats.org/package/2006/relationships">' +
            "".join('<Relationship Id="%s" Type="%s%s" Target="%s"/>' % (i, REL_TYPE, t, target)
                    for i, t, target in rels) + "</Relationships>")


def write_parts(path, parts):
    """parts: (name, data, method); data is bytes, text or a generator of
    bytes (streamed, as a zip64 member: it may pass 4 GB)."""
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        for name, data, method in parts:
            info = zipfile.ZipInfo(name, (2024, 1, 1, 0, 0, 0))
            info.compress_type = method
            if isinstance(data, (bytes, str)):
                z.writestr(info, data)
                continue
            with z.open(info, "w", force_zip64=True) as out:
                for chunk in data:
                    out.write(chunk)


def repeated(piece, count, block=1 << 16):
    """count copies of piece, in blocks."""
    chunk = piece * block
    for _ in range(count // block):
        yield chunk
    yield piece * (count % block)


def list_rows(n):
    """A heading row and n-1 rows of a participant list, as inline strings."""
    yield (b'<row r="1"><c r="A1" t="inlineStr"><is><t>h</t></is></c></row>')
    for r in range(2, n + 1):
        yield (b'<row r="%d"><c r="A%d"><v>%d</v></c><c r="B%d" t="inlineStr"><is><t>name'
               b'</t></is></c></row>' % (r, r, r, r))


def sheet_of(*pieces):
    """A sheet: its head, the pieces (bytes or generators), no tail."""
    yield head()
    for p in pieces:
        if isinstance(p, bytes):
            yield p
        else:
            yield from p


def hostile_markup(d):
    os.makedirs(d, exist_ok=True)
    base = [("[Content_Types].xml", CT, zipfile.ZIP_DEFLATED),
            ("_rels/.rels", RELS, zipfile.ZIP_DEFLATED)]
    plain_book = [("xl/workbook.xml", BOOK, zipfile.ZIP_DEFLATED),
                  ("xl/_rels/workbook.xml.rels", rels_of(("rId1", "worksheet",
                                                          "worksheets/sheet1.xml")),
                   zipfile.ZIP_DEFLATED)]
    small_sheet = ("xl/worksheets/sheet1.xml",
                   sheet('<row r="1"><c r="A1" t="inlineStr"><is><t>h</t></is></c></row>'),
                   zipfile.ZIP_DEFLATED)

    def with_sheet(name, *pieces, method=zipfile.ZIP_DEFLATED):
        write_parts(os.path.join(d, name), base + plain_book + [
            ("xl/worksheets/sheet1.xml", sheet_of(*pieces), method)])

    def with_book(name, book):
        write_parts(os.path.join(d, name), base + [
            ("xl/workbook.xml", book, zipfile.ZIP_DEFLATED),
            ("xl/_rels/workbook.xml.rels", rels_of(("rId1", "worksheet", "worksheets/sheet1.xml")),
             zipfile.ZIP_DEFLATED), small_sheet])

    book_head = ('<?xml version="1.0" encoding="UTF-8"?><workbook ' + NS + ' xmlns:r="http://'
                 'schemas.openxmlformats.org/officeDocument/2006/relationships">').encode()
    # One element opened ten million times and never closed: in the sheet,
    # in the workbook, and inside a cell after a thousand rows of a list.
    with_sheet("nested_sheet.xlsx", repeated(b"<a>", 10000000))
    with_book("nested_workbook.xlsx", (x for x in [book_head] + list(
        repeated(b"<a>", 20000000))))
    with_sheet("nested_after_rows.xlsx", list_rows(1000),
               b'<row r="1001"><c r="A1001" t="inlineStr"><is>',
               repeated(b"<r>", 11000000))
    # One attribute of 250 MB after 60,000 rows (so that the sheet may take
    # that much), and one of 60 MB in the workbook.
    with_sheet("long_attribute_sheet.xlsx", list_rows(60000),
               b'<row r="60001"><c r="A60001" t="', repeated(b"x", 250 * 1024 * 1024),
               b'"/></row>' + tail(), method=zipfile.ZIP_BZIP2)
    with_book("long_attribute_workbook.xlsx", (x for x in [book_head + b'<workbookPr date1904="']
                                               + list(repeated(b"x", 60 * 1024 * 1024)) +
                                               [b'"/></workbook>']))
    # A thousand attributes on one cell, in a short tag. (Two million, a
    # tag of 23 MB, are written by the test: they do not compress.)
    with_sheet("thousand_attributes.xlsx", b'<row r="1"><c r="A1"',
               b"".join(b' a%d=""' % i for i in range(1000)), b"/></row>" + tail())
    # A cell text of 30 MB, and a comment of 30 MB, in a list of two rows.
    with_sheet("long_text.xlsx", b'<row r="1"><c r="A1" t="inlineStr"><is><t>h</t>'
               b'</is></c></row><row r="2"><c r="A2" t="inlineStr"><is><t>',
               repeated(b"x", 30 * 1024 * 1024), b"</t></is></c></row>" + tail())
    with_sheet("long_comment.xlsx", b'<row r="1"><c r="A1" t="inlineStr"><is><t>h</t>'
               b'</is></c></row><!--', repeated(b"x", 30 * 1024 * 1024),
               b'--><row r="2"><c r="A2"><v>2</v></c></row>' + tail())

    # Damage that must not read as data. A participant list with shared
    # strings and number cells.
    strings = sst("编号", "姓名", "电话号码", "0001", "张三", "0002", "李四")
    rows = ('<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c>'
            '<c r="C1" t="s"><v>2</v></c></row>'
            '<row r="2"><c r="A2" t="s"><v>3</v></c><c r="B2" t="s"><v>4</v></c>'
            '<c r="C2"><v>13800138000</v></c></row>'
            '<row r="3"><c r="A3" t="s"><v>5</v></c><c r="B3" t="s"><v>6</v></c>'
            '<c r="C3"><v>13900139000</v></c></row>')
    full_rels = rels_of(("rId1", "worksheet", "worksheets/sheet1.xml"),
                        ("rId2", "sharedStrings", "sharedStrings.xml"),
                        ("rId3", "styles", "styles.xml"))
    styles = ('<?xml version="1.0" encoding="UTF-8"?><styleSheet ' + NS + '><cellXfs count="1">'
              '<xf numFmtId="0"/></cellXfs></styleSheet>')

    def listing(name, leave_out=(), stored=False):
        parts = base + [("xl/workbook.xml", BOOK, zipfile.ZIP_DEFLATED),
                        ("xl/_rels/workbook.xml.rels", full_rels, zipfile.ZIP_DEFLATED),
                        ("xl/sharedStrings.xml", strings, zipfile.ZIP_DEFLATED),
                        ("xl/styles.xml", styles, zipfile.ZIP_DEFLATED),
                        ("xl/worksheets/sheet1.xml", sheet(rows),
                         zipfile.ZIP_STORED if stored else zipfile.ZIP_DEFLATED)]
        path = os.path.join(d, name)
        write_parts(path, [p for p in parts if p[0] not in leave_out])
        return path

    listing("list_sound.xlsx")
    # The sheet stored, one digit of c2 changed and its CRC kept: 13500138000.
    path = listing("bad_crc_sheet.xlsx", stored=True)
    data = bytearray(open(path, "rb").read())
    at = data.index(b"<v>13800138000</v>")
    data[at + 5] = ord("5")
    open(path, "wb").write(bytes(data))
    # Parts the workbook names but the package lacks.
    listing("missing_shared_strings.xlsx", leave_out=("xl/sharedStrings.xml",))
    listing("missing_styles.xlsx", leave_out=("xl/styles.xml",))
    listing("missing_workbook_rels.xlsx", leave_out=("xl/_rels/workbook.xml.rels",))


if __name__ == "__main__":
    main()
