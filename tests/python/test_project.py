"""quelmor.project: the table of call cases, the transpose of backproject, stacks, threads, bad input."""
import numpy as np
import pytest

import quelmor
from quelmor import _kernel


def same_bytes(a, b):
    a, b = np.asarray(a), np.asarray(b)
    return a.shape == b.shape and np.ascontiguousarray(a).tobytes() == np.ascontiguousarray(b).tobytes()


def test_every_call_case_the_package_can_make_gives_the_tables_sinogram(call_cases):
    made = 0
    for name, module, inputs, nargout, expected in call_cases:
        if module != "QuelmorProject" or expected is None or nargout != 1:
            continue
        image, cosines, sines, detectors, code = inputs
        if detectors.shape != (1, 1) or code.shape != (1, 1):
            continue
        detectors, code = detectors.item(), code.item()
        if detectors != int(detectors) or code not in (0, 1):
            continue
        # The table's images are column-major matrices; the package's [row, column].
        sinogram = quelmor.project(image, cosines.ravel(order="F"), sines.ravel(order="F"),
                                   int(detectors), ("nearest", "linear")[int(code)])
        assert same_bytes(sinogram, expected), name
        made += 1
    assert made > 120


@pytest.mark.parametrize("sampler", ["nearest", "linear"])
def test_probed_matrices_are_each_others_transpose(sampler):
    # Pixels wider than a detector spacing, angles on the axes and between.
    angles = np.array([0, np.pi / 4, np.pi / 2, 3 * np.pi / 4, 1.1, 2.9])
    cosines, sines = 1.5 * np.cos(angles), 1.5 * np.sin(angles)
    size, detectors = 6, 13
    forward = np.stack([quelmor.project(unit.reshape(size, size), cosines, sines, detectors, sampler,
                                        threads=1).ravel()
                        for unit in np.eye(size * size)], axis=1)
    backward = np.stack([quelmor.backproject(unit.reshape(detectors, angles.size), cosines, sines,
                                             size, sampler, threads=1).ravel()
                         for unit in np.eye(detectors * angles.size)], axis=1)
    assert same_bytes(forward, backward.T)


def test_adjoint_identity_holds_on_large_random_inputs():
    random = np.random.default_rng(3)
    angles = np.arange(90) * np.pi / 90
    image = random.uniform(-1, 1, (128, 128))
    sinogram = random.uniform(-1, 1, (185, 90))
    for sampler in ("nearest", "linear"):
        forward = np.vdot(quelmor.project(image, np.cos(angles), np.sin(angles), 185, sampler), sinogram)
        backward = np.vdot(image, quelmor.backproject(sinogram, np.cos(angles), np.sin(angles), 128,
                                                      sampler))
        assert abs(forward - backward) <= 1e-13 * abs(forward)


def test_stacks_and_thread_counts_give_each_slices_bytes():
    random = np.random.default_rng(11)
    angles = np.arange(37) * np.pi / 37
    for slices in (1, 3, 9):
        stack = random.uniform(-1, 1, (slices, 33, 33))
        alone = [quelmor.project(stack[s], np.cos(angles), np.sin(angles), 49, threads=1)
                 for s in range(slices)]
        for threads in (1, 2, 3):
            sinograms = quelmor.project(stack, np.cos(angles), np.sin(angles), 49, threads=threads)
            assert sinograms.shape == (slices, 49, 37)
            assert all(same_bytes(sinograms[s], alone[s]) for s in range(slices))


def test_any_layout_or_exact_type_gives_the_same_sinogram():
    random = np.random.default_rng(12)
    angles = np.arange(20) * 0.3
    big = random.uniform(-5, 5, (40, 60))
    plain = np.ascontiguousarray(big[::2, 1::3])
    expected = quelmor.project(plain, np.cos(angles), np.sin(angles), 31)
    for layout in (np.asfortranarray(plain), big[::2, 1::3], plain.astype(">f8")):
        assert same_bytes(quelmor.project(layout, np.cos(angles), np.sin(angles), 31), expected)
    integers = random.integers(-9, 9, (20, 20), dtype=np.int32)
    assert same_bytes(quelmor.project(integers, np.cos(angles), np.sin(angles), 31),
                      quelmor.project(integers.astype(np.float64), np.cos(angles), np.sin(angles), 31))


@pytest.mark.parametrize("change, error, words", [
    ({"image": np.ones((3, 4))}, ValueError, "square"),
    ({"image": np.ones(9)}, ValueError, "square"),
    ({"image": np.ones((3, 3), complex)}, TypeError, "complex"),
    ({"detector_count": -1}, ValueError, "at least 0"),
    ({"detector_count": 2.5}, TypeError, "integer"),
    ({"detector_count": 2**40}, ValueError, "too large"),
    ({"sines": [0.0]}, ValueError, "sines needs an element for every cosine"),
    ({"cosines": [np.nan, 1.0]}, ValueError, "finite"),
    ({"sampler": "cubic"}, ValueError, "sampler"),
    ({"threads": 0}, ValueError, "threads"),
])
def test_bad_input_raises(change, error, words):
    call = {"image": np.ones((3, 3)), "cosines": [1.0, 0.0], "sines": [0.0, 1.0],
            "detector_count": 5, "sampler": "linear", "threads": None}
    call.update(change)
    with pytest.raises(error, match=words):
        quelmor.project(**call)


def test_the_compiled_part_checks_what_it_relies_on():
    cosines = sines = np.zeros(2)
    images = np.ones((1, 3, 3))
    with pytest.raises(ValueError, match="shape"):
        _kernel.project_stack(images, cosines, sines, 5, 1, 1, np.zeros((1, 2, 4)))
    with pytest.raises(ValueError, match="square"):
        _kernel.project_stack(np.ones((1, 3, 4)), cosines, sines, 5, 1, 1, np.zeros((1, 2, 5)))
    with pytest.raises(TypeError):  # a copy would take the sums, not the caller's array
        _kernel.project_stack(images, cosines, sines, 5, 1, 1, np.zeros((1, 2, 5), np.float32))
