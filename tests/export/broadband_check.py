"""Checks the sectioned broadband SPICE subcircuit and the Touchstone file of one run against a
coupled-ladder network computed here with numpy from the physical model's JSON.

Usage: broadband_check.py MODEL.json NETLIST.cir FILE.sNp
The wires are those the Touchstone comments name (port 2i - 1 the pad end of a wire, 2i its
finger end); their pad and finger nodes must be distinct. Per frequency f of the file, from
MODEL.json: each wire as M equal pi sections (M from the file's comments), series impedance
  (diag(R + j w L_int) + j w L_loop + dR + j w dL) / M,
dR and dL the loop proximity correction at f, shunt j w C / M half at each end; the sections
cascaded by eliminating the inner nodes.
  - the Touchstone file's S (scikit-rf) must match that network with the whole correction within
    1e-6;
  - ngspice's AC analysis of the subcircuit, one current source at each node in turn, gives its
    open-circuit Z, turned into S at 50 Ohm; it must match the network with the off-diagonal dR
    and dL left out (what SPICE R, L and K cannot hold) within 0.01 in every entry.
Prints, per frequency, the largest |S| difference of ngspice from that network, and how far the
whole correction moves S (the mutual terms the subcircuit leaves out).
"""
import json
import os
import re
import subprocess
import sys

import numpy as np

from model_json import matrix

np.complex = complex  # scikit-rf 0.15.4 still names numpy's removed alias (numpy 1.24)
import skrf  # noqa: E402

Z0 = 50.0


def network_s(model, k, wires, sections, mutual):
    """S at 50 Ohm of the 2N ports (pad, finger per wire) of result k of the model."""
    n_all = len(model['wires'])
    res = model['results'][k]
    omega = 2 * np.pi * res['frequency_hz']
    pick = np.ix_(wires, wires)
    loop = matrix(model['inductance_loop_nh'], n_all)[pick] * 1e-9
    cap = matrix(model['capacitance_pf'], n_all)[pick] * 1e-12
    prox = res['proximity_loop']
    d_r = matrix(prox['delta_resistance_mohm'], n_all)[pick] * 1e-3
    d_l = matrix(prox['delta_inductance_nh'], n_all)[pick] * 1e-9
    if not mutual:
        d_r, d_l = np.diag(np.diag(d_r)), np.diag(np.diag(d_l))
    r = np.array(res['resistance_mohm'])[wires] * 1e-3
    l_int = np.array(res['internal_inductance_nh'])[wires] * 1e-9
    z = np.diag(r + 1j * omega * l_int) + 1j * omega * loop + d_r + 1j * omega * d_l
    n = len(wires)
    m = sections
    # Nodal admittance of the whole chain: node s of wire i at index s * n + i.
    y_branch = np.linalg.inv(z / m)
    y_shunt = 1j * omega * cap / m
    size = (m + 1) * n
    y = np.zeros((size, size), dtype=complex)
    for s in range(m):
        a, b = slice(s * n, s * n + n), slice(s * n + n, s * n + 2 * n)
        y[a, a] += y_branch + y_shunt / 2
        y[b, b] += y_branch + y_shunt / 2
        y[a, b] -= y_branch
        y[b, a] -= y_branch
    ports = [s * n + i for i in range(n) for s in (0, m)]
    inner = [q for q in range(size) if q not in ports]
    y_pp = y[np.ix_(ports, ports)]
    if inner:
        y_pp = y_pp - y[np.ix_(ports, inner)] @ np.linalg.solve(y[np.ix_(inner, inner)],
                                                                 y[np.ix_(inner, ports)])
    eye = np.eye(2 * n)
    return np.linalg.solve(eye + Z0 * y_pp, eye - Z0 * y_pp)


