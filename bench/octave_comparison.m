## What an Octave user would otherwise write: a vectorised backprojection in
## plain Octave, timed side by side with Quelmor on the same sinogram.
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
endfunction
