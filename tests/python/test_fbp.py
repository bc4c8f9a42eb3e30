"""quelmor.filter_sinogram and quelmor.fbp: the filters, the scaling and the phantom's accuracy."""
import re
import shutil
import subprocess
import warnings

import numpy as np
import pytest

import quelmor
import shepp_logan
from quelmor import _kernel


def ramp_kernel(offsets):
    offsets = np.abs(offsets)
    return np.where(offsets == 0, 0.25,
                    np.where(offsets % 2 == 1, -1.0 / (np.pi * np.maximum(offsets, 1)) ** 2, 0.0))


@pytest.mark.parametrize("detectors", [1, 2, 5, 64, 100])
def test_ramp_filter_is_the_linear_convolution_nothing_wraps(detectors):
    random = np.random.default_rng(detectors)
    sinogram = random.uniform(-1, 1, (detectors, 3))
    sinogram[-1] = 50.0  # a wrapped-around tail would show at the first samples
    kernel = ramp_kernel(np.arange(-(detectors - 1), detectors))
    expected = np.stack([np.convolve(view, kernel)[detectors - 1:2 * detectors - 1]
                         for view in sinogram.T], axis=1)
    np.testing.assert_allclose(quelmor.ramp_filter(sinogram), expected, rtol=0, atol=1e-12)
    np.testing.assert_allclose(quelmor.ramp_filter(sinogram, 0.25), 4 * expected, rtol=0, atol=4e-12)
    stack = np.stack([sinogram, -sinogram])
    np.testing.assert_allclose(quelmor.ramp_filter(stack)[1], -expected, rtol=0, atol=1e-12)


# Each window written out from its textbook definition, on x = frequency /
# (cutoff x Nyquist), apart from the library's code.
WINDOWS = {
    "ramp": lambda x: np.ones_like(x),
    "shepp-logan": lambda x: np.sinc(x / 2),  # sin(pi x/2) / (pi x/2)
    "cosine": lambda x: np.cos(np.pi * x / 2),
    "hamming": lambda x: 0.54 + 0.46 * np.cos(np.pi * x),
    "hann": lambda x: np.cos(np.pi * x / 2) ** 2,
}


