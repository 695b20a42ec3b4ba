"""Per-length resistance and inductance matrices of parallel round wires with the skin and
proximity effects, from a fine filament mesh of their cross-sections (2-D eddy currents).

A reference for the model's proximity correction, independent of it: each wire's cross-section
is cut into annular cells, graded towards the surface so that the outermost cells are a quarter
of a skin depth thick. Each cell carries a uniform current; its per-length resistance is
1 / (sigma A), its per-length inductance to another cell -(mu0 / 2 pi) ln g, g their geometric
mean distance (Grover): the centroid distance for cells apart, a 4 x 4 Gauss rule over both
cells for neighbours, and the exact GMD of a rectangle for a cell with itself. All cells of one wire see one voltage drop, so the
wires' admittance is B^T Z^-1 B and their impedance its inverse. A perfect ground plane at y = 0
adds each cell's image with the opposite current. Without a plane the inductances hold the
reference length 1 m (a constant added to every entry); R, L_ii - L_ij and every loop figure do
not depend on it.

  proximity_reference.py F RHO A X1,Y1 [X2,Y2 ...] [--plane] [--fine]
      prints "R" then the resistance matrix (ohm/m), "L" then the inductance matrix (H/m)
  proximity_reference.py --check
      checks the mesh against the exact limits (the Bessel solution of one wire, the two-wire
      line of thin skin, far wires); exits 1 on a miss
  proximity_reference.py --refine
      the coarse mesh against a finer one at the closest pitch (minutes)
  proximity_reference.py --table FILE
      writes the cases the model's tests compare with (minutes), one line each:
      wires, pitch in diameters, height of the centres over the plane in radii (0: no plane),
      frequency, then R (ohm/m) and L (H/m) row by row; gold wire of 1 mil
  proximity_reference.py --verify FILE
      recomputes the quickest lines of FILE and compares them (1e-9)

Positions and radius in metres, F in Hz (0: DC), RHO in ohm metres.
"""
import math
import sys

import numpy as np
import scipy.linalg
import scipy.special

MU0 = 4e-7 * math.pi


def skin_depth(f, rho):
    return math.inf if f == 0 else math.sqrt(rho / (math.pi * f * MU0))


def rectangle_ln_gmd(w, h):
    """ln of the geometric mean distance of a w x h rectangle from itself (Rosa, Grover)."""
    d = math.hypot(w, h)
    return (math.log(d) - (w * w / (6 * h * h)) * math.log(d / w)
            - (h * h / (6 * w * w)) * math.log(d / h) + (2 * w / (3 * h)) * math.atan(h / w)
            + (2 * h / (3 * w)) * math.atan(w / h) - 25.0 / 12.0)


def rectangle_pair_mean_ln(x1, x2, y1, y2, u1, u2, v1, v2):
    """Mean of ln d between two axis-aligned rectangles [x1, x2] x [y1, y2] and [u1, u2] x
    [v1, v2], exact: the mixed differences of F, whose d^4 F / dx^2 dy^2 is ln sqrt(x^2 + y^2)
    (the method of Grover's tables for bars). Arrays of pairs; coordinates best in units of the
    cells' size, since the sum cancels."""
    def f(x, y):
        r2 = x * x + y * y
        safe = np.where(r2 > 0, r2, 1.0)
        ln_r2 = np.where(r2 > 0, np.log(safe), 0.0)
        at_y = np.where(x != 0, np.arctan(y / np.where(x != 0, x, 1.0)), 0.0)
        at_x = np.where(y != 0, np.arctan(x / np.where(y != 0, y, 1.0)), 0.0)
        return ((x * x * y * y / 8 - (x ** 4 + y ** 4) / 48) * ln_r2 + x ** 3 * y / 6 * at_y
                + x * y ** 3 / 6 * at_x - 25.0 / 48.0 * x * x * y * y)

    total = 0.0
    for u, su in ((u2, 1), (u1, -1)):
        for x, sx in ((x1, 1), (x2, -1)):
            for v, sv in ((v2, 1), (v1, -1)):
                for y, sy in ((y1, 1), (y2, -1)):
                    total = total + su * sx * sv * sy * f(u - x, v - y)
    return total / ((x2 - x1) * (y2 - y1) * (u2 - u1) * (v2 - v1))


GAUSS_X, GAUSS_W = np.polynomial.legendre.leggauss(4)


