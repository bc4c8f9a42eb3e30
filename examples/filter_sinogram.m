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
## Views are zero-padded to an even length of at least 2M - 1 whose only
## factors are 2, 3, 5 and 7 (the cheapest to transform, by fixed costs), so
## nothing wraps around from one end of the detector to the other. SHIFTS, one per view in samples, moves each
## filtered view: its sample b becomes the filtered signal at b + SHIFTS(v),
## band-limited between samples. The filter is Quelmor's core's, through the
## QuelmorFilter module: the same bytes as the Python package's
## quelmor.filter_sinogram, on every platform.
function filtered = filter_sinogram (sinogram, filter = "ramp", cutoff = 1, spacing = 1, shifts = [])
  settings = quelmor_filter_options ("filter_sinogram", filter, cutoff, spacing);
  V = columns (sinogram);
  if (! isempty (shifts) && (numel (shifts) != V || ! all (isfinite (shifts(:)))))
    error ("filter_sinogram: shifts needs one finite value for every view");
  endif
  try
    filtered = QuelmorFilter (sinogram, [], 0, settings, double (shifts));
  catch err
    error ("filter_sinogram: %s", regexprep (err.message, '^QuelmorFilter: ', ''));
  end_try_catch
endfunction
