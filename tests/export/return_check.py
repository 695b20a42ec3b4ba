"""Checks the signals' loops through the ground wires (--return wires) three ways.

Usage: return_check.py MODEL.json FILE.sNp NETLIST.sp
MODEL.json, the Touchstone file and the SPICE subcircuit (--spice-inductance partial) come from
one run of ostrel-cli with --return wires. Fails with exit 1 unless:
  - every entry of each return_loop equals, within 1e-9 of the largest, the loop impedance that
    a modified nodal analysis of the partial network gives: the wires as coupled branches
    Z = diag(R + j w L_int) + j w L_partial + (dR + j w dL), the ground wires' pad ends on one
    node (the reference) and their finger ends on another, each signal driven by a current
    source at its pad with its finger on that node (at DC, L from the slope of Im Z at 1 Hz);
  - scikit-rf reads the Touchstone file as passive and reciprocal, and the impedance it gives
    at a signal's pad port, its finger shorted to the substrate's port, is the JSON's loop within
    1% at every frequency up to 1 GHz (above, the capacitances matter);
  - ngspice's AC analysis of the subcircuit at the model's first frequency gives that loop
    within 1% for every signal but the stitches (whose landing pad is another wire's node).
Prints the largest differences.
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


def branch_impedance(model, res, omega):
    n = len(model['wires'])
    lp = matrix(model['inductance_partial_nh'], n) * 1e-9
    prox = res['proximity_partial']
    dr = matrix(prox['delta_resistance_mohm'], n) * 1e-3
    dl = matrix(prox['delta_inductance_nh'], n) * 1e-9
    r = np.diag(np.array(res['resistance_mohm']) * 1e-3) + dr
    l = lp + dl + np.diag(np.array(res['internal_inductance_nh']) * 1e-9)
    return r + 1j * omega * l


def mna_loops(model, res, signals, ground, f):
    """Node voltages and branch currents: unknowns [V_pad(s) for each signal, V_sub, I_b(all)];
    the ground wires' pad ends are the reference node, their finger ends and every signal's
    finger end the node `sub`."""
    zb = branch_impedance(model, res, 2 * np.pi * f)
    wires = list(signals) + list(ground)
    zb = zb[np.ix_(wires, wires)]
    s, b = len(signals), len(wires)
    nodes = s + 1  # signal pads, then sub
    # Incidence: branch k runs from node `start` to node `end` (-1: the reference).
    a = np.zeros((nodes, b))
    for k in range(b):
        start, end = (k, s) if k < s else (-1, s)
        if start >= 0:
            a[start, k] += 1
        a[end, k] -= 1
    # KCL: A I_b = J; branch law: A^T V - Z_b I_b = 0.
    m = np.block([[np.zeros((nodes, nodes)), a], [a.T, -zb]]).astype(complex)
    z = np.zeros((s, s), dtype=complex)
    for q in range(s):
        rhs = np.zeros(nodes + b, dtype=complex)
        rhs[q] = 1  # 1 A into signal q's pad, out at the reference
        x = np.linalg.solve(m, rhs)
        z[:, q] = x[:s] - 0  # pad voltages against the reference
    return z


def check_reduction(model):
    n = len(model['wires'])
    worst = 0.0
    for res in model['results']:
        loop = res['return_loop']
        signals = loop['wires']
        ground = sorted(set(range(n)) - set(signals) - set(model_stitch_grounds(model)))
        f = res['frequency_hz']
        r = matrix(loop['resistance_mohm'], len(signals)) * 1e-3
        l = matrix(loop['inductance_nh'], len(signals)) * 1e-9
        if f > 0:
            z = mna_loops(model, res, signals, ground, f)
            got_r, got_l = z.real, z.imag / (2 * np.pi * f)
        else:
            z0 = mna_loops(model, res, signals, ground, 0.0)
            z1 = mna_loops(model, res, signals, ground, 1.0)
            got_r, got_l = z0.real, (z1.imag - z0.imag) / (2 * np.pi)
        for ours, theirs in ((r, got_r), (l, got_l)):
            err = np.abs(ours - theirs).max() / np.abs(theirs).max()
            worst = max(worst, err)
            if err > 1e-9:
                sys.exit(f'return_loop at {f} Hz differs from the nodal analysis by {err:.3g}')
    return worst


def model_stitch_grounds(model):
    # Wires in no set of the loops: ground stitches, whose two ends are both the die's ground.
    grounds = set()
    for net in model['nets']:
        if net['role'] == 'ground':
            grounds.update(w for w in net['wires'] if model['wires'][w]['kind'] == 'stitch')
    return grounds


def port_loop(y, pad, finger, sub):
    """Impedance at port `pad` with port `finger` shorted to port `sub`, the others open (1e9
    Ohm to the reference: at DC the other wires float)."""
    ports = y.shape[0]
    t = np.delete(np.eye(ports), sub, axis=1)
    t[sub, finger if finger < sub else finger - 1] = 1
    yr = t.T @ y @ t + 1e-9 * np.eye(ports - 1)
    i = np.zeros(ports - 1, dtype=complex)
    i[pad] = 1
    return np.linalg.solve(yr, i)[pad]


def check_touchstone(model, path):
    net = skrf.Network(path)
    worst = 0.0
    for k, s in enumerate(net.s):
        if np.linalg.svd(s, compute_uv=False).max() > 1 + 1e-9:
            sys.exit('not passive')
        if not np.allclose(s, s.T, rtol=0, atol=1e-9):
            sys.exit('not reciprocal')
        f = net.f[k]
        if f > 1e9:
            continue
        ports = s.shape[0]
        y = (np.eye(ports) - s) @ np.linalg.inv(np.eye(ports) + s) / 50
        res = next(r for r in model['results'] if r['frequency_hz'] == f)
        loop = res['return_loop']
        m = len(loop['wires'])
        r = matrix(loop['resistance_mohm'], m) * 1e-3
        l = matrix(loop['inductance_nh'], m) * 1e-9
        for a in range(m):
            want = complex(r[a, a], 2 * np.pi * f * l[a, a])
            got = port_loop(y, 2 * a, 2 * a + 1, ports - 1)
            err = abs(got - want) / abs(want)
            worst = max(worst, err)
            if err > 0.01:
                sys.exit(f'Touchstone loop of signal {a} at {f} Hz: {got} against {want}')
    return worst


def branch_ends(text):
    """Each wire's start and end node in the subcircuit, by the name its comment gives."""
    ends, name = {}, None
    for line in text.splitlines():
        match = re.match(r'\* (?:base-die|stacked-die|stitch) wire (\S+?),?(?: |$)', line)
        if match:
            name = match.group(1)
        elif name and line[:2] in ('R_', 'L_'):
            words = line.split()
            start, end = ends.get(name, (words[1], words[2]))
            ends[name] = (start, words[2])
            if line.startswith('L_'):
                name = None
    return ends