def wire_cells(a, f, rho, fine, angular=None):
    """Cells of a round wire of radius a centred at 0: centroid x, y, area, ln self GMD, size;
    16 Gauss points (x, y, weight summing to 1) of each cell for the integrals of ln d between
    neighbouring cells; and each cell's ring and angle (inner radius, outer radius, middle
    angle, angle spanned; 0 spanned for the disc at the centre)."""
    delta = skin_depth(f, rho)
    t = min(delta / (12 if fine else 8), a / 40)
    cap = a / (32 if fine else 24)
    growth = 1.12 if fine else 1.15
    edges = [a]
    while edges[-1] > cap:
        edges.append(max(edges[-1] - t, 0.0))
        t = min(t * growth, cap)
    inner = edges[-1]
    cells, points, polar = [], [], []
    if inner > 0:
        polar.append((0.0, inner, 0.0, 0.0))
        # A uniform disc's log potential outside it is that of its centre (Gauss), so its
        # points all sit there.
        cells.append((0.0, 0.0, math.pi * inner * inner, math.log(inner) - 0.25, 2 * inner))
        points.append(np.column_stack([np.zeros(16), np.zeros(16), np.full(16, 1 / 16)]))
    # Around the wire the current varies as the neighbours' few harmonics do: a fixed count of
    # cells, fewer on the inner rings.
    most = angular or (128 if fine else 64)
    for outer, r1 in zip(edges[:-1], edges[1:]):
        h = outer - r1
        mid = 0.5 * (outer + r1)
        n = max(8, min(most, int(round(2 * math.pi * mid / h))))
        dtheta = 2 * math.pi / n
        area = 0.5 * (outer * outer - r1 * r1) * dtheta
        # Centroid of an annular sector: (2/3) (r2^3 - r1^3) / (r2^2 - r1^2) sinc(dtheta / 2).
        rc = (2.0 / 3.0) * (outer ** 3 - r1 ** 3) / (outer ** 2 - r1 ** 2) * (
            math.sin(dtheta / 2) / (dtheta / 2))
        ln_gmd = rectangle_ln_gmd(h, mid * dtheta)
        rq = mid + 0.5 * h * GAUSS_X
        for k in range(n):
            th = (k + 0.5) * dtheta
            tq = th + 0.5 * dtheta * GAUSS_X
            rr, tt = np.meshgrid(rq, tq, indexing="ij")
            ww = np.outer(GAUSS_W, GAUSS_W) * rr * (0.25 * h * dtheta) / area
            cells.append((rc * math.cos(th), rc * math.sin(th), area, ln_gmd,
                          max(h, mid * dtheta)))
            polar.append((r1, outer, th, dtheta))
            points.append(np.column_stack([(rr * np.cos(tt)).ravel(), (rr * np.sin(tt)).ravel(),
                                           ww.ravel()]))
    return np.array(cells), np.array(points), np.array(polar)


