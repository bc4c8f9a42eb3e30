"""quelmor.backproject: the table of call cases, stacks, layouts, threads and bad input."""
import math
import threading
import time

import numpy as np
import pytest

import quelmor
from quelmor import _kernel


def same_bytes(a, b):
    a, b = np.asarray(a), np.asarray(b)
    return a.shape == b.shape and np.ascontiguousarray(a).tobytes() == np.ascontiguousarray(b).tobytes()


def test_every_call_case_the_package_can_make_gives_the_tables_image(call_cases):
    # The package takes whole sizes and the two sampler names; the table's
    # coefficients are column-major, as the module reads them.
    made = 0
    for name, module, inputs, nargout, expected in call_cases:
        if module != "Quelmor" or expected is None or nargout != 1 or inputs[3].shape != (1, 1) or inputs[4].shape != (1, 1):
            continue
        projections, cosines, sines, size, code = inputs
        size, code = size.item(), code.item()
        if size != int(size) or code not in (0, 1):
            continue
        image = quelmor.backproject(projections, cosines.ravel(order="F"), sines.ravel(order="F"),
                                    int(size), ("nearest", "linear")[int(code)])
        assert same_bytes(image, expected), name
        made += 1
    assert made > 300


def test_stacks_equal_slice_by_slice_calls():
    random = np.random.default_rng(5)
    angles = np.arange(45) * np.pi / 45
    for slices in (1, 3, 5):
        stack = random.uniform(-1, 1, (slices, 51, 45))
        for threads in (1, 2, 4):
            volume = quelmor.backproject(stack, np.cos(angles), np.sin(angles), 33, threads=threads)
            assert volume.shape == (slices, 33, 33)
            for s in range(slices):
                assert same_bytes(volume[s], quelmor.backproject(stack[s], np.cos(angles),
                                                                 np.sin(angles), 33, threads=1))


def test_any_layout_or_exact_type_gives_the_same_image():
    random = np.random.default_rng(8)
    angles = np.arange(20) * 0.3
    cosines, sines = np.cos(angles), np.sin(angles)
    big = random.uniform(-5, 5, (70, 64))
    plain = np.ascontiguousarray(big[::2, 1::3][:, :20])
    expected = quelmor.backproject(plain, cosines, sines, 17)
    layouts = {
        "C": plain,
        "Fortran": np.asfortranarray(plain),
        "strided view": big[::2, 1::3][:, :20],
        "big-endian": plain.astype(">f8"),
        "list": plain.tolist(),
    }
    for name, sinogram in layouts.items():
        assert same_bytes(quelmor.backproject(sinogram, cosines, sines, 17), expected), name
    reversed_rows = big[::-1, :20]
    assert same_bytes(quelmor.backproject(reversed_rows, cosines, sines, 17),
                      quelmor.backproject(np.array(reversed_rows), cosines, sines, 17))
    stack = np.stack([plain, 2 * plain])
    swapped = np.ascontiguousarray(stack.transpose(0, 2, 1)).transpose(0, 2, 1)
    assert same_bytes(quelmor.backproject(swapped, cosines, sines, 17),
                      quelmor.backproject(stack, cosines, sines, 17))

    counts = random.integers(-3000, 3000, (35, 20))
    for dtype in (np.float32, np.int16, np.int32, np.int64, np.uint16):
        values = np.abs(counts) if dtype == np.uint16 else counts
        assert same_bytes(quelmor.backproject(values.astype(dtype), cosines.astype(np.float32), sines, 17),
                          quelmor.backproject(values.astype(dtype).astype(np.float64),
                                              cosines.astype(np.float32).astype(np.float64), sines, 17)), dtype


def test_thread_counts_do_not_change_the_image():
    random = np.random.default_rng(13)
    angles = np.arange(60) * np.pi / 60
    for shape in ((101, 60), (3, 101, 60), (9, 101, 60)):
        sinogram = random.uniform(-1, 1, shape)
        expected = quelmor.backproject(sinogram, np.cos(angles), np.sin(angles), 70, threads=1)
        for threads in (2, 3, 7, 64, None):
            image = quelmor.backproject(sinogram, np.cos(angles), np.sin(angles), 70, threads=threads)
            assert same_bytes(image, expected), (shape, threads)


