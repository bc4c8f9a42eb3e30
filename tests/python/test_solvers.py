"""quelmor.sirt and quelmor.cgls: against the explicit matrix, stacks and threads, stops, bad input."""
import math

import numpy as np
import pytest

import quelmor
import shepp_logan
from quelmor import _kernel

SIZE, VIEWS = 12, 9
DETECTORS = quelmor.covering_detector_count(SIZE)
THETA = np.arange(VIEWS) * np.pi / VIEWS + 0.05


def same_bytes(a, b):
    a, b = np.asarray(a), np.asarray(b)
    return a.shape == b.shape and np.ascontiguousarray(a).tobytes() == np.ascontiguousarray(b).tobytes()


def explicit_matrix(sampler, spacing=1.0):
    """A's columns, each the projection of one unit pixel (row-major pixels, (M, V) samples)."""
    cosines, sines = _kernel.view_coefficients(THETA, spacing)
    units = np.eye(SIZE * SIZE).reshape(-1, SIZE, SIZE)
    return quelmor.project(units, cosines, sines, DETECTORS, sampler).reshape(SIZE * SIZE, -1).T


def numpy_sirt(a, y, iterations, relaxation=1.0, nonnegative=False, x=None):
    """The textbook recursion on the explicit matrix, in NumPy's own order of sums."""
    rows, columns = a @ np.ones(a.shape[1]), a.T @ np.ones(a.shape[0])
    r_weights = np.where(rows != 0, 1 / np.where(rows != 0, rows, 1), 0)
    c_weights = np.where(columns != 0, 1 / np.where(columns != 0, columns, 1), 0)
    x = np.zeros(a.shape[1]) if x is None else x.copy()
    for _ in range(iterations):
        x = x + relaxation * c_weights * (a.T @ (r_weights * (y - a @ x)))
        if nonnegative:
            x = np.maximum(x, 0)
    return x


def numpy_cgls(a, y, iterations, x=None):
    x = np.zeros(a.shape[1]) if x is None else x.copy()
    r = y - a @ x
    s = a.T @ r
    p, gamma = s, s @ s
    for _ in range(iterations):
        q = a @ p
        alpha = gamma / (q @ q)
        x, r = x + alpha * p, r - alpha * q
        s = a.T @ r
        gamma, previous = s @ s, gamma
        p = s + gamma / previous * p
    return x


def scene(seed=0, slices=None):
    random = np.random.default_rng(seed)
    shape = (DETECTORS, VIEWS) if slices is None else (slices, DETECTORS, VIEWS)
    return random.uniform(0, 1, shape)


def close(got, expected):
    return np.abs(got - expected).max() <= 1e-10 * np.abs(expected).max()


@pytest.mark.parametrize("sampler", ["linear", "nearest"])
@pytest.mark.parametrize("options", [{}, {"relaxation": 1.7}, {"relaxation": 0.4, "nonnegative": True},
                                     {"spacing": 0.8}, {"start": True}])
def test_sirts_first_iterates_are_the_explicit_matrixs(sampler, options):
    options = dict(options)
    spacing = options.pop("spacing", 1.0)
    start = np.random.default_rng(7).uniform(-1, 1, (SIZE, SIZE)) if options.pop("start", False) else None
    a = explicit_matrix(sampler, spacing)
    # An image of both signs: nonnegativity has pixels to clip.
    y = (a @ np.random.default_rng(1).uniform(-1, 1, SIZE * SIZE)).reshape(DETECTORS, VIEWS)
    for iterations in (1, 2, 3, 7):
        got = quelmor.sirt(y, THETA, SIZE, iterations, sampler, spacing=spacing, x0=start, **options)
        expected = numpy_sirt(a, y.ravel(), iterations, x=None if start is None else start.ravel(),
                              **options).reshape(SIZE, SIZE)
        assert close(got, expected), (iterations, np.abs(got - expected).max())
        if options.get("nonnegative"):
            assert got.min() >= 0 and expected.min() == 0


@pytest.mark.parametrize("sampler", ["linear", "nearest"])
def test_cgls_first_iterates_are_the_explicit_matrixs(sampler):
    a, y = explicit_matrix(sampler), scene(2)
    start = np.random.default_rng(8).uniform(-1, 1, (SIZE, SIZE))
    for iterations in (1, 2, 3, 6):
        got = quelmor.cgls(y, THETA, SIZE, iterations, sampler)
        assert close(got, numpy_cgls(a, y.ravel(), iterations).reshape(SIZE, SIZE)), iterations
        got = quelmor.cgls(y, THETA, SIZE, iterations, sampler, x0=start)
        assert close(got, numpy_cgls(a, y.ravel(), iterations, start.ravel()).reshape(SIZE, SIZE))


