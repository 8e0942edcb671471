#!/usr/bin/env python3
"""Writes the manual page of one program from docs/man/ivr.1.in.

SYNOPSIS and OPTIONS are made from the program's own --help, so the page
cannot say other than --help does; CONFIGURATION KEYS from the table under
the heading "Configuration keys" of README.md (columns name, type, default,
meaning). Fails when any of them cannot be found.

Usage: tools/make-man.py PROGRAM [OUT]   (PROGRAM: a built ivr-orvel or
ivr-pelion; OUT: default standard output)
"""
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# What differs between the two programs' pages.
PROGRAMS = {
    "ivr-orvel": {"DIALOGUE": "the caller may type the document straight away at the first question",
                  "CONFIG": "orvel.json", "OTHER": "ivr-pelion"},
    "ivr-pelion": {"DIALOGUE": "the caller presses 2, then types the document",
                   "CONFIG": "pelion.json", "OTHER": "ivr-orvel"},
}


def fail(text):
    sys.exit("make-man: " + text)


def roff(text):
    """Plain text for roff: backslashes, hyphens and a leading dot or quote escaped."""
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return "\\&" + text if text[:1] in (".", "'") else text


def marked(words):
    """Option names in bold, upper-case placeholders in italics, the rest plain."""
    shown = []
    for word in words.split(" "):
        match = re.match(r"^([\[]*)(.*?)([\].,;]*)$", word)
        lead, core, tail = match.groups()
        if core.startswith("-") and len(core) > 1:
            core = "\\fB" + roff(core) + "\\fR"
        elif re.match(r"^(\[?[A-Z][A-Z0-9_.]*[:\]]*)+$", core) or core.startswith("mark::"):
            core = "\\fI" + roff(core) + "\\fR"
        else:
            core = roff(core)
        shown.append(roff(lead) + core + roff(tail))
    return " ".join(shown)


def read_help(program):
    done = subprocess.run([program, "--help"], capture_output=True, text=True, timeout=30)
    if done.returncode != 0:
        fail("%s --help exited with %d" % (program, done.returncode))
    return done.stdout.splitlines()


def synopsis(lines, name):
    out = []
    for line in lines:
        if not line.strip():
            break
        text = line.strip()
        if text.startswith("Usage: "):
            text = text[len("Usage: "):]
        if text.startswith(name + " "):
            if out:
                out.append(".br")
            out.append(".B " + name)
            text = text[len(name) + 1:]
        out.append(marked(text))
    if not out:
        fail("no Usage: lines in --help")
    return "\n".join(out)


def options(lines):
    """Every heading ("Options:") and entry ("  -e, --emulator  text") after
    the usage and the opening paragraph, up to the first plain paragraph
    after them (the exit status, which the page says in full)."""
    out = []
    entries = 0
    started = False
    for line in lines:
        if not line.strip():
            continue
        if not line.startswith(" "):
            if line.endswith(":") or re.match(r"^[A-Z][^:]*\(.*\):$", line):
                started = True
                title, _, note = line[:-1].partition(" (")
                out.append(".SS " + roff(title))
                if note:
                    out.append(roff("(" + note))
                continue
            if started:
                break
            continue
        if not started:
            continue
        if line.startswith("  ") and not line.startswith("   "):
            term, _, text = line.strip().partition("  ")
            out.append(".TP")
            out.append(marked(term.strip()))
            entries += 1
            if text.strip():
                out.append(roff(text.strip()))
        else:
            out.append(roff(line.strip()))
    if entries == 0:
        fail("no options found in --help")
    return "\n".join(out)


def keys(readme):
    """The markdown table under the heading "Configuration keys"."""
    rows = []
    inside = False
    for line in open(readme, encoding="utf-8"):
        line = line.rstrip("\n")
        if re.match(r"^#+\s+Configuration keys\s*$", line):
            inside = True
            continue
        if not inside:
            continue
        if line.startswith("#"):
            break
        if line.startswith("|"):
            rows.append([cell.strip() for cell in line.strip().strip("|").split("|")])
        elif rows:
            break
    if len(rows) < 3:
        fail("no table under a heading \"Configuration keys\" in " + readme)
    heading = [cell.lower() for cell in rows[0]]
    # README heads the key column "Key"; "Name" is read too.
    if heading[:4] not in (["name", "type", "default", "meaning"], ["key", "type", "default", "meaning"]):
        fail("the configuration keys table's columns are %s, not name, type, default, meaning" % rows[0])
    out = []
    for name, kind, default, meaning in (row[:4] for row in rows[2:]):
        out.append(".TP")
        out.append("\\fB%s\\fR (%s%s)" % (roff(plain(name)), roff(plain(kind)),
                                        "" if plain(default) in ("", "-", "—", "none") else ", default " + roff(plain(default))))
        out.append(roff(plain(meaning)))
    return "\n".join(out)


def plain(cell):
    """Markdown cell text without code marks and emphasis."""
    return re.sub(r"\*\*?|`", "", cell).replace("\\|", "|")


def version(program):
    done = subprocess.run([program, "--version"], capture_output=True, text=True, timeout=30)
    match = re.search(r"AGI ([0-9][0-9.]*)", done.stderr)
    if not match:
        fail("no version in %s --version" % program)
    return match.group(1)


def main():
    if len(sys.argv) not in (2, 3):
        fail("usage: tools/make-man.py PROGRAM [OUT]")
    program = sys.argv[1]
    name = os.path.basename(program)
    if name not in PROGRAMS:
        fail("no page for %s" % name)
    lines = read_help(program)
    values = dict(PROGRAMS[name])
    values.update({"NAME": name, "UPPER": name.upper(), "VERSION": version(program),
                   "SYNOPSIS": synopsis(lines, name), "OPTIONS": options(lines),
                   "KEYS": keys(os.path.join(ROOT, "README.md"))})
    page = open(os.path.join(ROOT, "docs", "man", "ivr.1.in"), encoding="utf-8").read()
    page = re.sub(r"@([A-Z]+)@", lambda match: values[match.group(1)], page)
    if len(sys.argv) == 3:
        with open(sys.argv[2], "w", encoding="utf-8") as out:
            out.write(page)
    else:
        sys.stdout.write(page)


main()
