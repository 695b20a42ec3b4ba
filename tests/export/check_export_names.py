#!/usr/bin/python3
"""Reads the CSV, JSON and SVG exports of a folder with independent parsers and checks that every
name comes back as the naming rule says: valid UTF-8 unchanged, anything else read as
Windows-1252 (its five undefined bytes as the C1 controls of the same number); in XML, the
characters XML 1.0 forbids replaced by U+FFFD.

Usage: check_export_names.py FOLDER  (holding names.hex, n.csv, n.json, n.svg)
Exit status 0 when all agree; otherwise the first mismatches on standard output."""
import csv, io, json, re, subprocess, sys
import xml.etree.ElementTree as ET

folder = sys.argv[1]


def as_text(raw):
    try:
        return raw.decode('utf-8')
    except UnicodeDecodeError:
        return ''.join(chr(b) if b in (0x81, 0x8D, 0x8F, 0x90, 0x9D) else bytes([b]).decode('cp1252')
                       for b in raw)


def as_xml(text):
    return re.sub('[\x00-\x08\x0b\x0c\x0e-\x1f\ufffe\uffff]', '\ufffd', text)


def read(name):
    with open(f'{folder}/{name}', 'rb') as f:
        return f.read()


names = [bytes.fromhex(line) for line in read('names.hex').decode('ascii').split('\n')[:-1]]
settings, package, wires = names[0], names[1], names[2:]
failures = []


def check(what, got, want):
    if got != want:
        failures.append(f'{what}: {len(got)} names, {len(want)} expected; first differences: ' +
                        repr([(g, w) for g, w in zip(got, want) if g != w][:3]))


# JSON: jq (which would turn bad bytes into U+FFFD) and Python's strict reader.
jq = subprocess.run(['jq', '-c', '[.settings_file, .package_file, .wires[].name]',
                     f'{folder}/n.json'], capture_output=True)
if jq.returncode != 0:
    failures.append('jq: ' + jq.stderr.decode(errors='replace'))
else:
    check('jq', json.loads(jq.stdout.decode('utf-8')), [as_text(n) for n in names])
doc = json.loads(read('n.json').decode('utf-8'))
check('json', [doc['settings_file'], doc['package_file']] + [w['name'] for w in doc['wires']],
      [as_text(n) for n in names])

# SVG: xmllint must find it well-formed; expat reads the names back.
lint = subprocess.run(['xmllint', '--noout', f'{folder}/n.svg'], capture_output=True)
if lint.returncode != 0:
    failures.append('xmllint: ' + lint.stderr.decode(errors='replace')[:2000])
root = ET.fromstring(read('n.svg'))
check('svg', [e.get('data-wire') for e in root.iter() if e.get('data-wire') is not None],
      [as_xml(as_text(n)) for n in wires])
title = ''.join(next(e for e in root.iter() if e.tag.endswith('text')).itertext())
check('svg title', [title.startswith('Top view of ' + as_xml(as_text(package)) + ' (')], [True])

# CSV: strict UTF-8, RFC 4180 quoting.
rows = list(csv.reader(io.StringIO(read('n.csv').decode('utf-8'), newline='')))
check('csv', [r[0] for r in rows[1:]], [as_text(n) for n in wires])

print('\n'.join(failures))
sys.exit(1 if failures else 0)
