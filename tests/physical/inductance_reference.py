"""Independent references for the mutual inductances of touching, overlapping and imaged wires,
by quadrature (scipy, numpy) under Debian's Python.

Reads one case a line on stdin, writes one number a line (henries):
  tubes A L D               -> mutual partial inductance of two parallel straight wires of radius
                               A and length L, axes D apart, the current of each spread evenly
                               round its surface: mu0 / (4 pi) times the mean over both surfaces
                               of the double integral of 1/R along the axis (closed form), the
                               two angles by quadrature
  surface A N X Y Z ... X Y Z M X Y Z ... X Y Z
                            -> mutual partial inductance of two polyline wires (N and M points) of
                               radius A with surface currents: for each pair of straight pieces
                               (t1 . t2) times the mean over both surfaces of the integral of 1/R,
                               the integral along the second piece in closed form, the angles
                               and the length of the first piece by quadrature (3-D); within
                               2e-6 of scipy's adaptive nquad on a stitch case, in a second
                               instead of minutes. Pieces on one axis: the angle between the two
                               surface points by adaptive quadrature (1-D)
  loop D N X Y Z ... M X Y Z ...
                            -> loop mutual inductance of two thin wires over a perfect ground
                               plane at z = -D, each closed by vertical connectors down to the
                               plane: the first loop against the second and its image (x, y
                               currents reversed, z currents kept), filament pairs by 2-D
                               quadrature of 1/R
"""
import math
import sys

import numpy as np
from scipy import integrate

MU0_OVER_4PI = 1e-7
QUAD = dict(epsabs=0.0, epsrel=1e-9, limit=200)
ANGLES = int(sys.argv[1]) if len(sys.argv) > 1 else 128  # trapezoid points round each wire


def axial(rho, s0, s1, r0, r1):
    """Integral over x in [s0, s1], y in [r0, r1] of 1 / sqrt((x - y)^2 + rho^2)."""

    def h(w):
        return w * math.asinh(w / rho) - math.hypot(w, rho)

    return h(s1 - r0) - h(s0 - r0) - h(s1 - r1) + h(s0 - r1)


def tubes(a, length, d):
    def over_circle(s):
        # Mean over the second surface of the axial integral, seen from a point s from its axis.
        def f(psi):
            rho = math.sqrt(max(s * s + a * a - 2 * s * a * math.cos(psi), 0.0))
            return axial(max(rho, 1e-300), 0, length, 0, length)
        return integrate.quad(f, 0, math.pi, **QUAD)[0] / math.pi

    def outer(theta):
        return over_circle(math.hypot(a * math.cos(theta) - d, a * math.sin(theta)))

    if d == 0:
        return MU0_OVER_4PI * over_circle(a)
    # The surfaces cross where the point of the first lies at distance a from the second axis.
    breaks = [math.acos(d / (2 * a))] if 0 < d < 2 * a else []
    edges = [0.0] + breaks + [math.pi]
    total = sum(integrate.quad(outer, lo, hi, **QUAD)[0] for lo, hi in zip(edges, edges[1:]))
    return MU0_OVER_4PI * total / math.pi


def pieces(points):
    return [(np.array(p), np.array(q)) for p, q in zip(points, points[1:])]


def frame(u):
    helper = np.array([1.0, 0, 0]) if abs(u[0]) < 0.9 else np.array([0, 1.0, 0])
    e1 = np.cross(u, helper)
    e1 /= np.linalg.norm(e1)
    return e1, np.cross(u, e1)


