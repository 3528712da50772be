#!/usr/bin/env python3
"""A grid of puts into Pinbus's properties (Address, Bits, Value): texts in every form the
platform's number parsing takes or refuses, and doubles at the rounding and overflow edges of each
property's type. The same puts are made through the native control in ocxhost and, under Wine,
through the Wine build by a compiled client (pinbus_numbers.exe), where the platform's oleaut32
converts them; each must give the same answer.

  number_grid.py write GRID OCXHOST_COMMANDS
      the grid for the client and the same puts as ocxhost commands
  number_grid.py compare GRID OCXHOST_OUTPUT CLIENT_OUTPUT
      turns ocxhost's answers into the client's lines and compares them line for line; prints
      how many puts agreed, and every one that did not
"""
import re
import sys

# Texts: the plain forms, the platform's separators, currency, parentheses and trailing signs,
# white space between sign and digits, &H and &O, exponents, and texts that are no number.
TEXTS = [
    "888", "0", "-0", "+5", "-5", " 12 ", "\v5\f", "5\r", "\u00a05\u00a0", ".5", "5.", "-.5",
    "1.5", "2.5", "3.5", "-2.5", "-1.5", "0.5", "0.49999999999999999", "1e2", "1E2", "1.5E1",
    "5e-1", "1e+2", "00012", "&H37A", "&h37a", "&O1572", "&HFFFF", "&H8000", "&H7FFF",
    "&HFFFFFFFF", "&H80000000", "&H100000000", "&O37777777777", "&H10-", "-&H10", "(&H10)",
    "1,000", "1,000,000", "1,00", "1,", "1,,0", "0,888", "8,8,8", "1,000.5", "1,5e1", "5e3,",
    "1,000 ,", "$5", "$ 5", "5$", "5 $", "$5$", "-$5", "$-5", "$ -5", "- $5", "$.5", "$888.50",
    "$1,000.50", "($1,000)", "(5)", "( 5 )", "(-5)", "-(5)", "(+5)", "(5)-", "(5-)", "($5)",
    "(888)", "(5e3)", "5-", "5 -", "5+", "+5-", "-5+", "5--", "5++", "5-+", "+-5", "-+5",
    "1,000-", "888-", "2.5-", "1.5-", "5e3-", "5$-$", " -  5", "  -  5  ", "- 5", "+ 5",
    "- 888", "32767", "32768", "-32768", "-32769", "32767.5", "-32768.5", "-32768.51",
    "(32768)", "32,767", "2147483647", "2147483648", "-2147483648", "-2147483649",
    "2147483647.5", "-2147483648.5", "2,147,483,647", "(2147483648)", "99999999999999999999",
    "1e10", "1e308", "1e309", "1e-400",
    # No numbers.
    "", " ", ".", "-", "+", "$", "()", "(", ",5", "$,5", "-,5", "$$5", "--5", "++5", "-5-",
    "+5+", "((5))", "(5", "5)", "-(5)-", "$5e3", "5 e3", "5e 3", "5-e3", "5e", "5e+", ".e3",
    "1 000", "5 5", "5. 5", "5..5", "5.5.5", "1e2.5", "&H", "&O8", "&H 10", "&H10$", "$&H10",
    "&H10,", "&10", "0x10", "1d2", "12abc", "True", "Infinity", "NaN", "\uff11\uff12", "5 DM",
]

# Doubles at the rounding edges (halves to even) and the overflow edges of a short and a long.
DOUBLES = [
    "0.5", "1.5", "2.5", "-0.5", "-1.5", "-2.5", "7.5", "8.5", "8.4", "15.5", "16.5", "888.5",
    "889.5", "0.49999999999999994", "32767.5", "32767.499999999996", "32766.5", "-32768.5",
    "-32768.500000000007", "-32767.5", "65535.5", "2147483646.5", "2147483647.4",
    "2147483647.5", "-2147483648.5", "-2147483648.5000005", "-2147483647.5", "2147483648",
    "-0.0", "1e10", "-1e10", "1.7976931348623157e308", "4.9e-324",
]

PROPERTIES = ["Address", "Bits", "Value"]


def cases():
    for prop in PROPERTIES:
        if prop == "Value":
            # Value's cycles go to the data register a word at a time, so that the port trace
            # shows each converted value.
            yield ("Address", "SETUP", "888")
            yield ("Bits", "SETUP", "16")
        for text in TEXTS:
            yield (prop, "BSTR", text)
        for number in DOUBLES:
            yield (prop, "R8", number)
        # Back to where the next property's puts begin.
        yield ("Address", "SETUP", "888")
        yield ("Bits", "SETUP", "8")


def write(grid_path, commands_path):
    with open(grid_path, "w", encoding="utf-8", newline="\n") as grid, \
            open(commands_path, "w", encoding="utf-8", newline="\n") as commands:
        commands.write("create PINBUS.PinbusCtrl.1\n")
        for prop, kind, value in cases():
            assert "\t" not in value and "\n" not in value and '"' not in value
            grid.write("%s\t%s\t%s\n" % (prop, kind, value))
            if kind == "SETUP":
                commands.write("put %s %s VT_I4\n" % (prop, value))
            elif kind == "R8":
                commands.write("put %s %s VT_R8\nget %s\n" % (prop, value, prop))
            else:
                commands.write('put %s "%s" VT_BSTR\nget %s\n' % (prop, value, prop))


def answer(line):
    """ocxhost's line for a put or a get as the client prints it: S_OK, the HRESULT, or the
    variant."""
    if line == "S_OK" or line.startswith("VT_"):
        return line
    m = re.match(r"error (0x[0-9A-Fa-f]{8})", line)
    return m.group(1)[:2] + m.group(1)[2:].upper() if m else line


def compare(grid_path, native_path, client_path):
    with open(native_path, encoding="utf-8") as f:
        native = f.read().split("\n")
    with open(client_path, encoding="utf-8") as f:
        client = [l for l in f.read().split("\n") if l]
    with open(grid_path, encoding="utf-8") as f:
        grid = [l.split("\t", 2) for l in f.read().split("\n") if l]
    at = 1  # after create's line
    if not native[0].startswith("created") and "error" in native[0]:
        print("ocxhost could not create the control: %s" % native[0])
        return 1
    ours = []
    for prop, kind, value in grid:
        if kind == "SETUP":
            at += 1
            continue
        put, get = answer(native[at]), answer(native[at + 1])
        at += 2
        ours.append("%s\t%s\t%s\t%s\t%s" % (prop, kind, value, put, get))
    failures = 0
    if len(client) != len(ours):
        print("the client answered %d puts, ocxhost %d" % (len(client), len(ours)))
        failures += 1
    for mine, theirs in zip(ours, client):
        if mine != theirs:
            print("differs:\n  native %r\n  wine   %r" % (mine, theirs))
            failures += 1
    print("%d of %d puts answered alike" % (len(ours) - failures, len(ours)))
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "write":
        write(sys.argv[2], sys.argv[3])
    elif len(sys.argv) == 5 and sys.argv[1] == "compare":
        sys.exit(compare(sys.argv[2], sys.argv[3], sys.argv[4]))
    else:
        sys.exit(__doc__)
