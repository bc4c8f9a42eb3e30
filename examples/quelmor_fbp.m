## Filtered backprojection through Quelmor.
##
##   image = quelmor_fbp (sinogram, theta, N, name, value, ...)
##
## SINOGRAM is M x V, one view per column, of line integrals measured in pixel
## widths; THETA the V view angles in radians, normally over [0, pi); N the
## image side. The views are filtered (filter_sinogram), backprojected by
## Quelmor with cos (theta) / spacing and sin (theta) / spacing, and the sum
## is scaled by pi / V. The filter, cosine and sine are Quelmor's core's
## (through QuelmorFilter), so the image is byte for byte the Python
## package's quelmor.fbp, on every platform. Options, as name-value pairs:
##
##   "sampler"  "linear" (default) or "nearest"
##   "filter"   "ramp" (default), "shepp-logan", "cosine", "hamming", "hann"
##   "cutoff"   fraction of the Nyquist frequency, in (0, 1]; default 1
##   "spacing"  detector spacing in pixel widths; default 1
##   "center"   where the rotation axis falls on the detector, in samples
##              counted from 0 (fractional allowed); default floor (M / 2)
##   "origin"   the pixel index, the same for rows and columns, on which the
##              axis falls (fractional allowed); default floor ((N - 1) / 2)
##
## Quelmor's own conventions put the axis on sample floor (M / 2) and on
## pixel floor ((N - 1) / 2), counted from 0. For a grid with the axis on
## pixel floor (N / 2) (scikit-image) give "origin", floor (N / 2); for one
## centred on the axis, "origin", (N - 1) / 2. Other values shift each view
## by (center - floor (M / 2)) + (floor ((N - 1) / 2) - origin)
## (cos (theta) - sin (theta)) / spacing samples inside the filter.
## Pixel (k, j) of the image, counted from 0, is image(k + 1, j + 1): row k
## from the top, column j from the left.
function image = quelmor_fbp (sinogram, theta, N, varargin)
  if (nargin < 3 || mod (numel (varargin), 2) != 0)
    print_usage ();
  endif
  options = struct ("sampler", "linear", "filter", "ramp", "cutoff", 1, "spacing", 1,
                    "center", [], "origin", []);
  for i = 1:2:numel (varargin)
    name = varargin{i};
    if (! ischar (name) || ! isfield (options, name))
      error ("quelmor_fbp: unknown option '%s' (sampler, filter, cutoff, spacing, center, origin)",
             num2str (name));
    endif
    options.(name) = varargin{i + 1};
  endfor
  codes = struct ("nearest", 0, "linear", 1);
  if (! ischar (options.sampler) || ! isfield (codes, options.sampler))
    error ("quelmor_fbp: sampler must be 'linear' or 'nearest'");
  endif
  [M, V] = size (sinogram);
  theta = theta(:)';
  if (numel (theta) != V)
    error ("quelmor_fbp: theta needs an angle for every view: %d angles, %d views", numel (theta), V);
  endif
  if (! all (isfinite (theta)))
    error ("quelmor_fbp: theta must be finite");
  endif
  if (V > 0 && max (theta) - min (theta) > 2 * pi)
    warning ("quelmor_fbp: theta spans more than 2 pi: angles are radians (deg2rad converts degrees)");
  endif
  settings = quelmor_filter_options ("quelmor_fbp", options.filter, options.cutoff,
                                     options.spacing, options.center, options.origin);
  try
    [filtered, cosines, sines] = QuelmorFilter (sinogram, theta, N, settings);
  catch err
    error ("quelmor_fbp: %s", regexprep (err.message, '^QuelmorFilter: ', ''));
  end_try_catch
  image = Quelmor (filtered, cosines, sines, N, codes.(options.sampler)) * (pi / max (V, 1));
endfunction
