#!/usr/bin/env python3
"""Writes a copy of a C++ source whose plain narrow literals hold local text.

The project compiles its client code with GCC's -fexec-charset=GB18030, so a
literal such as "提取码" is six GB18030 bytes in the program. clang accepts no
execution charset but UTF-8; the fuzz build compiles this copy instead, in which
every non-ASCII character of an unprefixed string literal is written as the
octal escapes of its GB18030 bytes. The program then holds the same bytes as the
GCC build. u8, u, U and L literals and comments stay as they are; a `#line`
keeps diagnostics and debug information pointing at the original file.

usage: local_text_literals.py SOURCE OUTPUT
"""

import sys


def escaped(char):
    if ord(char) < 0x80:
        return char
    return "".join("\\%03o" % byte for byte in char.encode("gb18030"))


def fail(path, line, what):
    sys.exit("%s:%d: %s: the fuzz build cannot give it the GCC build's bytes" % (path, line, what))


def rewrite(text, path):
    out = []
    i = 0
    n = len(text)
    line = 1

    def copy_until(end):
        nonlocal i, line
        out.append(text[i:end])
        line += text.count("\n", i, end)
        i = end

    while i < n:
        c = text[i]
        if text.startswith("//", i):
            end = text.find("\n", i)
            copy_until(n if end < 0 else end)
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            copy_until(n if end < 0 else end + 2)
        elif c.isalpha() or c == "_" or c.isdigit():
            # An identifier or a number; a number may hold ' digit separators.
            j = i + 1
            number = c.isdigit()
            while j < n and (text[j].isalnum() or text[j] == "_" or (number and text[j] == "'")):
                j += 1
            word = text[i:j]
            if j < n and text[j] in "\"'" and word in ("u8", "u", "U", "L", "R", "u8R", "uR", "UR", "LR"):
                copy_until(j)
                literal_end = skip_literal(text, j, raw=word.endswith("R"))
                if word == "R" and not text[j:literal_end].isascii():
                    fail(path, line, "a raw narrow literal with non-ASCII text")
                copy_until(literal_end)
            else:
                copy_until(j)
        elif c in "\"'":
            end = skip_literal(text, i, raw=False)
            body = text[i:end]
            if c == "'" and not body.isascii():
                fail(path, line, "a character literal with non-ASCII text")
            out.append("".join(escaped(ch) for ch in body))
            line += body.count("\n")
            i = end
        else:
            copy_until(i + 1)
    return "".join(out)


def skip_literal(text, start, raw):
    """The index just past the string or character literal starting at start."""
    quote = text[start]
    if raw:
        open_paren = text.index("(", start)
        closing = ")" + text[start + 1:open_paren] + '"'
        return text.index(closing, open_paren) + len(closing)
    i = start + 1
    while i < len(text) and text[i] != quote:
        i += 2 if text[i] == "\\" else 1
    return i + 1


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    source, output = sys.argv[1], sys.argv[2]
    with open(source, encoding="utf-8") as f:
        text = f.read()
    rewritten = '#line 1 "%s"\n' % source + rewrite(text, source)
    with open(output, "w", encoding="utf-8") as f:
        f.write(rewritten)


if __name__ == "__main__":
    main()