def impedance(f, rho, a, centres, plane=False, fine=False, angular=None):
    """Per-length R (ohm/m) and L (H/m) matrices of the wires at `centres`."""
    one, one_points, one_polar = wire_cells(a, f, rho, fine, angular)
    count = len(one)
    polar = np.tile(one_polar, (len(centres), 1))
    cells = np.concatenate([one + [cx, cy, 0, 0, 0] for cx, cy in centres])
    points = np.concatenate([one_points + [cx, cy, 0] for cx, cy in centres])
    owner = np.repeat(np.arange(len(centres)), count)
    x, y, area, ln_gmd, size = cells.T
    dx = x[:, None] - x[None, :]
    d2 = dx * dx + (y[:, None] - y[None, :]) ** 2
    ln_d = 0.5 * np.log(np.where(d2 > 0, d2, 1.0))
    # Neighbouring cells: the mean of ln d over both cells by Gauss points, not the centroids.
    near_i, near_j = np.nonzero(d2 < (3 * np.maximum(size[:, None], size[None, :])) ** 2)
    off = near_i != near_j
    near_i, near_j = near_i[off], near_j[off]
    # Sectors of one wire within about an angular step of each other: both as rectangles in
    # the frame of the first (radial x, tangential y), whose mean ln d is exact.
    r1, r2, theta, dtheta = polar.T
    phi = np.angle(np.exp(1j * (theta[near_j] - theta[near_i])))
    aligned = ((dtheta[near_i] > 0) & (dtheta[near_j] > 0) & (owner[near_i] == owner[near_j]) &
               (np.abs(phi) <= 1.5 * np.maximum(dtheta[near_i], dtheta[near_j])))
    i, j = near_i[aligned], near_j[aligned]
    scale = size[i]
    hi, hj = (r2[i] - r1[i]) / scale, (r2[j] - r1[j]) / scale
    wi = 0.5 * (r1[i] + r2[i]) * dtheta[i] / scale
    wj = 0.5 * (r1[j] + r2[j]) * dtheta[j] / scale
    mi = 0.5 * (r1[i] + r2[i]) / scale
    xj = 0.5 * (r1[j] + r2[j]) * np.cos(phi[aligned]) / scale
    yj = 0.5 * (r1[j] + r2[j]) * np.sin(phi[aligned]) / scale
    ln_d[i, j] = np.log(scale) + rectangle_pair_mean_ln(
        mi - hi / 2, mi + hi / 2, -wi / 2, wi / 2, xj - hj / 2, xj + hj / 2, yj - wj / 2,
        yj + wj / 2)
    near_i, near_j = near_i[~aligned], near_j[~aligned]
    for start in range(0, len(near_i), 20000):
        i, j = near_i[start:start + 20000], near_j[start:start + 20000]
        pi, pj = points[i], points[j]
        ddx = pi[:, :, None, 0] - pj[:, None, :, 0]
        ddy = pi[:, :, None, 1] - pj[:, None, :, 1]
        weight = pi[:, :, None, 2] * pj[:, None, :, 2]
        ln_d[i, j] = np.sum(weight * 0.5 * np.log(ddx * ddx + ddy * ddy), axis=(1, 2))
    ln_d[np.diag_indices_from(ln_d)] = ln_gmd
    if plane:
        # The image of cell n at (x_n, -y_n) carries the opposite current.
        ln_d -= 0.5 * np.log(dx * dx + (y[:, None] + y[None, :]) ** 2)
    lf = -MU0 / (2 * math.pi) * ln_d
    nw = len(centres)
    b = np.zeros((len(x), nw))
    b[np.arange(len(x)), owner] = 1.0
    if f == 0:
        # At DC the current spreads evenly: each wire's R = rho / (pi a^2) of its cells' area,
        # and its inductance the area-weighted mean of the cell terms.
        wsum = b * area[:, None]
        total = wsum.sum(axis=0)
        r = np.diag(rho / total)
        lw = (wsum.T @ lf @ wsum) / np.outer(total, total)
        return r, lw
    omega = 2 * math.pi * f
    z = lf * (1j * omega)
    z[np.diag_indices_from(z)] += rho / area
    y_cells = scipy.linalg.solve(z, b.astype(complex), assume_a="sym")
    zw = np.linalg.inv(b.T @ y_cells)
    return zw.real, zw.imag / omega


def bessel_internal(f, a, rho):
    """Exact internal impedance per metre of one round wire: k rho J0(ka) / (2 pi a J1(ka))."""
    k = np.sqrt(-1j * 2 * math.pi * f * MU0 / rho)
    return k * rho / (2 * math.pi * a) * scipy.special.jv(0, k * a) / scipy.special.jv(1, k * a)


def check():
    a, rho = 12.7e-6, 2.2e-8
    misses = []

    def expect(what, got, want, tol):
        err = abs(got / want - 1)
        print(f"{what}: {got:.6g} against {want:.6g} ({err:.2e})")
        if not err <= tol:
            misses.append(what)

    # One wire: the mesh against the Bessel solution, R and the internal inductance (the
    # external part of the 1 m reference is mu0 / (2 pi) ln(1 / a)).
    for f in (1e8, 1e9, 1e10):
        r, l = impedance(f, rho, a, [(0.0, 0.0)])
        z = bessel_internal(f, a, rho)
        l_int = l[0, 0] - MU0 / (2 * math.pi) * math.log(1 / a)
        expect(f"one wire R at {f:g} Hz", r[0, 0], z.real, 3e-3)
        # L_int is 0.3% of the per-length L at 10 GHz; 2% of it is 6e-5 of the whole.
        expect(f"one wire L_int at {f:g} Hz", l_int, z.imag / (2 * math.pi * f),
               3e-3 if f < 5e9 else 2e-2)
    # Two-wire line of thin skin (10 GHz: skin depth 0.75 um on a 12.7 um radius): the loop's
    # external inductance mu0 / pi acosh(s / 2a), and each wire's R the isolated one times the
    # proximity factor (s / 2a) / sqrt((s / 2a)^2 - 1), both up to terms in delta / a.
    f = 1e10
    delta = skin_depth(f, rho)
    for ratio in (1.25, 1.5, 3.0):
        s = ratio * 2 * a
        r, l = impedance(f, rho, a, [(0.0, 0.0), (s, 0.0)])
        loop_l = l[0, 0] + l[1, 1] - 2 * l[0, 1]
        loop_r = r[0, 0] + r[1, 1] - 2 * r[0, 1]
        z = bessel_internal(f, a, rho)
        factor = ratio / math.sqrt(ratio * ratio - 1)
        expect(f"two-wire loop L at {ratio} diameters", loop_l,
               MU0 / math.pi * math.acosh(ratio) + 2 * factor * z.imag / (2 * math.pi * f),
               5e-3)
        expect(f"two-wire loop R at {ratio} diameters", loop_r, 2 * z.real * factor,
               2 * delta / a + 0.02 / (ratio - 1))
    # Far wires: no proximity; the mutual is mu0 / (2 pi) ln(1 / s).
    s = 100 * a
    r, l = impedance(1e9, rho, a, [(0.0, 0.0), (s, 0.0)])
    expect("far wires mutual L", l[0, 1], MU0 / (2 * math.pi) * math.log(1 / s), 1e-4)
    expect("far wires R", r[0, 0], bessel_internal(1e9, a, rho).real, 3e-3)
    if misses:
        print("missed: " + ", ".join(misses))
        return 1
    return 0


