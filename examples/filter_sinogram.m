## Filters every column (view) of a sinogram for filtered backprojection.
##
##   filtered = filter_sinogram (sinogram, filter = "ramp", cutoff = 1, spacing = 1, shifts = [])
##
## Convolves each view with the discrete ramp kernel (1/4 at 0, -1/(pi n)^2 at
## odd n, 0 at even n), divided by the detector spacing, so the result is in
## units of 1/spacing. The ramp's spectrum is shaped by the window FILTER
## names, with x the frequency as a fraction of CUTOFF x Nyquist (0 < CUTOFF
## <= 1; nothing passes above it):
##
##   "ramp"         1 (Ram-Lak)
##   "shepp-logan"  sin (pi x / 2) / (pi x / 2)
##   "cosine"       cos (pi x / 2)
##   "hamming"      0.54 + 0.46 cos (pi x)
##   "hann"         0.5 + 0.5 cos (pi x)
##
## Views are zero-padded to the smallest length of at least 2M - 1 whose only
## factors are 2, 3, 5 and 7, so nothing wraps around from one end of the
## detector to the other; two views share each complex transform. SHIFTS, one
## per view in samples, moves each filtered view: its sample b becomes the
## filtered signal at b + SHIFTS(v), band-limited between samples.
function filtered = filter_sinogram (sinogram, filter = "ramp", cutoff = 1, spacing = 1, shifts = [])
  windows = {"ramp", "shepp-logan", "cosine", "hamming", "hann"};
  if (! ischar (filter) || ! any (strcmp (filter, windows)))
    error ("filter_sinogram: filter must be one of ramp, shepp-logan, cosine, hamming, hann, not '%s'",
           num2str (filter));
  endif
  if (! (isscalar (cutoff) && cutoff > 0 && cutoff <= 1))
    error ("filter_sinogram: cutoff must be a fraction of the Nyquist frequency in (0, 1]");
  endif
  if (! (isscalar (spacing) && isfinite (spacing) && spacing > 0))
    error ("filter_sinogram: spacing must be positive and finite");
  endif
  [M, V] = size (sinogram);
  if (! isempty (shifts) && (numel (shifts) != V || ! all (isfinite (shifts(:)))))
    error ("filter_sinogram: shifts needs one finite value for every view");
  endif
  if (M == 0 || V == 0)
    filtered = zeros (M, V);
    return;
  endif
  reach = ceil (max (abs ([shifts(:); 0])));
  P = smooth_length (2 * M - 1 + 2 * reach);
  ## The kernel out to every offset a shifted result reads.
  h = zeros (P, 1);
  h(1) = 1 / 4;
  odd = (1:2:M + reach - 1)';
  h(odd + 1) = -1 ./ (pi * odd) .^ 2;
  h(P - odd + 1) = h(odd + 1);
  bins = [0:floor(P / 2), -ceil(P / 2) + 1:-1]';  # signed frequency of each bin
  x = abs (bins) / (P / 2) / cutoff;
  response = real (fft (h)) .* window_at (filter, x) .* (x <= 1) / spacing;
  if (isempty (shifts))
    ## A real, even response maps real views to real views: two views ride
    ## on one complex transform as its real and imaginary parts.
    if (mod (V, 2))
      sinogram(:, end + 1) = 0;
    endif
    result = ifft (fft (complex (sinogram(:, 1:2:end), sinogram(:, 2:2:end)), P) .* response);
    filtered = zeros (M, V);
    filtered(:, 1:2:end) = real (result(1:M, 1:ceil (V / 2)));
    filtered(:, 2:2:end) = imag (result(1:M, 1:floor (V / 2)));
  else
    phase = exp (2i * pi * bins * shifts(:)' / P);
    filtered = real (ifft (fft (sinogram, P) .* response .* phase))(1:M, :);
  endif
endfunction

function n = smooth_length (least)
  ## Every candidate at once: factor () on each in turn costs more than the
  ## transforms.
  candidates = max (1, least):2 * max (1, least);
  rest = candidates;
  for f = [2 3 5 7]
    while (any (divisible = mod (rest, f) == 0))
      rest(divisible) /= f;
    endwhile
  endfor
  n = candidates(find (rest == 1, 1));
endfunction

function w = window_at (filter, x)
  switch (filter)
    case "ramp"
      w = ones (size (x));
    case "shepp-logan"
      w = ones (size (x));
      w(x > 0) = sin (pi * x(x > 0) / 2) ./ (pi * x(x > 0) / 2);
    case "cosine"
      w = cos (pi * x / 2);
    case "hamming"
      w = 0.54 + 0.46 * cos (pi * x);
    case "hann"
      w = 0.5 + 0.5 * cos (pi * x);
  endswitch
endfunction
