"""End-to-end check of the broadband SPICE subcircuit against the Touchstone file and the exact
internal impedance, for one run of ostrel-cli on the same package.

Usage: package_model_check.py MODEL.json NETLIST.cir FILE.sNp FMIN FMAX
  - each wire's series branch alone (its sections' ladders and loop inductors, taken from the
    netlist) in ngspice's AC analysis at each frequency of the model: R + j omega L within 2% of
    the exact internal impedance (mpmath Bessel, from the wire's diameter, resistivity and
    length) plus the own terms dR + j omega dL of the loop proximity correction plus
    j omega L_loop (the L error taken against the larger of L_int and |L_int + dL|);
  - the whole subcircuit, driven by an AC current source at one node at a time (the ends of the
    first and last wire and of the first stitch), gives those columns of its nodes' open-circuit
    Z matrix; the Touchstone file's Z (scikit-rf), with the ports of wires sharing a pad node
    joined, must match them within 1% at every frequency of the file (entries below 1e-3 of
    their column's largest: within 1e-5 of it);
  - a transient of the subcircuit: 1 A ramped in 2 ns into the first wire's pad, its finger at the
    plane, settles to the wire's DC resistance within 0.1% (Gear integration).
"""
import json
import os
import re
import subprocess
import sys

import mpmath
import numpy as np

from model_json import matrix

np.complex = complex  # scikit-rf 0.15.4 still names numpy's removed alias (numpy 1.24)
import skrf  # noqa: E402

MU0 = 4e-7 * mpmath.pi


def ngspice(path, body, control, out):
    open(path, 'w').write(body + '.control\n' + control + f'\nquit\n.endc\n.end\n')
    subprocess.run(['ngspice', '-b', path], check=True, capture_output=True)
    return [[float(x) for x in line.split()] for line in open(out) if line.strip()]


def wire_branches(netlist):
    """Per wire, in order: its start node, end node and series elements (R and L lines)."""
    wires = []
    for line in netlist.lower().splitlines():
        if re.match(r'\* (base-die|stacked-die|stitch) wire ', line):
            wires.append([])
        elif line.startswith(('k', 'c', '.ends')):
            break
        elif wires and line[:1] in ('r', 'l'):
            wires[-1].append(line.split())
    return [(e[0][1], e[-1][2], e) for e in wires]


