"""quelmor.ramp_filter and quelmor.fbp: the filter, the scaling and the phantom's accuracy."""
import re
import subprocess

import numpy as np
import pytest

import quelmor
import shepp_logan


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
    by_hand = quelmor.backproject(quelmor.ramp_filter(sinogram, 0.5), np.cos(theta) / 0.5,
                                  np.sin(theta) / 0.5, 128) * (np.pi / 120)
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