def test_the_kernel_runs_without_the_gil():
    # While a call is in the kernel this thread must keep running: with the
    # GIL held its loop would stall for the whole call. The call is sized
    # from a timed one to last well beyond the interpreter's switch
    # interval however fast the kernel is, and its sinogram is already in
    # the kernel's layout, so no copy holds the GIL inside it.
    angles = np.arange(360) * np.pi / 360

    def timed_call(slices):
        stack = np.ones((slices, 360, 731)).transpose(0, 2, 1)
        start = time.perf_counter()
        quelmor.backproject(stack, np.cos(angles), np.sin(angles), 512, threads=1)
        return start, time.perf_counter()

    start, end = timed_call(1)
    slices = max(1, math.ceil(0.3 / (end - start)))
    span = []
    worker = threading.Thread(target=lambda: span.extend(timed_call(slices)))
    ticks = []
    worker.start()
    while worker.is_alive():
        ticks.append(time.perf_counter())
    worker.join()
    start, end = span
    during = [t for t in ticks if start <= t <= end]
    gaps = np.diff([start] + during + [end])
    assert gaps.max() < 0.5 * (end - start), f"this thread stalled {gaps.max():.3f} s of {end - start:.3f} s"


GOOD = dict(sinogram=np.zeros((11, 3)), cosines=np.ones(3), sines=np.zeros(3), size=4)
BAD_CALLS = [
    (dict(sinogram=np.zeros((11, 3), complex)), TypeError, "complex"),
    (dict(sinogram=np.zeros((11, 3), bool)), TypeError, "booleans"),
    (dict(sinogram=np.array([[None] * 3] * 11)), TypeError, "numeric"),
    (dict(sinogram=np.full((11, 3), "a")), TypeError, "numeric"),
    (dict(sinogram=np.zeros(11)), ValueError, "dimensions"),
    (dict(sinogram=np.zeros((2, 2, 11, 3))), ValueError, "dimensions"),
    (dict(sinogram=np.zeros((11, 2))), ValueError, "column for every cosine"),
    (dict(sinogram=np.full((11, 3), 2**53 + 1, np.int64)), ValueError, "exactly"),
    (dict(cosines=np.ones(3, complex)), TypeError, "complex"),
    (dict(sines=np.zeros(2)), ValueError, "element for every cosine"),
    (dict(cosines=[1, np.nan, 1]), ValueError, "finite"),
    (dict(sines=[0, 0, np.inf]), ValueError, "finite"),
    (dict(size=-1), ValueError, "at least 0"),
    (dict(size=46341), ValueError, "too large"),
    (dict(size=2**70), ValueError, "too large"),
    (dict(size=3.5), TypeError, "integer"),
    (dict(size=True), TypeError, "boolean"),
    (dict(sampler="cubic"), ValueError, "'linear' or 'nearest'"),
    (dict(sampler=1), ValueError, "'linear' or 'nearest'"),
    (dict(threads=0), ValueError, "at least 1"),
    (dict(threads=1.5), TypeError, "integer"),
]


@pytest.mark.parametrize("change, error, words", BAD_CALLS)
def test_bad_input_raises_and_changes_nothing(change, error, words):
    call = {**GOOD, **change}
    before = {name: np.array(value, copy=True) for name, value in call.items()
              if isinstance(value, np.ndarray)}
    with pytest.raises(error, match=words):
        quelmor.backproject(**call)
    for name, value in before.items():
        assert same_bytes(call[name], value), name