def surface_pair(a, p, q):
    """(t1 . t2) times the mean over both surfaces of the integral of 1/R, pieces p and q."""
    p0, p1 = p
    q0, q1 = q
    lp, lq = np.linalg.norm(p1 - p0), np.linalg.norm(q1 - q0)
    u, v = (p1 - p0) / lp, (q1 - q0) / lq
    dot = float(u @ v)
    if abs(dot) < 1e-15:
        return 0.0
    offset = q0 - p0
    if abs(abs(dot) - 1) < 1e-12 and np.linalg.norm(offset - (offset @ u) * u) < 1e-12 * lp:
        # One axis: the distance of two surface points depends on the angle between them only.
        r0, r1 = sorted([offset @ u, (q1 - p0) @ u])

        def f(psi):
            return axial(max(2 * a * math.sin(psi / 2), 1e-300), 0, lp, r0, r1)
        return dot * integrate.quad(f, 0, math.pi, **QUAD)[0] / math.pi
    e1, e2 = frame(u)
    f1, f2 = frame(v)
    # Both angles by the trapezoid rule (periodic: it converges fast), the first piece by
    # Gauss-Legendre panels, finer where it comes within a few radii of the second piece (where
    # the surfaces may meet and the integrand peaks); the integral along the second piece in
    # closed form.
    angles = np.arange(ANGLES) * (2 * np.pi / ANGLES)
    ring_p = a * (np.cos(angles)[:, None] * e1 + np.sin(angles)[:, None] * e2)
    ring_q = a * (np.cos(angles)[:, None] * f1 + np.sin(angles)[:, None] * f2)
    w0 = ring_p[:, None, :] - ring_q[None, :, :] + (p0 - q0)

    def mean_over_angles(t):
        w = w0 + t * u
        tau = w @ v
        rho = np.sqrt(np.maximum(np.einsum("ijk,ijk->ij", w, w) - tau * tau, 1e-300))
        return float(np.mean(np.arcsinh((lq - tau) / rho) + np.arcsinh(tau / rho)))

    ts = np.linspace(0, lp, 2001)
    near = [t for t in ts if _segment_distance(p0 + t * u, q0, q1) < 4 * a]
    edges = set(np.linspace(0, lp, 17))
    if near:
        edges |= set(np.linspace(min(near), max(near), 33))
    edges = sorted(edges)
    nodes, weights = np.polynomial.legendre.leggauss(10)
    total = 0.0
    for lo, hi in zip(edges, edges[1:]):
        half = (hi - lo) / 2
        total += half * sum(wk * mean_over_angles(lo + half * (1 + xk))
                            for xk, wk in zip(nodes, weights))
    return dot * total


def _segment_distance(x, q0, q1):
    d = q1 - q0
    t = min(max(float((x - q0) @ d) / float(d @ d), 0.0), 1.0)
    return float(np.linalg.norm(x - (q0 + t * d)))


def surface(a, first, second):
    return MU0_OVER_4PI * sum(surface_pair(a, p, q) for p in pieces(first)
                              for q in pieces(second))


def loop_pieces(points, depth):
    """The wire closed down to the plane, and the image pieces in the sense of their currents."""
    start, end = np.array(points[0]), np.array(points[-1])
    path = [start * [1, 1, 0] + [0, 0, -depth]] + [np.array(p) for p in points]
    path.append(end * [1, 1, 0] + [0, 0, -depth])
    real = pieces(path)
    mirror = np.array([1.0, 1.0, -1.0])
    shift = np.array([0, 0, -2 * depth])
    # The image of a current element (jx, jy, jz) at (x, y, z) is (-jx, -jy, jz) at
    # (x, y, -2D - z): the mirrored piece run backwards.
    images = [(q * mirror + shift, p * mirror + shift) for p, q in real]
    return real, images


def filament_pair(p, q):
    p0, p1 = p
    q0, q1 = q
    u, v = p1 - p0, q1 - q0
    dot = float(u @ v) / (np.linalg.norm(u) * np.linalg.norm(v))

    def f(s, t):
        return 1.0 / np.linalg.norm(p0 + t * u - q0 - s * v)

    value = integrate.dblquad(f, 0, 1, 0, 1, epsabs=0.0, epsrel=1e-10)[0]
    return dot * value * np.linalg.norm(u) * np.linalg.norm(v)


def loop(depth, first, second):
    real_a, _ = loop_pieces(first, depth)
    real_b, images_b = loop_pieces(second, depth)
    return MU0_OVER_4PI * sum(filament_pair(p, q) for p in real_a for q in real_b + images_b)


def polylines(values):
    n = int(values[0])
    first = [values[1 + 3 * k:4 + 3 * k] for k in range(n)]
    rest = values[1 + 3 * n:]
    m = int(rest[0])
    second = [rest[1 + 3 * k:4 + 3 * k] for k in range(m)]
    return first, second


for line in sys.stdin:
    name, *args = line.split()
    values = [float(x) for x in args]
    if name == "tubes":
        result = tubes(*values)
    elif name == "surface":
        result = surface(values[0], *polylines(values[1:]))
    else:
        result = loop(values[0], *polylines(values[1:]))
    print(repr(result), flush=True)
