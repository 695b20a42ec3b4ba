"""Reading the physical model's JSON in the export checks."""
import numpy as np


def matrix(value, n):
    """A matrix of the JSON as a dense n x n array: a list of rows, or {"sparse": [[i, j, v]]}
    with the lower triangle's kept entries."""
    if isinstance(value, dict):
        m = np.zeros((n, n))
        for i, j, v in value['sparse']:
            m[i, j] = m[j, i] = v
        return m
    return np.array(value, dtype=float)