@pytest.mark.parametrize("solver", [quelmor.sirt, quelmor.cgls])
@pytest.mark.parametrize("center", [None, 21.0, 19.6])
def test_a_stack_is_each_slice_alone_at_any_thread_count(solver, center):
    stack = scene(4, slices=5)
    options = dict(iterations=5, center=center, origin=None if center is None else 5.5)
    one = solver(stack, THETA, SIZE, threads=1, **options)
    for threads in (2, 3):
        assert same_bytes(solver(stack, THETA, SIZE, threads=threads, **options), one)
    for s in range(5):
        assert same_bytes(solver(stack[s], THETA, SIZE, threads=3, **options), one[s])


@pytest.mark.parametrize("solver", [quelmor.sirt, quelmor.cgls])
def test_a_whole_sample_center_reads_the_data_moved_exactly(solver):
    y = scene(5)
    moved = np.zeros_like(y)
    moved[:-2] = y[2:]  # the kernels' sample b is the data's b + 2
    got = solver(y, THETA, SIZE, iterations=4, center=DETECTORS // 2 + 2)
    assert same_bytes(got, solver(moved, THETA, SIZE, iterations=4))


@pytest.mark.parametrize("solver, iterations", [(quelmor.sirt, 60), (quelmor.cgls, 12)])
def test_center_and_origin_follow_the_data_and_the_grid(solver, iterations):
    # As for fbp: the phantom's centre on detector position M // 2 + 2.5 and
    # pixel (N - 1) // 2 + 1.5, reconstructed with those conventions.
    theta = shepp_logan.view_angles(90)
    detectors = quelmor.covering_detector_count(64) + 8
    center, origin = detectors // 2 + 2.5, (64 - 1) // 2 + 1.5
    sinogram = shepp_logan.sinogram(64, detectors, theta, center=center)
    truth = shepp_logan.rasterize(64, origin=origin)
    error = shepp_logan.rmse(solver(sinogram, theta, 64, iterations, center=center, origin=origin),
                             truth)
    assert error < 0.12
    assert shepp_logan.rmse(solver(sinogram, theta, 64, iterations), truth) > error + 0.02


@pytest.mark.parametrize("solver", [quelmor.sirt, quelmor.cgls])
def test_tolerance_stops_at_the_first_iterate_below_it(solver):
    image = np.random.default_rng(6).uniform(0, 1, (SIZE, SIZE))
    cosines, sines = _kernel.view_coefficients(THETA, 1.0)
    y = quelmor.project(image, cosines, sines, DETECTORS)
    norms = []
    solver(y, THETA, SIZE, 500, callback=lambda i, norm: norms.append(norm))
    tolerance = 0.02
    first = next(i for i, norm in enumerate(norms) if norm <= tolerance * np.linalg.norm(y))
    stopped = []
    got = solver(y, THETA, SIZE, 500, tolerance=tolerance,
                 callback=lambda i, norm: stopped.append(norm))
    assert stopped == norms[:first + 1] and first + 1 < 500
    assert same_bytes(got, solver(y, THETA, SIZE, first + 1))


@pytest.mark.parametrize("solver", [quelmor.sirt, quelmor.cgls])
def test_a_callback_stops_or_aborts(solver):
    y = scene(7)
    seen = []

    def stop_at_three(iteration, norm):
        seen.append((iteration, norm))
        return iteration == 3
    got = solver(y, THETA, SIZE, 50, callback=stop_at_three)
    assert [i for i, _ in seen] == [1, 2, 3] and all(isinstance(n, float) for _, n in seen)
    assert same_bytes(got, solver(y, THETA, SIZE, 3))

    stack_norms = []
    solver(np.stack([y, y]), THETA, SIZE, 2, callback=lambda i, n: stack_norms.append(n))
    assert len(stack_norms) == 2 and stack_norms[1].shape == (2,)
    assert stack_norms[1][0] == stack_norms[1][1] == seen[1][1]

    class Boom(Exception):
        pass

    def boom(iteration, norm):
        raise Boom(iteration)
    with pytest.raises(Boom):
        solver(y, THETA, SIZE, 50, callback=boom)


def test_zero_iterations_is_the_start():
    start = np.random.default_rng(9).uniform(-1, 1, (SIZE, SIZE))
    assert same_bytes(quelmor.sirt(scene(), THETA, SIZE, 0, x0=start), start)
    assert same_bytes(quelmor.cgls(scene(), THETA, SIZE, 0), np.zeros((SIZE, SIZE)))


@pytest.mark.parametrize("call, error, words", [
    (lambda: quelmor.sirt(scene(), THETA, SIZE, -1), ValueError, "iterations"),
    (lambda: quelmor.cgls(scene(), THETA, SIZE, 2.5), TypeError, "iterations"),
    (lambda: quelmor.sirt(scene(), THETA, SIZE, relaxation=2.0), ValueError, "relaxation"),
    (lambda: quelmor.sirt(scene(), THETA, SIZE, relaxation=0.0), ValueError, "relaxation"),
    (lambda: quelmor.sirt(scene(), THETA, SIZE, tolerance=np.nan), ValueError, "tolerance"),
    (lambda: quelmor.cgls(scene(), THETA, SIZE, tolerance=np.inf), ValueError, "tolerance"),
    (lambda: quelmor.cgls(scene(), THETA, SIZE, tolerance=-1), ValueError, "tolerance"),
    (lambda: quelmor.sirt(scene(), THETA, SIZE, x0=np.zeros((SIZE, SIZE + 1))), ValueError, "x0"),
    (lambda: quelmor.cgls(scene(slices=2), THETA, SIZE, x0=np.zeros((SIZE, SIZE))), ValueError,
     "x0"),
    (lambda: quelmor.sirt(scene(), THETA[:-1], SIZE), ValueError, "theta"),
    (lambda: quelmor.cgls(scene(), np.append(THETA[:-1], np.nan), SIZE), ValueError, "theta"),
    (lambda: quelmor.sirt(scene(), THETA, SIZE, spacing=0), ValueError, "spacing"),
    (lambda: quelmor.sirt(scene(), THETA, SIZE, sampler="cubic"), ValueError, "sampler"),
    (lambda: quelmor.sirt(scene(), THETA, SIZE, center=np.inf), ValueError, "center"),
    (lambda: quelmor.cgls(scene(), THETA, SIZE, callback=3), TypeError, "callback"),
    (lambda: quelmor.cgls(scene(), THETA, SIZE, nonnegative=True), TypeError, "nonnegative"),
    (lambda: quelmor.sirt(np.zeros(5), THETA, SIZE), ValueError, "dimensions"),
])
def test_bad_input_is_a_clear_error(call, error, words):
    with pytest.raises(error, match=words):
        call()


def test_the_view_angles_are_within_two_ulp_of_the_c_librarys():
    # math.cos is the C library's; NumPy's own SIMD cos is up to 3 ulp off it.
    theta = np.concatenate([np.linspace(-50, 50, 20001), np.arange(-16, 17) * np.pi / 4])
    cosines, sines = _kernel.view_coefficients(theta, 1.0)
    for got, function in ((cosines, math.cos), (sines, math.sin)):
        expected = np.array([function(angle) for angle in theta])
        # Near a zero the result is tiny and the rounding of theta's remainder
        # decides: 2^-60 there.
        assert np.all(np.abs(got - expected) <= 2 * np.spacing(np.abs(expected)) + 2**-60)
    halves, _ = _kernel.view_coefficients(theta, 2.0)
    assert same_bytes(halves, cosines / 2.0)


def test_every_solver_call_case_is_the_octave_and_windows_modules_image(call_cases):
    # The table's QuelmorSolve images, which the Linux, Octave and Windows
    # builds give byte for byte, are the package's for the same options.
    made = 0
    for name, module, inputs, nargout, expected in call_cases:
        if module != "QuelmorSolve" or expected is None:
            continue
        sinogram, theta, size, method, options = inputs[:5]
        iterations, code, spacing, center, origin, relaxation, nonnegative, tolerance = options.ravel()
        x0 = inputs[5] if len(inputs) == 6 and inputs[5].size else None
        extra = {} if method.item() >= 1 else {"relaxation": relaxation, "nonnegative": bool(nonnegative)}
        solve = quelmor.cgls if int(method.item()) == 1 else quelmor.sirt
        image = solve(sinogram, theta.ravel(order="F"), int(size.item()), iterations=int(iterations),
                      sampler=("nearest", "linear")[int(code)], spacing=spacing,
                      center=None if math.isnan(center) else center,
                      origin=None if math.isnan(origin) else origin, x0=x0, tolerance=tolerance,
                      **extra)
        assert same_bytes(image, expected), name
        made += 1
    assert made >= 10