def test_the_compiled_part_checks_what_it_relies_on():
    stack, cosines, sines = np.zeros((2, 3, 11)), np.ones(3), np.zeros(3)
    images = np.zeros((2, 4, 4))
    with pytest.raises(ValueError, match="column for every cosine"):
        _kernel.backproject_stack(stack[:, :2], cosines, sines, 4, 1, 1, images)
    with pytest.raises(ValueError, match="shape"):
        _kernel.backproject_stack(stack, cosines, sines, 5, 1, 1, images)
    with pytest.raises(TypeError):  # a copy would take the image, not the caller's array
        _kernel.backproject_stack(stack, cosines, sines, 4, 1, 1, np.zeros((2, 4, 4)).transpose(0, 2, 1))
    # A side whose square wraps to 0 in 64 bits is refused for its size
    # (before its square is formed), not for the images' shape.
    with pytest.raises(ValueError, match="pixels"):
        _kernel.backproject_stack(stack, cosines, sines, 2**32, 1, 1, images)
    _kernel.backproject_stack(stack, cosines, sines, 4, 1, 1, images)
    assert not images.any()


@pytest.mark.parametrize("threads", [1, 2, 3])
def test_the_compiled_part_adds_to_images_or_clears_them_first(threads):
    random = np.random.default_rng(7)
    stack = random.uniform(-1, 1, (3, 5, 21))
    angles = np.arange(5) * np.pi / 5
    cosines, sines = np.cos(angles), np.sin(angles)
    fresh = np.zeros((3, 9, 9))
    _kernel.backproject_stack(stack, cosines, sines, 9, 1, threads, fresh)
    earlier = random.uniform(-1, 1, (3, 9, 9))
    summed = earlier.copy()
    _kernel.backproject_stack(stack, cosines, sines, 9, 1, threads, summed)
    # Added view by view, so rounded otherwise than earlier + fresh.
    assert np.allclose(summed, earlier + fresh, rtol=0, atol=1e-12)
    cleared = np.full((3, 9, 9), np.nan)
    _kernel.backproject_stack(stack, cosines, sines, 9, 1, threads, cleared, zero_first=True)
    assert same_bytes(cleared, fresh)


def test_results_own_their_memory_and_reused_memory_gives_fresh_sums():
    # Results and layout copies come from memory the package keeps for its
    # next calls: a live result must never be handed out again, and every
    # operation must clear or overwrite what an earlier call left there.
    random = np.random.default_rng(11)
    angles = np.arange(30) * np.pi / 30
    cosines, sines = np.cos(angles), np.sin(angles)
    calls = {
        "backproject": lambda data: quelmor.backproject(data, cosines, sines, 32),
        "project": lambda data: quelmor.project(data[:30, :30], cosines, sines, 47, "nearest"),
        "filter_sinogram": lambda data: quelmor.filter_sinogram(data, "hann"),
        "sirt": lambda data: quelmor.sirt(data, angles, 32, iterations=2),
        "cgls": lambda data: quelmor.cgls(data, angles, 32, iterations=2),
    }
    first_input, other_input = (random.uniform(-1, 1, (47, 30)) for _ in range(2))
    for name, call in calls.items():
        kept = call(first_input)
        kept_bytes = kept.tobytes()
        # Results dropped at once, their memory left holding other sums.
        for _ in range(3):
            call(other_input)
            call(np.full((47, 30), 1e300))
        again = call(first_input)
        assert kept.tobytes() == kept_bytes, name
        assert again.tobytes() == kept_bytes, name


def test_repeated_calls_reuse_the_memory_they_freed():
    random = np.random.default_rng(12)
    angles = np.arange(40) * np.pi / 40
    sinogram = random.uniform(-1, 1, (73, 40))  # C order: copied to the kernel's layout
    quelmor.backproject(sinogram, np.cos(angles), np.sin(angles), 50)
    kept = _kernel.result_memory_kept()
    for _ in range(5):
        quelmor.backproject(sinogram, np.cos(angles), np.sin(angles), 50)
        assert _kernel.result_memory_kept() == kept
    blocks, kept_bytes = kept
    assert 1 <= blocks <= 16 and kept_bytes <= 128 << 20
