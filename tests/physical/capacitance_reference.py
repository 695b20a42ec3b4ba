#!/usr/bin/python3
"""Reference capacitances for the wire capacitance tests, by methods independent of the model.

  pair A H1 H2 S [EPS_R]  per-length Maxwell matrix (F/m) of two parallel round wires of radius
                          A at heights H1, H2 (axis above a ground plane) and centre spacing S:
                          potential expansion in circumferential harmonics about each wire and
                          its image, matched on the wire surfaces (2-D, exact as harmonics grow).
  lines A EPS_R HARMONICS X1,H1 X2,H2 ...
                          the same for any number of parallel wires (axis X, height H), with
                          HARMONICS harmonics about each wire (32 converge wires 1.25 diameters
                          apart to 1e-5 of the self term); prints the Maxwell matrix, a row a line.
  rod L A                 capacitance (F) of a solid round rod of length L, radius A, in free
                          space (flat ends): axisymmetric boundary elements with ring charges.
All lengths in metres. Prints the figures on one line.
"""
import sys

import numpy as np
from scipy.special import ellipkm1

EPS0 = 8.8541878128e-12


def lines(a, centres, eps_r=1.0, harmonics=16):
    """Per-length Maxwell matrix (F/m) of parallel round wires of radius a with axes at the
    complex `centres` (x + i height) over a ground plane."""
    eps = EPS0 * eps_r
    wires = len(centres)
    points = 4 * harmonics + 8
    theta = 2 * np.pi * (np.arange(points) + 0.5) / points
    # Unknowns per wire: charge q, then Re and Im of A_n, n = 1..harmonics.
    per = 1 + 2 * harmonics
    rows = []
    for cj in centres:
        z = cj + a * np.exp(1j * theta)
        block = np.zeros((points, per * wires))
        for k, ck in enumerate(centres):
            # phi = -(q / 2 pi eps) ln(|z - c| / |z - conj c|)
            #       + Re sum_n [A_n (z - c)^-n - conj(A_n) (z - conj c)^-n]
            ratio = np.abs(z - ck) / np.abs(z - np.conj(ck))
            block[:, k * per] = -np.log(ratio) / (2 * np.pi * eps)
            for n in range(1, harmonics + 1):
                d = (z - ck) ** (-n)
                di = (z - np.conj(ck)) ** (-n)
                # A = x + i y: Re(A d) - Re(conj(A) di)
                block[:, k * per + 2 * n - 1] = (d.real - di.real) * a ** n
                block[:, k * per + 2 * n] = (-d.imag - di.imag) * a ** n
        rows.append(block)
    m = np.vstack(rows)
    # Columns of unit norm: the harmonics of far centres fall off as (a / distance)^n, and
    # unscaled their columns sink below the solver's rank cut-off in a way that depends on the
    # linear algebra library.
    norms = np.linalg.norm(m, axis=0)
    norms[norms == 0] = 1.0
    m = m / norms
    c = np.zeros((wires, wires))
    for wire in range(wires):
        v = np.zeros(wires * points)
        v[wire * points:(wire + 1) * points] = 1.0
        x, *_ = np.linalg.lstsq(m, v, rcond=None)
        c[:, wire] = (x / norms)[::per]
    return 0.5 * (c + c.T)


def pair(a, h1, h2, s, eps_r=1.0, harmonics=16):
    return lines(a, [complex(0.0, h1), complex(s, h2)], eps_r, harmonics)


def ring_kernel(r0, z0, r, z):
    """Potential at (r0, z0) of a unit ring charge density per radian at (r, z), times 4 pi eps."""
    d2 = (r0 + r) ** 2 + (z - z0) ** 2
    # K(m) with m = 4 r r0 / d2, from 1 - m (kept exact near the ring itself).
    return 4 * ellipkm1(((r0 - r) ** 2 + (z - z0) ** 2) / d2) / np.sqrt(d2)


