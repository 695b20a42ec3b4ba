"""The physical model as .npz holds every figure of its JSON: ostrel-cli writes both for the
bundled example and for a generated package of more than 1,000 wires, and every array that
numpy.load (no pickles) reads must equal the JSON's figure (same double) under the names of
docs/physical.md, with no array missing and none left over. The large package's JSON must also
point to .npz, in its notes and on stderr."""
import argparse
import json
import pathlib
import shutil
import subprocess
import sys
import tempfile

import numpy as np


def flat(name, lists, out):
    """A list of lists as NAME (all items) and NAME_start (where each list starts)."""
    out[name] = np.array([x for item in lists for x in item], dtype=np.int64)
    out[name + '_start'] = np.cumsum([0] + [len(item) for item in lists], dtype=np.int64)


def matrix(name, value, out):
    """A JSON matrix: rows as NAME, {"sparse": [[i, j, v]]} as NAME_i, NAME_j, NAME_value."""
    if value is None:
        return
    if isinstance(value, dict):
        rows = np.array(value['sparse'], dtype=float).reshape(-1, 3)
        out[name + '_i'] = rows[:, 0].astype(np.int64)
        out[name + '_j'] = rows[:, 1].astype(np.int64)
        out[name + '_value'] = rows[:, 2]
    else:
        out[name] = np.array(value, dtype=float).reshape(len(value), len(value))


def expected(model):
    """The arrays docs/physical.md says the .npz of this JSON model holds."""
    out = {'frequencies_hz': np.array(model['frequencies_hz'], dtype=float),
           'ground_depth_um': np.array(model['ground_depth_um'], dtype=float)}
    wires = model['wires']
    for field in ('name', 'kind'):
        out['wires_' + field] = np.array([w[field] for w in wires], dtype=str)
    for field in ('diameter_um', 'resistivity_ohm_m', 'length_um', 'resistance_dc_mohm'):
        out['wires_' + field] = np.array([w[field] for w in wires], dtype=float)
    out['wires_path_um'] = np.array([p for w in wires for p in w['path_um']], dtype=float).reshape(-1, 3)
    out['wires_path_start'] = np.cumsum([0] + [len(w['path_um']) for w in wires])
    matrix('inductance_partial_nh', model['inductance_partial_nh'], out)
    matrix('inductance_loop_nh', model['inductance_loop_nh'], out)
    results = model['results']
    for field in ('frequency_hz', 'resistance_mohm', 'internal_inductance_nh'):
        out['results_' + field] = np.array([r[field] for r in results], dtype=float)
    for kind in ('proximity_partial', 'proximity_loop'):
        for figure in ('delta_resistance_mohm', 'delta_inductance_nh'):
            rows = [[f] + entry for f, r in enumerate(results)
                    for entry in r[kind][figure]['sparse']]
            rows = np.array(rows, dtype=float).reshape(-1, 4)
            name = f'results_{kind}_{figure}'
            for k, column in enumerate(('_f', '_i', '_j')):
                out[name + column] = rows[:, k].astype(np.int64)
            out[name + '_value'] = rows[:, 3]
    if 'capacitance_pf' in model:
        out['eps_r'] = np.array(model['eps_r'], dtype=float)
        matrix('capacitance_pf', model['capacitance_pf'], out)
    flat('coincident', model['coincident'], out)
    flat('conductors', model['conductors'], out)
    pairs = model['clearance']
    out['clearance_wires'] = np.array([c['wires'] for c in pairs], dtype=np.int64).reshape(-1, 2)
    out['clearance_at_um'] = np.array([c['at_um'] for c in pairs], dtype=float).reshape(-1, 3)
    out['clearance_clearance_um'] = np.array([c['clearance_um'] for c in pairs], dtype=float)
    out['clearance_joined'] = np.array([c['joined'] for c in pairs], dtype=bool)
    nets = model['nets']
    out['nets_name'] = np.array([n['name'] for n in nets], dtype=str)
    out['nets_role'] = np.array([n['role'] for n in nets], dtype=str)
    flat('nets_wires', [n['wires'] for n in nets], out)
    shape = (len(nets), len(results))
    for prefix, get in (('nets_results_', lambda r: r),
                        ('nets_results_supply_loop_', lambda r: r.get('supply_loop'))):
        for field in ('resistance_mohm', 'inductance_nh'):
            out[prefix + field] = np.array(
                [[get(r)[field] if get(r) else np.nan for r in n['results']] for n in nets],
                dtype=float).reshape(shape)
    diff = model['pairs']
    out['pairs_wires'] = np.array([[p['positive'], p['negative']] for p in diff],
                                  dtype=np.int64).reshape(-1, 2)
    for field in ('odd_inductance_nh', 'even_inductance_nh', 'odd_capacitance_pf',
                  'even_capacitance_pf', 'z_odd_ohm', 'z_even_ohm', 'z_diff_ohm'):
        out['pairs_' + field] = np.array(
            [np.nan if p[field] is None else p[field] for p in diff], dtype=float)
    out['pairs_neighbour_k'] = np.array(
        [p['neighbour']['k'] if p['neighbour'] else np.nan for p in diff], dtype=float)
    out['pairs_neighbour_wire'] = np.array(
        [p['neighbour']['wire'] if p['neighbour'] else -1 for p in diff], dtype=np.int64)
    out['return'] = np.array([model['return']], dtype=str)
    if model['return'] == 'wires':
        loops = [r['return_loop'] for r in results]
        out['results_return_loop_wires'] = np.array(loops[0]['wires'], dtype=np.int64)
        for field in ('resistance_mohm', 'inductance_nh'):
            out['results_return_loop_' + field] = np.array([l[field] for l in loops], dtype=float)
    out['notes'] = np.array([n for n in model['notes'] if '.npz' not in n], dtype=str)
    return out


