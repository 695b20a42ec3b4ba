"""Independent references for the physical model's tests, in 30-digit arithmetic (mpmath).

Reads one case a line on stdin, writes one line of results:
  zint F A RHO              -> Re z, Im z of the internal impedance per metre (Bessel solution)
  pair AX AY AZ ... BZ      -> double integral of 1/R over two filaments: the integral over the
                               second in closed form (asinh), over the first by tanh-sinh
"""
import sys

import mpmath as mp

mp.mp.dps = 30
MU0 = 4e-7 * mp.pi


def zint(f, a, rho):
    if f == 0:
        return rho / (mp.pi * a * a), mp.mpf(0)
    k = mp.sqrt(-1j * 2 * mp.pi * f * MU0 / rho)
    z = k * rho / (2 * mp.pi * a) * mp.besselj(0, k * a) / mp.besselj(1, k * a)
    return z.real, z.imag


def pair(p):
    a0, a1, b0, b1 = (mp.matrix(p[i:i + 3]) for i in range(0, 12, 3))
    l1, l2 = mp.norm(a1 - a0), mp.norm(b1 - b0)

    v = (b1 - b0) / l2

    def inner(s):
        w = a0 + (a1 - a0) * s - b0
        tau = (w.T * v)[0]
        rho = mp.sqrt(max(mp.norm(w) ** 2 - tau ** 2, mp.mpf(10) ** -60))
        return mp.asinh((l2 - tau) / rho) + mp.asinh(tau / rho)

    return (mp.quad(inner, mp.linspace(0, 1, 5)) * l1,)


for line in sys.stdin:
    name, *args = line.split()
    values = [mp.mpf(x) for x in args]
    out = zint(*values) if name == "zint" else pair(values)
    print(" ".join(mp.nstr(v, 20) for v in out), flush=True)