def rod(length, a, panels_side=120, panels_cap=24):
    # Generating curve: bottom cap (r 0..a at z=0), side (z 0..L at r=a), top cap. Panels graded
    # geometrically towards the two rims, where the charge has its edge singularity.
    def graded(n, ratio=1.12):
        w = ratio ** np.arange(n // 2)
        w = np.concatenate([w, w[::-1]]) if n % 2 == 0 else np.concatenate([w, [w[-1]], w[::-1]])
        x = np.concatenate([[0.0], np.cumsum(w)])
        return x / x[-1]
    ends = []
    # Cap radii graded towards the rim.
    cap = np.sort(a - a * np.linspace(1, 0, panels_cap + 1) ** 2)
    side = length * graded(panels_side)
    for k in range(panels_cap):  # bottom cap, r from 0 to a
        ends.append(((cap[k], 0.0), (cap[k + 1], 0.0)))
    for k in range(panels_side):
        ends.append(((a, side[k]), (a, side[k + 1])))
    for k in range(panels_cap):
        ends.append(((cap[k + 1], length), (cap[k], length)))
    ends = np.array(ends)
    n = len(ends)
    mid = ends.mean(axis=1)
    g, w = np.polynomial.legendre.leggauss(12)
    # Quadrature points of every panel: position, weight times ring radius (surface element).
    along = (0.5 * (g + 1))[None, :, None]
    qp = ends[:, 0, None, :] + (ends[:, 1, None, :] - ends[:, 0, None, :]) * along
    plen = np.linalg.norm(ends[:, 1] - ends[:, 0], axis=1)
    qw = 0.5 * w[None, :] * plen[:, None] * qp[:, :, 0]
    mat = np.zeros((n, n))
    for i in range(n):
        r0, z0 = mid[i]
        mat[i] = (ring_kernel(r0, z0, qp[:, :, 0], qp[:, :, 1]) * qw).sum(axis=1)
        # Own and touching panels: the log singularity, integrated by subdivision towards it.
        for j in range(max(0, i - 1), min(n, i + 2)):
            a0, a1 = ends[j]
            tot = 0.0
            for lo, hi in ((0.0, 0.5), (0.5, 1.0)):
                edges = lo + (hi - lo) * np.concatenate([[0], np.geomspace(1e-7, 1, 30)])
                if j == i and lo == 0.0:
                    edges = hi - (hi - lo) * np.concatenate([[0], np.geomspace(1e-7, 1, 30)])
                for u0, u1 in zip(edges[:-1], edges[1:]):
                    u = 0.5 * (u0 + u1) + 0.5 * (u1 - u0) * g
                    p = a0[None, :] + (a1 - a0)[None, :] * u[:, None]
                    ww = 0.5 * abs(u1 - u0) * w * plen[j] * p[:, 0]
                    with np.errstate(all='ignore'):
                        k = ring_kernel(r0, z0, p[:, 0], p[:, 1])
                    tot += np.nansum(k * ww)
            mat[i, j] = tot
    # Charge per panel = sigma * 2 pi * integral r ds; potential 1 everywhere.
    sigma = np.linalg.solve(mat / (4 * np.pi * EPS0), np.ones(n))
    area = 2 * np.pi * 0.5 * plen * (ends[:, 0, 0] + ends[:, 1, 0])
    return float((sigma * area).sum())


def main(argv):
    if argv[1] == 'pair':
        a, h1, h2, s = map(float, argv[2:6])
        eps_r = float(argv[6]) if len(argv) > 6 else 1.0
        c = pair(a, h1, h2, s, eps_r)
        print('%.10e %.10e %.10e' % (c[0, 0], c[1, 1], c[0, 1]))
    elif argv[1] == 'lines':
        a, eps_r, harmonics = float(argv[2]), float(argv[3]), int(argv[4])
        centres = [complex(*map(float, c.split(','))) for c in argv[5:]]
        for row in lines(a, centres, eps_r, harmonics):
            print(' '.join('%.10e' % v for v in row))
    elif argv[1] == 'rod':
        print('%.10e' % rod(float(argv[2]), float(argv[3])))
    else:
        raise SystemExit(__doc__)


if __name__ == '__main__':
    main(sys.argv)