def compare(json_path, npz_path):
    """Faults of the .npz against the JSON, one line each."""
    want = expected(json.loads(pathlib.Path(json_path).read_text(encoding='utf-8')))
    faults = []
    with np.load(npz_path, allow_pickle=False) as got:
        names = set(got.files)
        faults += [f'{name}: missing' for name in sorted(set(want) - names)]
        faults += [f'{name}: not in the JSON' for name in sorted(names - set(want))]
        for name in sorted(names & set(want)):
            a, b = got[name], want[name]
            if a.dtype.kind != (b.dtype.kind if b.size else a.dtype.kind) or a.dtype.kind == 'O':
                faults.append(f'{name}: type {a.dtype}, expected kind {b.dtype}')
            elif a.shape != b.shape:
                faults.append(f'{name}: shape {a.shape}, JSON {b.shape}')
            elif not np.array_equal(a, b, equal_nan=a.dtype.kind == 'f'):
                faults.append(f'{name}: values differ from the JSON')
    return faults


def run(cli, args, cwd):
    done = subprocess.run([cli] + args, cwd=cwd, capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit(f'{" ".join(args)}: exit {done.returncode}: {done.stderr}')
    return done.stderr


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--cli')
    parser.add_argument('--genpkg')
    parser.add_argument('--examples')
    parser.add_argument('--compare', nargs=2, metavar=('JSON', 'NPZ'))
    a = parser.parse_args()
    if a.compare:
        faults = compare(*a.compare)
        print('\n'.join(faults + [f'1 passed, 0 failed' if not faults else '0 passed, 1 failed']))
        return 1 if faults else 0
    faults = []
    with tempfile.TemporaryDirectory() as tmp:
        for name in ('AAAc.zv', 'AAAc.tmv'):
            shutil.copy(pathlib.Path(a.examples) / name, tmp)
        subprocess.run([a.genpkg, '--wires', '1040', '--out', tmp], check=True,
                       stdout=subprocess.DEVNULL)
        cases = [('AAAc.zv', ['--frequencies', '0,1e6,1e9', '--clearance', '60', '--return',
                              'wires', '--pairs', 'T2/T3,B2/B3'], False),
                 ('pkg1040.zv', ['--no-capacitance', '--frequencies', '1e8,2e9'], True)]
        for settings, options, large in cases:
            stem = settings.split('.')[0]
            stderr = run(a.cli, [settings, '--physical', stem + '.json'] + options, tmp)
            run(a.cli, [settings, '--physical', stem + '.NPZ'] + options, tmp)
            notes = json.loads(pathlib.Path(tmp, stem + '.json').read_text())['notes']
            advised = ['.npz' in n for n in notes].count(True) == 1 and '.npz' in stderr
            if advised != large:
                faults.append(f'{settings}: a note pointing to .npz {"missing" if large else "given"}')
            faults += [f'{settings}: {f}' for f in compare(pathlib.Path(tmp, stem + '.json'),
                                                            pathlib.Path(tmp, stem + '.NPZ'))]
    for fault in faults:
        print(fault)
    print(f'{2 - len({f.split(":")[0] for f in faults})} passed, '
          f'{len({f.split(":")[0] for f in faults})} failed')
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main())
