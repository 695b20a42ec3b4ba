"""Checks a wire's R-L ladder in ngspice against the exact internal impedance of a round wire.

Usage: ladder_check.py DECK.cir RADIUS_M RESISTIVITY_OHM_M LENGTH_M FMAX_HZ
DECK.cir drives node `a` with 1 A (AC 1, and a 0 -> 1 A step at 1 ns) through the ladder to
ground. The AC sweep (20 points a decade, 1 kHz to FMAX) must give R(f) and
L_int(f) = Im Z / omega within 2% of z = k rho J0(ka) / (2 pi a J1(ka)), k = sqrt(-j omega mu0
/ rho), evaluated here with mpmath; the transient must settle to the DC resistance (to 0.1%).
"""
import subprocess
import sys

import mpmath

MU0 = 4e-7 * mpmath.pi


def exact(f, a, rho):
    k = mpmath.sqrt(-1j * 2 * mpmath.pi * f * MU0 / rho)
    return complex(k * rho / (2 * mpmath.pi * a) * mpmath.besselj(0, k * a) /
                   mpmath.besselj(1, k * a))


def run(deck, lines, out):
    text = open(deck).read().replace('.end\n', '') + '\n'.join(
        ['.control'] + lines + [f'wrdata {out} v(a)', 'quit', '.endc', '.end']) + '\n'
    open(deck + '.run', 'w').write(text)
    subprocess.run(['ngspice', '-b', deck + '.run'], check=True, capture_output=True)
    return [[float(x) for x in line.split()] for line in open(out) if line.strip()]


def main(deck, a, rho, length, fmax):
    mpmath.mp.dps = 30
    worst = 0.0
    for f, re_v, im_v in run(deck, [f'ac dec 20 1e3 {fmax!r}'], deck + '.ac'):
        if f > fmax * 1.0001:
            continue
        z = exact(f, a, rho) * length
        omega = 2 * mpmath.pi * f
        worst = max(worst, abs(re_v / z.real - 1), abs(im_v / z.imag - 1))
    print(f'largest relative error of R and L_int {worst:.4f}')
    # The slowest rung's time constant is at most 1 / (2 pi f_skin), f_skin = rho / (pi mu0 a^2)
    # where the skin depth equals the radius; 15 of them settle to 3e-7.
    t_end = float(15 * MU0 * a * a / (2 * rho)) + 1e-9
    rows = run(deck, [f'tran {t_end / 2000!r} {t_end!r}'], deck + '.tran')
    r_dc = rho * length / (float(mpmath.pi) * a * a)
    settled = rows[-1][1]
    print(f'transient: {settled!r} V at {t_end!r} s, DC resistance {r_dc!r} Ohm')
    if worst > 0.02 or abs(settled / r_dc - 1) > 1e-3:
        sys.exit('the ladder misses the internal impedance')


if __name__ == '__main__':
    main(sys.argv[1], *map(float, sys.argv[2:]))
