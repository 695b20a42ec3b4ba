"""Strict reader of the IBIS package model subset Ostrel writes.

Usage: ibis_pkg_reader.py FILE.pkg
Checks the layout (ASCII, lines <= 80 characters, keyword order, pin names, row lengths of
Banded_matrix, Sparse_matrix and Full_matrix), that L and C are positive definite and that C has
no positive off-diagonal entry, then prints one line per matrix entry: "R|L|C pin_i pin_j value".
Exits 1 with a message on the first fault.
"""
import os
import re
import sys

import numpy as np

SCALE = {'T': 1e12, 'G': 1e9, 'M': 1e6, 'k': 1e3, 'm': 1e-3, 'u': 1e-6, 'n': 1e-9,
         'p': 1e-12, 'f': 1e-15}
NUMBER = re.compile(r'^([+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?)([TGMkmunpf]?)$')


def fail(line_no, message):
    sys.exit(f'line {line_no}: {message}')


def number(text, line_no):
    m = NUMBER.match(text)
    if not m:
        fail(line_no, f'not an IBIS number: {text!r}')
    return float(m.group(1)) * SCALE.get(m.group(4), 1.0)


def main(path):
    raw = open(path, 'rb').read()
    try:
        text = raw.decode('ascii')
    except UnicodeDecodeError:
        sys.exit('not ASCII')
    lines = []
    for no, line in enumerate(text.split('\n'), 1):
        if len(line) > 80:
            fail(no, f'{len(line)} characters')
        if '\t' in line or '\r' in line:
            fail(no, 'tab or carriage return')
        if line and not line.startswith('|'):
            lines.append((no, line))
    pos = 0

    def take(keyword):
        nonlocal pos
        if pos >= len(lines):
            sys.exit(f'end of file, expected {keyword}')
        no, line = lines[pos]
        if not line.startswith(keyword):
            fail(no, f'expected {keyword}, found {line!r}')
        pos += 1
        return no, line[len(keyword):].strip()

    def text_lines():  # continuation lines of a text keyword
        nonlocal pos
        while pos < len(lines) and not lines[pos][1].startswith('['):
            pos += 1

    _, version = take('[IBIS Ver]')
    if version not in ('5.1', '6.1', '7.0', '7.1', '7.2'):
        sys.exit(f'IBIS version {version}')
    no, name = take('[File Name]')
    if name != os.path.basename(path) or name != name.lower() or len(name) > 40:
        fail(no, f'file name {name!r}')
    take('[File Rev]')
    take('[Date]')
    for keyword in ('[Source]', '[Notes]', '[Disclaimer]'):
        take(keyword)
        text_lines()
    no, model = take('[Define Package Model]')
    if not model or len(model) > 40 or ' ' in model:
        fail(no, f'model name {model!r}')
    take('[Manufacturer]')
    take('[OEM]')
    take('[Description]')
    text_lines()
    no, count = take('[Number Of Pins]')
    n = int(count)
    take('[Pin Numbers]')
    pins = []
    for _ in range(n):
        no, pin = lines[pos]
        pos += 1
        if not re.fullmatch(r'[A-Za-z0-9_]{1,5}', pin) or pin.lower() in map(str.lower, pins):
            fail(no, f'pin name {pin!r}')
        pins.append(pin)
    take('[Model Data]')
    index = {p: i for i, p in enumerate(pins)}
    matrices = {}
    for letter, keyword in (('R', '[Resistance Matrix]'), ('L', '[Inductance Matrix]'),
                            ('C', '[Capacitance Matrix]')):
        no, form = take(keyword)
        m = np.zeros((n, n))
        band = n
        if form == 'Banded_matrix':
            _, b = take('[Bandwidth]')
            band = int(b)
        elif form not in ('Sparse_matrix', 'Full_matrix'):
            fail(no, f'matrix format {form!r}')
        for i in range(n):
            no, row = take('[Row]')
            if row != pins[i]:
                fail(no, f'row {row!r}, expected {pins[i]!r}')
            values = []
            while pos < len(lines) and not lines[pos][1].startswith('['):
                no, line = lines[pos]
                pos += 1
                values.append((no, line.split()))
            if form == 'Sparse_matrix':
                seen = set()
                for no, fields in values:
                    if len(fields) != 2 or fields[0] not in index or index[fields[0]] < i \
                            or fields[0] in seen:
                        fail(no, f'sparse entry {fields!r}')
                    seen.add(fields[0])
                    j = index[fields[0]]
                    m[i, j] = m[j, i] = number(fields[1], no)
                if pins[i] not in seen:
                    fail(no, f'row {pins[i]} has no diagonal entry')
            else:
                flat = [(no, f) for no, fields in values for f in fields]
                expected = min(n - i, band + 1)
                if len(flat) != expected:
                    fail(no, f'row {pins[i]}: {len(flat)} entries, expected {expected}')
                for k, (no, f) in enumerate(flat):
                    m[i, i + k] = m[i + k, i] = number(f, no)
        matrices[letter] = m
    take('[End Model Data]')
    take('[End Package Model]')
    take('[End]')
    if pos != len(lines):
        fail(lines[pos][0], 'text after [End]')
    if 'covers the bond wires only' not in text:
        sys.exit('the file does not say that it covers the bond wires only')
    for letter in ('L', 'C'):
        try:
            np.linalg.cholesky(matrices[letter])
        except np.linalg.LinAlgError:
            sys.exit(f'{letter} is not positive definite')
    c = matrices['C']
    if np.any(c - np.diag(np.diag(c)) > 0):
        sys.exit('positive off-diagonal capacitance')
    for letter, m in matrices.items():
        for i in range(n):
            for j in range(n):
                print(letter, pins[i], pins[j], repr(m[i, j]))


if __name__ == '__main__':
    main(sys.argv[1])
