#!/usr/bin/env python3
"""Writes doc/sample.txt: a small Shift_JIS (cp932) sales list with CR LF
line ends, in fixed columns, for the README demo:

  columns  1-6   customer code
           8-17  date (YYYY/MM/DD)
          19-28  amount, right-aligned with thousands separators
          30-45  name in halfwidth katakana
          47-    name in kanji
"""
import os
import random

FAMILY = [("ﾔﾏﾀﾞ", "山田"), ("ｽｽﾞｷ", "鈴木"), ("ｻﾄｳ", "佐藤"), ("ﾀﾅｶ", "田中"),
          ("ﾜﾀﾅﾍﾞ", "渡辺"), ("ｲﾄｳ", "伊藤"), ("ﾅｶﾑﾗ", "中村"), ("ｺﾊﾞﾔｼ", "小林"),
          ("ｶﾄｳ", "加藤"), ("ﾖｼﾀﾞ", "吉田"), ("ﾏﾂﾓﾄ", "松本"), ("ｲﾉｳｴ", "井上")]
GIVEN = [("ﾀﾛｳ", "太郎"), ("ﾊﾅｺ", "花子"), ("ｹﾝｼﾞ", "健二"), ("ﾕｳｺ", "裕子"),
         ("ｻﾄｼ", "聡"), ("ﾐﾎ", "美穂"), ("ﾋﾛｼ", "博"), ("ｱｷｺ", "明子"),
         ("ﾏｺﾄ", "誠"), ("ﾖｳｺ", "洋子")]


def main():
    rng = random.Random(932)
    lines = []
    for _ in range(40):
        code = "C%05d" % rng.randrange(1, 400)
        date = "2024/%02d/%02d" % (rng.randrange(1, 13), rng.randrange(1, 29))
        amount = "{:,}".format(rng.randrange(1, 2000) * 100)
        (fk, fj), (gk, gj) = rng.choice(FAMILY), rng.choice(GIVEN)
        kana = (fk + " " + gk).ljust(16)
        lines.append("%s %s %10s %s %s %s" % (code, date, amount, kana, fj, gj))
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    with open(os.path.join(root, "doc", "sample.txt"), "wb") as f:
        f.write("".join(line + "\r\n" for line in lines).encode("cp932"))


if __name__ == "__main__":
    main()