@pytest.mark.parametrize("window", sorted(WINDOWS))
@pytest.mark.parametrize("detectors, cutoff", [(1, 1.0), (37, 1.0), (37, 0.3), (100, 0.75)])
def test_each_window_is_its_definition_on_the_ramps_spectrum(window, detectors, cutoff):
    random = np.random.default_rng(detectors)
    sinogram = random.uniform(-1, 1, (detectors, 4))
    # The core's transform length: even, 2-3-5-7, at least 2M - 1 (core/README.md).
    length = quelmor._kernel.filter_length(detectors)
    assert length % 2 == 0 and 2 * detectors - 1 <= length <= 4 * detectors
    offsets = np.arange(length)
    kernel = ramp_kernel(np.minimum(offsets, length - offsets)) * (
        np.minimum(offsets, length - offsets) < detectors)
    x = 2.0 * np.arange(length // 2 + 1) / length / cutoff  # bin k at 2k / length / cutoff
    response = np.fft.rfft(kernel).real * np.where(x <= 1, WINDOWS[window](x), 0.0)
    expected = np.fft.irfft(np.fft.rfft(sinogram, length, axis=0) * response[:, None], length,
                            axis=0)[:detectors] / 2.0
    got = quelmor.filter_sinogram(sinogram, window, cutoff, spacing=2.0, threads=3)
    np.testing.assert_allclose(got, expected, rtol=0, atol=1e-12 * max(1.0, np.abs(expected).max()))
    assert np.array_equal(got, quelmor.filter_sinogram(sinogram, window, cutoff, 2.0, threads=1))


def test_default_fbp_is_the_filter_and_the_backprojection_scaled():
    theta = shepp_logan.view_angles(30)
    sinogram = shepp_logan.sinogram(40, quelmor.covering_detector_count(40), theta)
    for options in ({}, {"filter": "hann", "cutoff": 0.8, "sampler": "nearest"}):
        filtered = quelmor.filter_sinogram(sinogram, options.get("filter", "ramp"),
                                           options.get("cutoff", 1.0))
        # fbp's cosines and sines are the core's (the same bits on every
        # platform), within an ulp of the C library's, not NumPy's own.
        by_hand = quelmor.backproject(filtered, *_kernel.view_coefficients(theta, 1.0), 40,
                                      options.get("sampler", "linear")) * (np.pi / 30)
        assert np.array_equal(quelmor.fbp(sinogram, theta, 40, **options), by_hand)


@pytest.mark.parametrize("shift", [-7.0, 3.0, 12.0])
def test_a_shifted_view_is_its_filtered_signal_moved_nothing_wraps(shift):
    # Spikes at both ends: a transform too short for the shift would wrap
    # one end's filtered tail onto the other.
    views = np.random.default_rng(4).uniform(-1, 1, (3, 50))
    views[:, [0, -1]] = 50.0
    pad = 16
    unshifted = quelmor.filter_sinogram(np.pad(views.T, ((pad, pad), (0, 0))))
    shifted = np.empty_like(views)
    _kernel.filter_views(views, shifted, "ramp", 1.0, 1.0, 1, np.full(3, shift))
    start = pad + int(shift)
    np.testing.assert_allclose(shifted.T, unshifted[start:start + 50], rtol=0, atol=1e-11)


def test_a_padded_detector_with_its_center_moved_gives_the_same_image():
    # Random views with spikes at both ends, where a transform too short for
    # the shift would wrap one end's filtered tail onto the other.
    theta = shepp_logan.view_angles(45)
    sinogram = np.random.default_rng(3).uniform(-1, 1, (quelmor.covering_detector_count(48), 45))
    sinogram[[0, -1]] = 50.0
    plain = quelmor.fbp(sinogram, theta, 48)
    for before, after in ((7, 0), (0, 4), (3, 8)):
        padded = np.pad(sinogram, ((before, after), (0, 0)))
        center = sinogram.shape[0] // 2 + before
        np.testing.assert_allclose(quelmor.fbp(padded, theta, 48, center=center), plain,
                                   rtol=0, atol=1e-9)


@pytest.mark.parametrize("center_shift, origin_shift", [(0.3, 0.5), (-2.0, 3.0), (0.0, -0.5)])
def test_center_and_origin_follow_the_data_and_the_grid(center_shift, origin_shift):
    # The phantom's centre on detector position M // 2 + center_shift and on
    # pixel index (N - 1) // 2 + origin_shift: reconstructed with those
    # conventions it matches the phantom on that grid, and without them not.
    theta = shepp_logan.view_angles(120)
    detectors = quelmor.covering_detector_count(128) + 8
    center = detectors // 2 + center_shift
    origin = (128 - 1) // 2 + origin_shift
    sinogram = shepp_logan.sinogram(128, detectors, theta, center=center)
    truth = shepp_logan.rasterize(128, origin=origin)
    shifted = quelmor.fbp(sinogram, theta, 128, center=center, origin=origin)
    error = shepp_logan.rmse(shifted, truth)
    assert error < 0.075  # 0.062 on the default grid
    assert shepp_logan.rmse(quelmor.fbp(sinogram, theta, 128), truth) > error + 0.02


OCTAVE_CALLS = [  # quelmor_fbp's options, and fbp's
    ([], {}),
    (["filter", "hann", "cutoff", 0.7, "center", 36.4, "origin", 24.5], dict(
        filter="hann", cutoff=0.7, center=36.4, origin=24.5)),
    (["filter", "shepp-logan", "spacing", 0.8], dict(filter="shepp-logan", spacing=0.8)),
    (["filter", "cosine", "origin", 25], dict(filter="cosine", origin=25)),
]


def test_octaves_quelmor_fbp_is_pythons_fbp(tmp_path):
    from conftest import BUILD, SOURCE, read_matrix, write_matrix
    octave, module_dir = shutil.which("octave-cli"), BUILD / "host" / "octave"
    if octave is None or not (module_dir / "Quelmor.mex").exists():
        pytest.skip("no octave-cli, or no Octave module in the build")
    random = np.random.default_rng(6)
    sinogram = random.uniform(-1, 1, (73, 31))
    theta = np.arange(31) * np.pi / 31
    write_matrix(tmp_path / "sinogram.mat", sinogram)
    write_matrix(tmp_path / "theta.mat", theta)
    calls = "".join(
        f"write_matrix_file ('{tmp_path}/image{i}.mat', quelmor_fbp (s, t, 48"
        + "".join(f", {option!r}" if isinstance(option, str) else f", {option!r}"
                  for option in options).replace("'", '"') + "));\n"
        for i, (options, _) in enumerate(OCTAVE_CALLS))
    subprocess.run([octave, "--norc", "--no-gui", "--eval",
                    f"addpath ('{module_dir}', '{SOURCE}/examples', '{SOURCE}/tests/octave');\n"
                    f"s = read_matrix_file ('{tmp_path}/sinogram.mat');\n"
                    f"t = read_matrix_file ('{tmp_path}/theta.mat');\n" + calls],
                   check=True, capture_output=True)
    for i, (_, keywords) in enumerate(OCTAVE_CALLS):
        expected = quelmor.fbp(sinogram, theta, 48, **keywords)
        got = read_matrix(tmp_path / f"image{i}.mat")
        assert np.array_equal(got, expected), keywords


def test_angles_beyond_two_pi_warn_that_theta_is_radians():
    with pytest.warns(UserWarning, match="deg2rad"):
        quelmor.fbp(np.zeros((9, 180)), np.arange(180.0), 4)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        quelmor.fbp(np.zeros((9, 2)), [0.0, 2 * np.pi], 4)


def cpp_example_rmse(program, sampler, folder):
    result = subprocess.run([program, "--side", "256", "--views", "180", "--sampler", sampler,
                             "--out", folder], check=True, capture_output=True, text=True)
    return float(re.search(r"RMSE against the phantom: ([0-9.]+)", result.stdout).group(1))


@pytest.mark.parametrize("sampler", ["linear", "nearest"])
def test_phantom_error_is_the_cpp_examples(sampler, reconstruct_phantom, tmp_path):
    theta = shepp_logan.view_angles(180)
    sinogram = shepp_logan.sinogram(256, quelmor.covering_detector_count(256), theta)
    image = quelmor.fbp(sinogram, theta, 256, sampler=sampler)
    error = shepp_logan.rmse(image, shepp_logan.rasterize(256))
    assert abs(error - cpp_example_rmse(reconstruct_phantom, sampler, tmp_path)) <= 0.005
    assert error < 0.06


def test_detector_spacing_scales_the_coordinates_and_the_filter():
    # Samples half a pixel apart: twice the samples cover the same diagonal.
    theta = shepp_logan.view_angles(120)
    sinogram = shepp_logan.sinogram(128, 2 * quelmor.covering_detector_count(128), theta,
                                    spacing=0.5)
    image = quelmor.fbp(sinogram, theta, 128, spacing=0.5)
    assert shepp_logan.rmse(image, shepp_logan.rasterize(128)) < 0.06
    cosines, sines = _kernel.view_coefficients(theta, 1.0)
    by_hand = quelmor.backproject(quelmor.ramp_filter(sinogram, 0.5), cosines / 0.5,
                                  sines / 0.5, 128) * (np.pi / 120)
    assert np.array_equal(image, by_hand)


def test_stacks_reconstruct_slice_by_slice():
    theta = shepp_logan.view_angles(60)
    stack = np.stack([shepp_logan.sinogram(48, 73, theta, z) for z in (-0.3, 0.0, 0.4)])
    volume = quelmor.fbp(stack, theta, 48, threads=2)
    for s in range(3):
        assert np.array_equal(volume[s], quelmor.fbp(stack[s], theta, 48, threads=1))


@pytest.mark.parametrize("call, error, words", [
    (lambda: quelmor.fbp(np.zeros((9, 2)), [0.0, np.nan], 4), ValueError, "theta must be finite"),
    (lambda: quelmor.fbp(np.zeros((9, 0)), [], 4), ValueError, "at least one angle"),
    (lambda: quelmor.fbp(np.zeros((9, 2)), [0.0, 1.0j], 4), TypeError, "complex"),
    (lambda: quelmor.fbp(np.zeros((9, 2)), [0.0, 1.0], 4, spacing=0), ValueError, "spacing"),
    (lambda: quelmor.ramp_filter(np.zeros((9, 2), complex)), TypeError, "complex"),
    (lambda: quelmor.ramp_filter(np.zeros(9)), ValueError, "dimensions"),
    (lambda: quelmor.fbp(np.zeros((9, 2)), [0.0, 1.0], 4, sampler="cubic"), ValueError, "sampler"),
    (lambda: quelmor.fbp(np.zeros((9, 180)), np.zeros(179), 4), ValueError, "179 angles, 180 views"),
    (lambda: quelmor.fbp(np.zeros((9, 2)), [0.0, 1.0], 4, filter="parzen"), ValueError,
     "filter must be one of 'ramp', 'shepp-logan'"),
    (lambda: quelmor.filter_sinogram(np.zeros((9, 2)), cutoff=0), ValueError, r"cutoff.*\(0, 1\]"),
    (lambda: quelmor.filter_sinogram(np.zeros((9, 2)), cutoff=1.5), ValueError, "cutoff"),
    (lambda: quelmor.filter_sinogram(np.zeros((9, 2)), cutoff=np.nan), ValueError, "cutoff"),
    (lambda: quelmor.fbp(np.zeros((9, 2)), [0.0, 1.0], 4, center=np.inf), ValueError, "finite"),
    (lambda: quelmor.fbp(np.zeros((9, 2)), [0.0, 1.0], 4, origin=1e9), ValueError, "2\\^20"),
])
def test_bad_input_raises(call, error, words):
    with pytest.raises(error, match=words):
        call()


def test_the_readme_snippet_runs_as_it_stands():
    from conftest import SOURCE
    readme = (SOURCE / "README.md").read_text()
    snippet = next(block for block in re.findall(r"```python\n(.*?)```", readme, re.S)
                   if "quelmor.fbp(" in block)
    names = {}
    exec(snippet, names)
    assert names["image"].shape == (256, 256) and np.all(np.isfinite(names["image"]))
    assert names["volume"].shape == (8, 256, 256)
    assert np.array_equal(names["volume"][3], names["image"])