def refine():
    """The coarse mesh against the fine one: two wires at 1.25 diameters over a plane (their
    centres 1.5 radii up), where the proximity effect is strongest; prints the relative change
    of every entry."""
    a, rho = 12.7e-6, 2.2e-8
    centres = [(0.0, 1.5 * a), (2.5 * a, 1.5 * a)]
    for f in (1e8, 1e9, 1e10):
        rc, lc = impedance(f, rho, a, centres, plane=True)
        rf, lf = impedance(f, rho, a, centres, plane=True, fine=True)
        for i, j in ((0, 0), (1, 0)):
            print(f"{f:g} Hz R[{i}][{j}] {rc[i, j]:.6g} fine {rf[i, j]:.6g} "
                  f"({abs(rc[i, j] / rf[i, j] - 1):.2e}), L[{i}][{j}] {lc[i, j]:.6g} fine "
                  f"{lf[i, j]:.6g} ({abs(lc[i, j] / lf[i, j] - 1):.2e})")
    return 0


TABLE_RADIUS, TABLE_RHO = 12.7e-6, 2.2e-8


def table_cases():
    for wires in (2, 4):
        for pitch in (1.25, 1.5, 2.0, 3.0):
            for f in (1e8, 1e9, 1e10):
                yield wires, pitch, 0.0, f
    for height in (1.5, 3.0):
        for f in (1e9, 1e10):
            yield 2, 1.5, height, f


def table_line(wires, pitch, height, f):
    a = TABLE_RADIUS
    centres = [(k * pitch * 2 * a, height * a) for k in range(wires)]
    r, l = impedance(f, TABLE_RHO, a, centres, plane=height > 0)
    figures = [f"{v:.10e}" for v in list(r.flatten()) + list(l.flatten())]
    return f"{wires} {pitch:g} {height:g} {f:g} " + " ".join(figures)


def write_table(path):
    with open(path, "w") as out:
        for case in table_cases():
            out.write(table_line(*case) + "\n")
            out.flush()
    return 0


def verify_table(path):
    lines = [line.split() for line in open(path) if line.strip()]
    quick = [t for t in lines if t[0] == "2" and t[3] in ("1e+08", "1e+09") and t[2] == "0"][:3]
    misses = 0
    for t in quick:
        got = table_line(int(t[0]), float(t[1]), float(t[2]), float(t[3])).split()
        for x, y in zip(got[4:], t[4:]):
            if abs(float(x) - float(y)) > 1e-9 * abs(float(y)):
                print(f"line {' '.join(t[:4])}: {x} against {y}")
                misses += 1
    print(f"{len(quick)} lines recomputed, {misses} figures differ")
    return 1 if misses or not quick else 0


def main(argv):
    if len(argv) == 3 and argv[1] == "--table":
        return write_table(argv[2])
    if len(argv) == 3 and argv[1] == "--verify":
        return verify_table(argv[2])
    if argv[1:] == ["--check"]:
        return check()
    if argv[1:] == ["--refine"]:
        return refine()
    flags = {a for a in argv[1:] if a.startswith("--")}
    args = [a for a in argv[1:] if not a.startswith("--")]
    f, rho, a = (float(v) for v in args[:3])
    centres = [tuple(float(v) for v in c.split(",")) for c in args[3:]]
    r, l = impedance(f, rho, a, centres, "--plane" in flags, "--fine" in flags)
    print("R")
    for row in r:
        print(" ".join(f"{v:.10e}" for v in row))
    print("L")
    for row in l:
        print(" ".join(f"{v:.10e}" for v in row))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
