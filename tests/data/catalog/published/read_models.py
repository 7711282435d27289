#!/usr/bin/env python3
"""A second, independent reading of the published INF files: every model
line as (file, decoration, description, ids), written to expected_models.tsv,
which the catalog tests compare the INF reader with. Also prints the largest
model line count and expanded value length found (the reader's caps must be
far above them).

    python3 tests/data/catalog/published/read_models.py
"""
import pathlib
import re

HERE = pathlib.Path(__file__).resolve().parent


def decode(data):
    if data[:2] == b"\xff\xfe":
        return data[2:].decode("utf-16-le", "replace")
    if data[:3] == b"\xef\xbb\xbf":
        return data[3:].decode("utf-8", "replace")
    return data.decode("cp1252", "replace")


def uncomment(line):
    quoted = False
    for i, c in enumerate(line):
        if c == '"':
            quoted = not quoted
        elif c == ";" and not quoted:
            return line[:i]
    return line


def logical_lines(text):
    pending = ""
    for raw in re.split(r"\r\n|\n|\r", text):
        line = uncomment(raw).strip()
        if line.endswith("\\"):
            pending += line[:-1]
            continue
        line, pending = (pending + line).strip(), ""
        if line:
            yield line


def fields(text):
    """Comma-separated fields, quotes removed ("" inside them is one ")."""
    out, cur, quoted, kept, i = [], "", False, 0, 0
    while i < len(text):
        c = text[i]
        if c == '"':
            if quoted and text[i + 1:i + 2] == '"':
                cur += '"'
                kept = len(cur)
                i += 2
                continue
            quoted = not quoted
            kept = len(cur)
        elif c == "," and not quoted:
            out.append(cur[:kept] + cur[kept:].rstrip())
            cur, kept = "", 0
        elif quoted or cur or c not in " \t":
            cur += c
            if quoted:
                kept = len(cur)
        i += 1
    out.append(cur[:kept] + cur[kept:].rstrip())
    return out


def split_key(line):
    quoted = False
    for i, c in enumerate(line):
        if c == '"':
            quoted = not quoted
        elif c == "=" and not quoted:
            return line[:i], line[i + 1:]
        elif c == "," and not quoted:
            break
    return None, line


def read(text):
    sections, current = {}, None
    for line in logical_lines(text):
        if line.startswith("["):
            current = sections.setdefault(line[1:line.index("]")].strip().upper(), [])
        elif current is not None:
            current.append(split_key(line))
    strings = {}
    for name in ("STRINGS.0409", "STRINGS.0009", "STRINGS.409", "STRINGS.9", "STRINGS"):
        if name in sections:
            for key, value in sections[name]:
                if key is not None:
                    strings.setdefault(fields(key)[0].upper(), fields(value)[0] if value.count(",") == 0 else
                                       "".join(fields(value.replace(",", "\x00"))).replace("\x00", ","))
            break
    longest = [0]

    def expand(s):
        out = re.sub(r"%([^%]*)%", lambda m: "%" if not m.group(1) else
                     strings.get(m.group(1).upper(), m.group(0)).replace("%%", "%"), s)
        longest[0] = max(longest[0], len(out))
        return out

    models, seen = [], set()
    for key, value in sections.get("MANUFACTURER", []):
        f = [expand(x) for x in fields(value)]
        if not f or not f[0]:
            continue
        for decoration in [""] + [d for d in f[1:] if d]:
            name = (f[0] + "." + decoration if decoration else f[0]).upper()
            if name in seen or name not in sections:
                continue
            seen.add(name)
            for mkey, mvalue in sections[name]:
                mf = [expand(x) for x in fields(mvalue)]
                if mkey is None or not mf or not mf[0]:
                    continue
                ids = [mf[1] if len(mf) > 1 else ""] + [i for i in mf[2:] if i]
                if ids == [""]:
                    continue
                models.append((decoration, expand(fields(mkey)[0]), ids))
    return models, longest[0]


def main():
    rows, most_lines, most_chars = [], (0, ""), (0, "")
    for path in sorted(HERE.rglob("*.inf")):
        rel = path.relative_to(HERE).as_posix()
        models, longest = read(decode(path.read_bytes()))
        most_lines = max(most_lines, (len(models), rel))
        most_chars = max(most_chars, (longest, rel))
        for decoration, description, ids in models:
            rows.append("\t".join([rel, decoration, description, "|".join(ids)]))
    (HERE / "expected_models.tsv").write_text("\n".join(rows) + "\n", encoding="utf-8")
    print(f"{len(rows)} model lines; most in one file: {most_lines}; longest expanded value: {most_chars}")


if __name__ == "__main__":
    main()