def main(model_path, netlist_path, touchstone_path, fmin, fmax):
    mpmath.mp.dps = 25
    model = json.load(open(model_path))
    netlist = open(netlist_path).read()
    work = os.path.dirname(os.path.abspath(netlist_path))
    branches = wire_branches(netlist)
    n = len(model['wires'])
    if len(branches) != n:
        sys.exit(f'{len(branches)} wire branches for {n} wires')
    loop = np.array(model['inductance_loop_nh']) * 1e-9

    # 1. Series branches against the exact internal impedance and the proximity correction's own
    # terms, at the model's frequencies (where the JSON holds the correction).
    worst_branch = 0.0
    deck = 'branches\n'
    for w, (start, end, elements) in enumerate(branches):
        # Each branch alone, its nodes renamed apart: 1 A into its start, its end grounded.
        rename = {start: f'a{w}', end: '0'}
        deck += f'I{w} 0 a{w} dc 0 ac 1\n' + ''.join(
            ' '.join([e[0] + f'_w{w}'] + [rename.get(x, f'{x}_w{w}') for x in e[1:3]] + e[3:]) +
            '\n' for e in elements)
    results = [r for r in model['results'] if r['frequency_hz'] > 0]
    control = []
    for k, r in enumerate(results):
        f = r['frequency_hz']
        control += [f'ac lin 1 {f!r} {f!r}', f'wrdata {work}/branch{k}.txt ' +
                    ' '.join(f'v(a{w})' for w in range(n))]
    ngspice(os.path.join(work, 'branch.cir'), deck, '\n'.join(control),
            os.path.join(work, 'branch0.txt'))
    for k, r in enumerate(results):
        values = [float(x) for x in open(os.path.join(work, f'branch{k}.txt')).read().split()]
        f = values[0]
        omega = 2 * mpmath.pi * f
        d_r = np.diag(matrix(r['proximity_loop']['delta_resistance_mohm'], n)) * 1e-3
        d_l = np.diag(matrix(r['proximity_loop']['delta_inductance_nh'], n)) * 1e-9
        for w in range(n):
            wire = model['wires'][w]
            a = wire['diameter_um'] * 0.5e-6
            rho = wire['resistivity_ohm_m']
            length = wire['length_um'] * 1e-6
            kk = mpmath.sqrt(-1j * omega * MU0 / rho)
            z = complex(kk * rho / (2 * mpmath.pi * a) * mpmath.besselj(0, kk * a) /
                        mpmath.besselj(1, kk * a)) * length
            re_v, im_v = values[3 * w + 1], values[3 * w + 2]
            l_int = z.imag / float(omega)
            l_want = l_int + d_l[w]
            worst_branch = max(worst_branch, abs(re_v / (z.real + d_r[w]) - 1),
                               abs(im_v / float(omega) - loop[w, w] - l_want) /
                               max(l_int, abs(l_want)))
    print(f'series branches: largest relative error of R + dR and L_int + dL {worst_branch:.4f}')

    # 2. Open-circuit Z of the subcircuit's nodes against the Touchstone file.
    header = re.search(r'^\.subckt (\S+)((?:.*\n\+.*)*.*)$', netlist, re.M | re.I)
    name = header.group(1)
    ports = header.group(2).replace('\n+', ' ').split()
    nodes = [p for p in ports if p.lower() != 'ref']
    def instance(tag, grounded=None):
        return (f'X{tag} ' + ' '.join('0' if p.lower() == 'ref' or p == grounded
                                       else f'n{tag}_{p}' for p in ports) + f' {name}\n')

    # Columns of Z for the ends of the first and last wire and of the first stitch (whose pads
    # other wires share), one subcircuit instance driven per column.
    index = {node.lower(): i for i, node in enumerate(nodes)}
    kinds = re.findall(r'^\* (base-die|stacked-die|stitch) wire ', netlist, re.M)
    chosen = [0, n - 1] + [w for w in range(n) if kinds[w] == 'stitch'][:1]
    driven = sorted({index[branches[w][e]] for w in chosen for e in (0, 1)})
    deck = f'z\n.include {netlist_path}\n.options rshunt=1e15\n'
    for j in driven:
        deck += instance(j) + f'I{j} 0 n{j}_{nodes[j]} dc 0 ac 1\n'
    rows = ngspice(os.path.join(work, 'z.cir'), deck,
                   f'ac dec 1 {fmin!r} {fmax!r}\nwrdata {work}/z.txt ' +
                   ' '.join(f'v(n{j}_{q})' for j in driven for q in nodes),
                   os.path.join(work, 'z.txt'))
    net = skrf.Network(touchstone_path)
    freqs = [f for f in net.f if f > 0]
    z_spice = np.zeros((len(freqs), len(nodes), len(nodes)), dtype=complex)
    m = len(nodes)
    for values in rows:
        fi = int(np.argmin([abs(f - values[0]) for f in freqs]))
        for c, j in enumerate(driven):
            for q in range(m):
                z_spice[fi, q, j] = complex(values[3 * (c * m + q) + 1], values[3 * (c * m + q) + 2])
    join = np.zeros((2 * n, len(nodes)))  # port -> node incidence
    for w, (start, end, _) in enumerate(branches):
        join[2 * w, index[start]] = 1
        join[2 * w + 1, index[end]] = 1
    worst_z = 0.0
    for fi, f in enumerate(freqs):
        k = int(np.argmin(abs(net.f - f)))
        y_nodes = join.T @ np.linalg.inv(net.z[k]) @ join
        z_file = np.linalg.inv(y_nodes)[:, driven]
        z_ref = z_spice[fi][:, driven]
        # Relative to the entry, or for entries below 1e-3 of the column's largest (nodes
        # hardly coupled) to 1e-3 of that largest.
        scale = np.maximum(np.abs(z_ref), 1e-3 * np.abs(z_ref).max(axis=0))
        worst_z = max(worst_z, (np.abs(z_file - z_ref) / scale).max())
    print(f'Touchstone against ngspice: largest relative Z difference {worst_z:.2e}')

    # 3. Transient: a 1 A step into the first wire, its finger at the plane.
    start, end, _ = branches[0]
    wire = model['wires'][0]
    r_dc = wire['resistance_dc_mohm'] * 1e-3
    # Gear integration: the trapezoidal rule rings on the ladder's stiff rungs.
    tdeck = (f'step\n.include {netlist_path}\n.options rshunt=1e15 method=gear\n' +
             instance('t', end) +
             f'I1 0 nt_{start} pulse(0 1 1n 2n 2n 1 2)\n')
    rows = ngspice(os.path.join(work, 't.cir'), tdeck,
                   f'tran 100p 200n\nwrdata {work}/t.txt v(nt_{start})', os.path.join(work, 't.txt'))
    settled = rows[-1][1]
    print(f'transient: {settled!r} V after 200 ns, DC resistance {r_dc!r} Ohm')

    if worst_branch > 0.02 or worst_z > 0.01 or abs(settled / r_dc - 1) > 0.001:
        sys.exit('the broadband subcircuit misses the model')


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4]), float(sys.argv[5]))