def ngspice_s(netlist_path, nodes, ports, freqs, work):
    """S at 50 Ohm of the subcircuit's `nodes` (each against ref) at each frequency."""
    name = re.search(r'^\.subckt (\S+)', open(netlist_path).read(), re.M | re.I).group(1)
    deck = [f'z\n.include {netlist_path}\n.options rshunt=1e15']
    for j in range(len(nodes)):
        deck.append(f'X{j} ' + ' '.join('0' if p.lower() == 'ref' else f'n{j}_{p}'
                                         for p in ports) + f' {name}')
        deck.append(f'I{j} 0 n{j}_{nodes[j]} dc 0 ac 1')
    probes = ' '.join(f'v(n{j}_{q})' for j in range(len(nodes)) for q in nodes)
    control = ['.control', 'set wr_singlescale', 'option numdgt=15']
    for k, f in enumerate(freqs):
        control += [f'ac lin 1 {f!r} {f!r}', f'wrdata {work}/bz{k}.txt {probes}']
    path = os.path.join(work, 'bz.cir')
    open(path, 'w').write('\n'.join(deck + control + ['quit', '.endc', '.end']) + '\n')
    subprocess.run(['ngspice', '-b', path], check=True, capture_output=True)
    out = []
    m = len(nodes)
    for k in range(len(freqs)):
        v = [float(x) for x in open(f'{work}/bz{k}.txt').read().split()][1:]
        z = np.zeros((m, m), dtype=complex)
        for j in range(m):
            for q in range(m):
                z[q, j] = complex(v[2 * (j * m + q)], v[2 * (j * m + q) + 1])
        eye = np.eye(m)
        out.append((z - Z0 * eye) @ np.linalg.inv(z + Z0 * eye))
    return out


def main(model_path, netlist_path, touchstone_path):
    model = json.load(open(model_path))
    text = open(touchstone_path).read()
    sections = int(re.search(r'Each wire: (\d+) coupled pi sections', text).group(1))
    names = re.findall(r'port \d+: pad end of wire (.*?); port', text)
    index = {w['name']: i for i, w in enumerate(model['wires'])}
    wires = [index[name] for name in names]
    netlist = open(netlist_path).read()
    header = re.search(r'^\.subckt (\S+)((?:.*\n\+.*)*.*)$', netlist, re.M | re.I)
    ports = header.group(2).replace('\n+', ' ').split()
    # Pad and finger node of each wire, in the Touchstone's port order.
    nodes = []
    for name in names:
        block = re.search(r'^\* (?:base-die|stacked-die|stitch) wire ' + re.escape(name) +
                          r'(?:,.*)?\n((?:[^*].*\n)+)', netlist, re.M).group(1).split('\n')
        elements = [line.split() for line in block if line[:1].lower() in ('r', 'l')]
        nodes += [elements[0][1], elements[-1][2]]
    if len(set(nodes)) != len(nodes) or sorted(nodes + ['ref']) != sorted(ports):
        sys.exit('the subcircuit\'s ports are not the pad and finger nodes of the wires')
    net = skrf.Network(touchstone_path)
    freqs = [f for f in net.f if f > 0]
    by_freq = {r['frequency_hz']: k for k, r in enumerate(model['results'])}
    worst_file = worst_spice = 0.0
    work = os.path.dirname(os.path.abspath(netlist_path))
    spice = ngspice_s(os.path.abspath(netlist_path), nodes, ports, freqs, work)
    print('f_hz  |S_ngspice - S_ref|  |S_full - S_ref|')
    for fi, f in enumerate(freqs):
        k = by_freq[min(by_freq, key=lambda g: abs(g - f))]
        full = network_s(model, k, wires, sections, True)
        diagonal = network_s(model, k, wires, sections, False)
        s_file = net.s[int(np.argmin(abs(net.f - f)))]
        worst_file = max(worst_file, np.abs(s_file - full).max())
        d = np.abs(spice[fi] - diagonal).max()
        worst_spice = max(worst_spice, d)
        print(f'{f:.4g}  {d:.2e}  {np.abs(full - diagonal).max():.2e}')
    print(f'Touchstone file against the network with the whole correction: {worst_file:.2e}')
    print(f'ngspice against the network without the mutual terms: {worst_spice:.2e}')
    if worst_file > 1e-6 or worst_spice > 0.01:
        sys.exit('the broadband subcircuit or the Touchstone file misses the model')


if __name__ == '__main__':
    main(*sys.argv[1:4])
