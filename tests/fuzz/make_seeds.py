#!/usr/bin/env python3
"""Writes the fuzzer's seed corpus: the call contract's edge cases, encoded in
the byte format gateway_fuzzer.cpp decodes.

    make_seeds.py DIR
"""
import math
import os
import struct
import sys

# The decoder's table of special values, in its order (selector 128 + index).
SPECIAL = [math.nan, -math.nan, math.inf, -math.inf, 0.0, -0.0, 0.5, -0.5,
           0.49999999999999994, -1.5, 1e10, -5.0, 46341.0, 2147483648.0,
           -2147483649.0, 1e-20, -1e-20, 5e-324, 1e300, 1.0, 2.0, 3.99]


def value(v):
    for i, s in enumerate(SPECIAL):
        if struct.pack('<d', s) == struct.pack('<d', v):
            return bytes([128 + i])
    if float(v * 4).is_integer() and -128 <= v * 4 <= 127:
        return bytes([64, int(v * 4) & 0xFF])
    return bytes([0]) + struct.pack('<d', v)


def array(rows, columns, values, kind=0):
    assert len(values) == rows * columns
    return bytes([kind, rows, columns]) + b''.join(value(v) for v in values)


def call(inputs, outputs=1):
    return bytes([len(inputs), outputs]) + b''.join(inputs)


def scene(side, code, cosines=(1.0, 0.6, 0.0), sines=(0.0, 0.8, 1.0), detectors=9):
    views = len(cosines)
    samples = [((b * 7 + v * 3) % 11) / 4 for v in range(views) for b in range(detectors)]
    return [array(detectors, views, samples), array(1, views, list(cosines)),
            array(views, 1, list(sines)), array(1, 1, [side]), array(1, 1, [code])]


SEEDS = {
    'worked_example_1': call([array(5, 1, [1, 2, 3, 4, 5]), array(1, 1, [1.0]), array(1, 1, [0.0]),
                              array(1, 1, [3.0]), array(1, 1, [1.0])]),
    'worked_example_3': call([array(4, 1, [10, 20, 30, 40]), array(1, 1, [0.6]), array(1, 1, [0.8]),
                              array(1, 1, [2.0]), array(1, 1, [0.0])]),
    'four_inputs': call(scene(5, 1)[:4]),
    'six_inputs': call(scene(5, 1) + [array(1, 1, [1.0])]),
    'two_outputs': call(scene(5, 1), outputs=2),
    'no_outputs': call(scene(5, 1), outputs=0),
    'side_half': call(scene(0.5, 1)),
    'side_3_99': call(scene(3.99, 1)),
    'side_negative': call(scene(-5.0, 1)),
    'side_nan': call(scene(math.nan, 1)),
    'side_huge': call(scene(1e10, 1)),
    'side_46341': call(scene(46341.0, 0)),
    'code_2': call(scene(6, 2.0)),
    'code_minus_half': call(scene(6, -0.5)),
    'ties': call(scene(2, 0, cosines=(0.5, -0.5, -1.5, 0.49999999999999994), sines=(0, 0, 0, 0))),
    'tiny_negative_linear': call(scene(2, 1, cosines=(-1e-20,), sines=(0.0,))),
    'detector_too_short': call(scene(17, 1, detectors=3)),
    'huge_coefficients': call(scene(7, 0, cosines=(1e300, -1e10), sines=(0.5, 1e300))),
    'infinite_coefficient': call(scene(7, 1, cosines=(math.inf, 0.0), sines=(0.0, 1.0))),
    'no_views': call([array(0, 0, []), array(0, 0, []), array(0, 0, []), array(1, 1, [4.0]),
                      array(1, 1, [1.0])]),
    'int32_projections': call([array(5, 1, [1, 2, 3, 4, 5], kind=225)] + scene(3, 1)[1:]),
    'empty_side': call(scene(3, 1)[:3] + [array(0, 1, []), array(1, 1, [1.0])]),
}

if __name__ == '__main__':
    os.makedirs(sys.argv[1], exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(sys.argv[1], name), 'wb') as f:
            f.write(data)
    print(f'{len(SEEDS)} seeds written to {sys.argv[1]}')
