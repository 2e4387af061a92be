#!/usr/bin/env python3
"""Plans the prefix headers that spare clang-tidy from parsing Qt's headers once a file.

usage: tools/tidy_prefixes.py ROOT BUILD OUT FILE...

The files that share their compile flags (all but the include folders of our own, which hold no
header of Qt's) share a prefix: the Qt headers that they and our headers include, as far as the
flags' system folders have them. Writes OUT/prefix-N.h and OUT/prefix-N.args (the flags, one a
line, to compile it with) for each set of at least MinFiles files, and prints a line
"FILE<TAB>OUT/prefix-N.pch" for each file that gets one.
"""
import json
import os
import re
import shlex
import sys

MinFiles = 4  # fewer would not win back the prefix's own compile

root, build, out = sys.argv[1:4]
wanted = set(sys.argv[4:])
include = re.compile(r'^\s*#\s*include\s*<(Q[A-Za-z]*)>', re.M)


def qt_includes(path):
    try:
        with open(path, encoding='utf-8', errors='replace') as f:
            return include.findall(f.read())
    except OSError:
        return []


def flags_of(entry):
    """The command's flags without the compiler, its input and output, split into the
    prefix's key and the system include folders."""
    args = shlex.split(entry['command'])[1:] if 'command' in entry else entry['arguments'][1:]
    kept, skip = [], False
    for a in args:
        if skip:
            skip = False
            continue
        if a in ('-o', '-c', '-I'):
            skip = True
            continue
        if a.startswith('-o') or a.startswith('-I') or a == entry['file']:
            continue
        kept.append(a)
    systems = [kept[i + 1] for i, a in enumerate(kept[:-1]) if a == '-isystem']
    return kept, systems


with open(os.path.join(build, 'compile_commands.json'), encoding='utf-8') as f:
    entries = [e for e in json.load(f) if e['file'] in wanted]

ours_headers = []
for folder, _, names in os.walk(root):
    if os.path.relpath(folder, root).split(os.sep)[0].startswith(('build', '.')):
        continue
    ours_headers += [os.path.join(folder, n) for n in names if n.endswith('.h')]
from_headers = sorted({q for h in ours_headers for q in qt_includes(h)})

groups = {}
for e in entries:
    kept, systems = flags_of(e)
    groups.setdefault(tuple(kept), (systems, []))[1].append(e['file'])

os.makedirs(out, exist_ok=True)
for n, (key, (systems, files)) in enumerate(sorted(groups.items(), key=lambda g: g[1][1])):
    if len(files) < MinFiles:
        continue
    names = sorted(set(from_headers).union(*(qt_includes(p) for p in files)))
    present = [q for q in names if any(os.path.isfile(os.path.join(s, q)) for s in systems)]
    if not present:
        continue
    base = os.path.join(out, 'prefix-%d' % n)
    with open(base + '.h', 'w', encoding='utf-8') as f:
        f.writelines('#include <%s>\n' % q for q in present)
    with open(base + '.args', 'w', encoding='utf-8') as f:
        f.writelines(a + '\n' for a in key)
    for p in files:
        print('%s\t%s.pch' % (p, base))
