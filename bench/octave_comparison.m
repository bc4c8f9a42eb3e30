## What an Octave user would otherwise write: a vectorised backprojection in
## plain Octave, timed side by side with Quelmor on the same sinogram; then the
## projection filter (ramp_filter) beside the module's call, and beside the
## plain ramp filter through fft padded to a power of two.
##
##   octave_comparison (module_dir, side = 256, views = 180)
function octave_comparison (module_dir, side = 256, views = 180)
  addpath (module_dir, fullfile (fileparts (mfilename ("fullpath")), "..", "examples"));
  detectors = covering_detector_count (side);
  projections = sin ((1:detectors)' * (1:views) / 97);
  theta = (0:views-1) * pi / views;
  c = floor ((side - 1) / 2);
  [j, k] = meshgrid (0:side-1, 0:side-1);
  x = j - c;
  y = c - k;
  updates = side^2 * views;

  for code = [0 1]
    tic;
    mine = Quelmor (projections, cos (theta), sin (theta), side, code);
    quelmor_seconds = toc;

    tic;
    plain = zeros (side);
    for v = 1:views
      ## Linear indices into the sinogram, shaped like the image.
      t = x * cos (theta(v)) + y * sin (theta(v)) + floor (detectors / 2) + 1 + (v - 1) * detectors;
      if (code == 0)
        plain += projections(floor (t + 0.5));
      else
        lo = floor (t);
        f = t - lo;
        plain += projections(lo) .* (1 - f) + projections(lo + 1) .* f;
      endif
    endfor
    plain_seconds = toc;

    printf ("side %d, %d views, %s: Quelmor %.3f Gup/s, plain Octave %.3f Gup/s, ratio %.1fx (largest difference %.2g)\n",
            side, views, {"nearest", "linear"}{code + 1}, updates / quelmor_seconds * 1e-9,
            updates / plain_seconds * 1e-9, plain_seconds / quelmor_seconds, max (abs (mine(:) - plain(:))));
  endfor

  ## Best of 15, each: the first calls plan the transforms.
  [filter_seconds, module_seconds, plain_filter_seconds] = deal (inf);
  for r = 1:15
    tic; filtered = ramp_filter (projections); filter_seconds = min (filter_seconds, toc);
    tic; Quelmor (filtered, cos (theta), sin (theta), side, 1); module_seconds = min (module_seconds, toc);
    tic; plain = power_of_two_ramp_filter (projections); plain_filter_seconds = min (plain_filter_seconds, toc);
  endfor
  printf ("side %d, %d views, linear: ramp_filter %.4f s, %.2fx the module's %.4f s; the plain power-of-two filter %.4f s, %.2fx (largest difference %.2g)\n",
          side, views, filter_seconds, filter_seconds / module_seconds, module_seconds,
          plain_filter_seconds, plain_filter_seconds / module_seconds, max (abs (filtered(:) - plain(:))));
endfunction

function filtered = power_of_two_ramp_filter (sinogram)
  M = rows (sinogram);
  P = 2 ^ nextpow2 (2 * M - 1);
  h = zeros (P, 1);
  h(1) = 1 / 4;
  odd = (1:2:M-1)';
  h(odd + 1) = -1 ./ (pi * odd) .^ 2;
  h(P - odd + 1) = h(odd + 1);
  filtered = real (ifft (fft (sinogram, P) .* fft (h)))(1:M, :);
endfunction
