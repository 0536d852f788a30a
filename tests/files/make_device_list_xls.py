#!/usr/bin/env python3
"""Makes device_list.xls, the binary-format fixture of the workbook import test.

Run once by hand with Debian's /usr/bin/python3 and python3-xlwt; the result is committed, so
the tests need neither xlwt nor a spreadsheet application.
"""
import os
import xlwt

TITLES = ["设备ID", "设备序列号", "设备型号", "车牌号", "手机号", "APP版本", "MCU版本",
          "4G模块版本", "GNSS版本", "智能模块版本", "是否自动升级", "配置指令", "上传日志",
          "上传录像索引", "上传打印文件", "上传行车信息文件"]
ROWS = [
    # A flag typed as the number 1, a phone number as a number, a comma in a text.
    ["ID-1", "SN001", "T1", "京A12345", 13800138000, "A1.0", "M1.0", "F1.0", "G1.0", "S1.0",
     1, "set apn,cmnet", "1", "0", 0, "1"],
    # A row without a serial number is not imported.
    ["ID-X", "", "T1", "", "", "", "", "", "", "", "1", "", "1", "1", "1", "1"],
    ["ID-2", "SN002", "T2", "粤B00001", "13900139000", "A2.0", "M2.0", "F2.0", "G2.0", "S2.0",
     "0", "", "0", "1", "1", "0"],
]

book = xlwt.Workbook(encoding="utf-8")
sheet = book.add_sheet("sheet1")
for r, row in enumerate([TITLES] + ROWS):
    for c, value in enumerate(row):
        if value != "":
            sheet.write(r, c, value)
book.add_sheet("other").write(0, 0, "not read")
book.save(os.path.join(os.path.dirname(os.path.abspath(__file__)), "device_list.xls"))
