## Ramp-filters every column (view) of a sinogram for filtered backprojection.
##
##   filtered = ramp_filter (sinogram, spacing = 1)
##
## Convolves each view with the discrete ramp kernel (1/4 at 0, -1/(pi n)^2 at
## odd n, 0 at even n), divided by the detector spacing, so the filter is in
## units of 1/spacing. The convolution runs through the FFT on views zero-padded
## to at least 2M - 1 samples, so nothing wraps around from one end of the
## detector to the other; beyond its ends the detector reads as zero.
function filtered = ramp_filter (sinogram, spacing = 1)
  M = rows (sinogram);
  if (M == 0)
    filtered = sinogram;
    return;
  endif
  P = 2 ^ nextpow2 (2 * M - 1);
  h = zeros (P, 1);
  h(1) = 1 / 4;
  odd = (1:2:M-1)';
  h(odd + 1) = -1 ./ (pi * odd) .^ 2;
  h(P - odd + 1) = h(odd + 1);  # negative offsets, wrapped to the end
  spectrum = fft (sinogram, P) .* fft (h);
  filtered = real (ifft (spectrum))(1:M, :) / spacing;
endfunction