def check_spice(model, path, work):
    text = open(path).read()
    head = text[text.index('.subckt'):].split('\n* ')[0].replace('\n+', ' ').split()
    ports, subckt = head[2:], head[1]
    ends = branch_ends(text)
    res = model['results'][0]
    f = res['frequency_hz']
    loop = res['return_loop']
    m = len(loop['wires'])
    r = matrix(loop['resistance_mohm'], m) * 1e-3
    l = matrix(loop['inductance_nh'], m) * 1e-9
    worst = 0.0
    for a, w in enumerate(loop['wires']):
        wire = model['wires'][w]
        # A stitch lands on a pad of the die, whose node another wire starts from: its loop
        # through the substrate is the Touchstone file's, not a circuit's.
        if wire['kind'] == 'stitch':
            continue
        pad, finger = ends[wire['name']]
        pins = ' '.join('0' if p == 'gnd_die' else f'n_{p}' for p in ports)
        out = os.path.join(work, 'z.txt')
        deck = ['loop', '.option rshunt=1e15', '.include ' + path, f'X1 {pins} {subckt}',
                f'Vshort n_{finger} n_gnd_sub 0', f'Iport 0 n_{pad} dc 0 ac 1', '.control',
                f'ac lin 1 {f!r} {f!r}', f'wrdata {out} v(n_{pad})', 'quit', '.endc', '.end']
        cir = os.path.join(work, 'loop.cir')
        open(cir, 'w').write('\n'.join(deck) + '\n')
        subprocess.run(['ngspice', '-b', cir], check=True, capture_output=True)
        numbers = [float(x) for x in open(out).read().split()]
        got = complex(numbers[1], numbers[2])
        want = complex(r[a, a], 2 * np.pi * f * l[a, a])
        err = abs(got - want) / abs(want)
        worst = max(worst, err)
        if err > 0.01:
            sys.exit(f'ngspice loop of {wire["name"]} at {f} Hz: {got} against {want}')
    return worst


def main(model_path, touchstone_path, spice_path):
    model = json.load(open(model_path))
    if model['return'] != 'wires':
        sys.exit('the model was not made with --return wires')
    print(f'nodal analysis: {check_reduction(model):.2e}')
    print(f'Touchstone: {check_touchstone(model, touchstone_path):.2e}')
    with tempfile.TemporaryDirectory() as work:
        print(f'ngspice: {check_spice(model, os.path.abspath(spice_path), work):.2e}')


if __name__ == '__main__':
    main(*sys.argv[1:4])
