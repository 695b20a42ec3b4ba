"""Checks a Touchstone file of the bond wires against ngspice.

Usage: touchstone_check.py FILE.sNp MODEL.json LOSS_TANGENT
MODEL.json is the physical model as Ostrel writes it (--physical). Checks, failing with exit 1:
  - layout, strictly: comment lines, one option line "# HZ S RI R 50", per frequency 2N rows of
    2N pairs, at most four pairs a line, each row on new lines (two-ports: S11 S21 S12 S22),
    frequencies increasing;
  - scikit-rf reads it; the network is passive (singular values of S <= 1) and reciprocal;
  - at every frequency above 0, the Z matrix scikit-rf derives matches the open-circuit
    impedances ngspice computes (AC analysis, one current source per port) from a netlist of the
    same coupled ladder (sections named in the file's comments) within 1%.
Prints the largest relative Z difference.
"""
import json
import os
import re
import subprocess
import sys
import tempfile

import numpy as np

from model_json import matrix

# scikit-rf 0.15.4 still names numpy's removed alias np.complex (Debian 12 has numpy 1.24).
np.complex = complex
import skrf  # noqa: E402


def layout(path, ports):
    freqs = []
    option_seen = False
    values = []
    row_words = []
    for no, line in enumerate(open(path, encoding='ascii'), 1):
        line = line.rstrip('\n')
        if line.startswith('!'):
            continue
        if line.startswith('#'):
            if option_seen or line != '# HZ S RI R 50':
                sys.exit(f'line {no}: option line {line!r}')
            option_seen = True
            continue
        if not option_seen:
            sys.exit(f'line {no}: data before the option line')
        words = line.split()
        row_words.append((no, words))
    rows_per_freq = 1 if ports == 2 else ports
    lines_per_row = 1 if ports == 2 else (ports + 3) // 4
    k = 0
    while k < len(row_words):
        no, first = row_words[k]
        freqs.append(float(first[0]))
        if len(freqs) > 1 and freqs[-1] <= freqs[-2]:
            sys.exit(f'line {no}: frequencies not increasing')
        block = []
        for r in range(rows_per_freq):
            row = []
            for q in range(lines_per_row):
                no, words = row_words[k]
                k += 1
                if r == 0 and q == 0:
                    words = words[1:]
                expected = 2 * (4 if ports == 2 else min(4, ports - 4 * q))
                if len(words) != expected:
                    sys.exit(f'line {no}: {len(words)} numbers, expected {expected}')
                row += [float(w) for w in words]
            block.append(row)
        values.append(block)
    return np.array(freqs)


def ngspice_z(model, k, sections, tan_delta, work):
    wires = model['wires']
    n = len(wires)
    res = model['results'][k]
    f = res['frequency_hz']
    omega = 2 * np.pi * f
    l = matrix(model['inductance_loop_nh'], n) * 1e-9
    c = matrix(model['capacitance_pf'], n) * 1e-12
    l_total = l + np.diag(np.array(res['internal_inductance_nh']) * 1e-9)
    r = np.array(res['resistance_mohm']) * 1e-3
    m = sections
    # rshunt: a 1e15 Ohm path to ground at every node gives the floating ladder an operating point.
    lines = ['ladder', '.option rshunt=1e15']
    for i in range(n):
        for s in range(m):
            lines.append(f'R{i}_{s} n{i}_{s} a{i}_{s} {r[i] / m!r}')
            lines.append(f'L{i}_{s} a{i}_{s} n{i}_{s + 1} {l_total[i, i] / m!r}')
    for s in range(m):
        for i in range(n):
            for j in range(i + 1, n):
                kk = l_total[i, j] / np.sqrt(l_total[i, i] * l_total[j, j])
                lines.append(f'K{i}_{j}_{s} L{i}_{s} L{j}_{s} {kk!r}')
    for s in range(m + 1):
        w = (0.5 if s in (0, m) else 1.0) / m
        for i in range(n):
            to_ground = w * c[i].sum()
            lines.append(f'C{i}_{s} n{i}_{s} 0 {to_ground!r}')
            if tan_delta > 0:
                lines.append(f'RG{i}_{s} n{i}_{s} 0 {1 / (omega * tan_delta * to_ground)!r}')
            for j in range(i + 1, n):
                if c[i, j] != 0:
                    lines.append(f'C{i}_{j}_{s} n{i}_{s} n{j}_{s} {-w * c[i, j]!r}')
                    if tan_delta > 0:
                        lines.append(f'RG{i}_{j}_{s} n{i}_{s} n{j}_{s} '
                                     f'{1 / (-omega * tan_delta * w * c[i, j])!r}')
    port_nodes = [f'n{i}_{e}' for i in range(n) for e in (0, m)]
    z = np.zeros((2 * n, 2 * n), dtype=complex)
    for p, node in enumerate(port_nodes):
        out = os.path.join(work, f'z{p}.txt')
        deck = lines + [f'Iport 0 {node} dc 0 ac 1', '.control', f'ac lin 1 {f!r} {f!r}',
                        'wrdata ' + out + ' ' + ' '.join(f'v({q})' for q in port_nodes),
                        'quit', '.endc', '.end']  # quit: batch ngspice exits 0
        cir = os.path.join(work, 'ladder.cir')
        open(cir, 'w').write('\n'.join(deck) + '\n')
        subprocess.run(['ngspice', '-b', cir], check=True, capture_output=True)
        numbers = [float(x) for x in open(out).read().split()]
        for q in range(2 * n):
            z[q, p] = complex(numbers[3 * q + 1], numbers[3 * q + 2])
    return z


def main(path, model_path, tan_delta):
    model = json.load(open(model_path))
    n = len(model['wires'])
    freqs = layout(path, 2 * n)
    sections = int(re.search(r'Each wire: (\d+) coupled pi sections', open(path).read()).group(1))
    net = skrf.Network(path)
    if net.s.shape != (len(freqs), 2 * n, 2 * n) or not np.allclose(net.f, freqs):
        sys.exit('scikit-rf reads another shape or other frequencies')
    for s in net.s:
        if np.linalg.svd(s, compute_uv=False).max() > 1 + 1e-9:
            sys.exit('not passive')
        if not np.allclose(s, s.T, rtol=0, atol=1e-9):
            sys.exit('not reciprocal')
    worst = 0.0
    with tempfile.TemporaryDirectory() as work:
        for k, res in enumerate(model['results']):
            f = res['frequency_hz']
            if f == 0:
                continue
            idx = int(np.argmin(abs(net.f - f)))
            z_file = net.z[idx]
            z_spice = ngspice_z(model, k, sections, tan_delta, work)
            rel = np.abs(z_file - z_spice) / np.abs(z_spice)
            worst = max(worst, rel.max())
    print(f'largest relative Z difference {worst:.3e}')
    if worst > 0.01:
        sys.exit('Z differs from ngspice by more than 1%')


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2], float(sys.argv[3]))
