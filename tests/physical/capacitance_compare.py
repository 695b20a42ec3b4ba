#!/usr/bin/python3
"""Compares the capacitance matrices of two physical-model .npz files (ostrel-cli --physical).

Usage: capacitance_compare.py REFERENCE.npz NEW.npz

Prints the worst entry of |C_new - C_ref| / (1e-3 |C_ref| + 1e-5 sqrt(C_ii C_jj)), the ii and jj
taken from the reference, with its wires, and exits 1 when it exceeds 1. Entries present in one
matrix only count against a zero in the other. Dense (n x n) and sparse (_i, _j, _value) forms
are both read.
"""

import sys

import numpy as np


def entries(path):
    z = np.load(path)
    if "capacitance_pf" in z.files:
        c = z["capacitance_pf"]
        i, j = np.tril_indices(c.shape[0])
        return {(int(a), int(b)): float(c[a, b]) for a, b in zip(i, j)}
    out = {}
    for a, b, v in zip(z["capacitance_pf_i"], z["capacitance_pf_j"], z["capacitance_pf_value"]):
        a, b = int(a), int(b)
        out[(max(a, b), min(a, b))] = float(v)
    return out


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    ref, new = entries(sys.argv[1]), entries(sys.argv[2])
    diag = {i: v for (i, j), v in ref.items() if i == j}
    worst, where = 0.0, None
    for key in set(ref) | set(new):
        i, j = key
        r, n = ref.get(key, 0.0), new.get(key, 0.0)
        bound = 1e-3 * abs(r) + 1e-5 * np.sqrt(diag[i] * diag[j])
        ratio = abs(n - r) / bound
        if ratio > worst:
            worst, where = ratio, (i, j, r, n)
    print(f"entries {len(ref)} / {len(new)}, worst ratio {worst:.4g} at {where}")
    sys.exit(0 if worst <= 1 else 1)


if __name__ == "__main__":
    main()
