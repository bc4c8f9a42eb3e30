## Filtered backprojection of the modified Shepp-Logan phantom with Quelmor,
## for Octave users: copy what you need into your own session.
##
##   [image, rmse] = reconstruct_phantom (side = 256, views = 180, sampler = "linear")
##
## Needs Quelmor.mex on the path (build/release/host/octave after the build).
function [image, rmse] = reconstruct_phantom (side = 256, views = 180, sampler = "linear")
  code = double (strcmp (sampler, "linear"));  # 1 linear, 0 nearest
  detectors = covering_detector_count (side);
  theta = (0:views-1) * pi / views;

  ## Exact line integrals of the ten ellipses, in pixel units; detector
  ## coordinate 0 falls on sample floor(detectors/2) (counted from 0).
  t = ((0:detectors-1)' - floor (detectors / 2)) / (side / 2);
  E = ellipses ();
  projections = zeros (detectors, views);
  for v = 1:views
    for e = 1:rows (E)
      [A, a, b, x0, y0, phi] = num2cell (E(e, :)){:};
      r2 = a^2 * cos (theta(v) - phi)^2 + b^2 * sin (theta(v) - phi)^2;
      s = t - (x0 * cos (theta(v)) + y0 * sin (theta(v)));
      inside = s.^2 < r2;
      projections(inside, v) += 2 * A * a * b * sqrt (r2 - s(inside).^2) / r2;
    endfor
  endfor
  projections *= side / 2;

  ## Ramp filter (examples/ramp_filter.m): the exact discrete kernel through the FFT.
  filtered = ramp_filter (projections);

  ## The backprojection, then the scale pi/V: filtering, angles and scaling
  ## are the caller's, Quelmor only sums.
  image = Quelmor (filtered, cos (theta), sin (theta), side, code) * pi / views;

  truth = phantom_image (side, E);
  rmse = sqrt (mean ((image(:) - truth(:)).^2));
  printf ("side %d, %d views, %s sampling: RMSE against the phantom %.4f\n", side, views, sampler, rmse);
endfunction

## Density, semi-axes along x and y, centre, rotation (radians).
function E = ellipses ()
  E = [ 1.0   0.69   0.92    0     0       0
       -0.8   0.6624 0.874   0    -0.0184  0
       -0.2   0.11   0.31    0.22  0     -18
       -0.2   0.16   0.41   -0.22  0      18
        0.1   0.21   0.25    0     0.35    0
        0.1   0.046  0.046   0     0.1     0
        0.1   0.046  0.046   0    -0.1     0
        0.1   0.046  0.023  -0.08 -0.605   0
        0.1   0.023  0.023   0    -0.606   0
        0.1   0.023  0.046   0.06 -0.605   0];
  E(:, 6) *= pi / 180;
endfunction

## Pixel (k, j) lies at x = j - c, y = c - k, c = floor((side-1)/2): row 1 is the top.
function img = phantom_image (side, E)
  c = floor ((side - 1) / 2);
  [j, k] = meshgrid (0:side-1, 0:side-1);
  x = (j - c) / (side / 2);
  y = (c - k) / (side / 2);
  img = zeros (side);
  for e = 1:rows (E)
    [A, a, b, x0, y0, phi] = num2cell (E(e, :)){:};
    u = (x - x0) * cos (phi) + (y - y0) * sin (phi);
    w = -(x - x0) * sin (phi) + (y - y0) * cos (phi);
    img += A * ((u / a).^2 + (w / b).^2 <= 1);
  endfor
endfunction
