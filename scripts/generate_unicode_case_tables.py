#!/usr/bin/env python3
"""Writes src/windows/registry/unicode_case_tables.cpp from the Unicode
Character Database, as Debian's unicode-data package installs it.

The helper compares registry value names by their full default lowercase
form. The build must not depend on the database being installed, so the
tables are generated once and committed; run this again only to move to
another Unicode version:

    apt-get install unicode-data
    python3 scripts/generate_unicode_case_tables.py [database folder] [output file]

From the database it takes:
- UnicodeData.txt: the simple lowercase mapping (field 13);
- SpecialCasing.txt: the unconditional full lowercase mappings, which replace
  the simple ones (U+0130 becomes two code points), and a check that the one
  language-insensitive conditional lowercase mapping is still Final_Sigma of
  U+03A3, which the code applies itself;
- DerivedCoreProperties.txt: Cased and Case_Ignorable, the two properties the
  Final_Sigma context is defined by.
Language-sensitive mappings (Lithuanian, Turkish, Azeri) are not part of the
default mapping and are left out.
"""

import re
import sys
from pathlib import Path

DEFAULT_DATABASE = Path("/usr/share/unicode")
REPOSITORY = Path(__file__).resolve().parent.parent
DEFAULT_OUTPUT = REPOSITORY / "src/windows/registry/unicode_case_tables.cpp"
LINE_WIDTH = 100


def data_lines(path):
    """The fields of each non-comment line, stripped."""
    for line in path.read_text(encoding="utf-8").splitlines():
        content = line.split("#", 1)[0].strip()
        if content:
            yield [field.strip() for field in content.split(";")]


def file_version(path):
    first_line = path.read_text(encoding="utf-8").splitlines()[0]
    match = re.match(r"# \S+-(\d+\.\d+\.\d+)\.txt", first_line)
    if not match:
        sys.exit(f"{path}: no version in the first line")
    return match.group(1)


def code_points(text):
    return [int(part, 16) for part in text.split()]


def full_lowercase(database):
    """Every code point whose full lowercase mapping is not itself."""
    mapping = {}
    for fields in data_lines(database / "UnicodeData.txt"):
        if fields[13]:
            mapping[int(fields[0], 16)] = [int(fields[13], 16)]

    conditional = []
    for fields in data_lines(database / "SpecialCasing.txt"):
        code_point, lower = int(fields[0], 16), code_points(fields[1])
        condition = fields[4] if len(fields) > 4 and fields[4] else None
        if condition is None:
            if lower == [code_point]:
                mapping.pop(code_point, None)
            else:
                mapping[code_point] = lower
        elif not re.match(r"^[a-z]{2}\b", condition):
            conditional.append((code_point, lower, condition))
    if conditional != [(0x03A3, [0x03C2], "Final_Sigma")]:
        sys.exit(f"unexpected language-insensitive conditions: {conditional}")
    return mapping


def property_ranges(database, name):
    """The code point ranges of one derived property, adjacent ones merged."""
    ranges = []
    for fields in data_lines(database / "DerivedCoreProperties.txt"):
        if fields[1] != name:
            continue
        first, _, last = fields[0].partition("..")
        ranges.append([int(first, 16), int(last or first, 16)])
    ranges.sort()
    merged = [ranges[0]]
    for first, last in ranges[1:]:
        if first <= merged[-1][1] + 1:
            merged[-1][1] = max(merged[-1][1], last)
        else:
            merged.append([first, last])
    return merged


def rows(entries, one_per_line=False):
    """The entries, indented, as many on a line as fit."""
    lines = []
    for entry in entries:
        if lines and not one_per_line and len(lines[-1]) + 1 + len(entry) <= LINE_WIDTH:
            lines[-1] += " " + entry
        else:
            lines.append("    " + entry)
    return "\n".join(lines)


def hex_code_point(value):
    return f"0x{value:04X}"


def u32_literal(values):
    return "".join(f"\\U{value:08X}" for value in values)


def main():
    database = Path(sys.argv[1]) if len(sys.argv) > 1 else DEFAULT_DATABASE
    output = Path(sys.argv[2]) if len(sys.argv) > 2 else DEFAULT_OUTPUT
    versions = {file_version(database / name)
                for name in ("SpecialCasing.txt", "DerivedCoreProperties.txt")}
    if len(versions) != 1:
        sys.exit(f"the database files are of different versions: {sorted(versions)}")
    version = versions.pop()

    lowercase = full_lowercase(database)
    single = [
        f"{{{hex_code_point(c)}, {hex_code_point(m[0])}}},"
        for c, m in sorted(lowercase.items()) if len(m) == 1
    ]
    expanding = [
        f"{{{hex_code_point(c)}, U\"{u32_literal(m)}\"}},"
        for c, m in sorted(lowercase.items()) if len(m) > 1
    ]

    def range_rows(name):
        entries = [f"{{{hex_code_point(a)}, {hex_code_point(b)}}},"
                   for a, b in property_ranges(database, name)]
        return rows(entries)

    output.write_text(f"""\
// Generated by scripts/generate_unicode_case_tables.py from the Unicode
// Character Database {version} (UnicodeData.txt, SpecialCasing.txt,
// DerivedCoreProperties.txt). Do not edit; run the script again instead.
#include "windows/registry/unicode_case_tables.h"

namespace installer_helper::unicode_case {{
namespace {{

constexpr LowercaseMapping single_lowercase[] = {{
{rows(single)}
}};

constexpr ExpandingLowercase expanding_lowercase[] = {{
{rows(expanding, one_per_line=True)}
}};

constexpr CodePointRange cased[] = {{
{range_rows("Cased")}
}};

constexpr CodePointRange case_ignorable[] = {{
{range_rows("Case_Ignorable")}
}};

}}  // namespace

const std::string_view UNICODE_VERSION = "{version}";
const std::span<const LowercaseMapping> SINGLE_LOWERCASE = single_lowercase;
const std::span<const ExpandingLowercase> EXPANDING_LOWERCASE = expanding_lowercase;
const std::span<const CodePointRange> CASED = cased;
const std::span<const CodePointRange> CASE_IGNORABLE = case_ignorable;

}}  // namespace installer_helper::unicode_case
""", encoding="utf-8")
    print(f"{output}: Unicode {version}, "
          f"{len(single)} single and {len(expanding)} expanding mappings")


if __name__ == "__main__":
    main()
