## Shared by quelmor_sirt and quelmor_cgls: runs QuelmorSolve on every slice
## of SINOGRAM (M x V, or M x V x S) with the name-value options of CALLER.
function [images, outcomes] = quelmor_solve_options (caller, method, sinogram, theta, N, iterations, varargin)
  if (mod (numel (varargin), 2) != 0)
    error ("%s: options come as name-value pairs", caller);
  endif
  options = struct ("iterations", iterations, "sampler", "linear", "spacing", 1, "center", [],
                    "origin", [], "nonnegative", false, "relaxation", 1, "x0", [], "tolerance", 0);
  for i = 1:2:numel (varargin)
    name = varargin{i};
    if (! ischar (name) || ! isfield (options, name))
      error ("%s: unknown option '%s' (iterations, sampler, spacing, center, origin, nonnegative, relaxation, x0, tolerance)",
             caller, num2str (name));
    endif
    options.(name) = varargin{i + 1};
  endfor
  codes = struct ("nearest", 0, "linear", 1);
  if (! ischar (options.sampler) || ! isfield (codes, options.sampler))
    error ("%s: sampler must be 'linear' or 'nearest'", caller);
  endif
  [M, V, S] = size (sinogram);
  theta = theta(:)';
  if (numel (theta) != V)
    error ("%s: theta needs an angle for every view: %d angles, %d views", caller, numel (theta), V);
  endif
  center = options.center;
  origin = options.origin;
  if (isempty (center)) center = NaN; endif
  if (isempty (origin)) origin = NaN; endif
  settings = [options.iterations, codes.(options.sampler), options.spacing, center, origin, ...
              options.relaxation, double(logical (options.nonnegative)), options.tolerance];
  x0 = options.x0;
  if (! isempty (x0) && size (x0, 3) != S)
    error ("%s: x0 must be N x N x S, one start per slice", caller);
  endif
  images = zeros (N, N, S);
  outcomes = zeros (S, 2);
  for s = 1:S
    start = [];
    if (! isempty (x0))
      start = x0(:, :, s);
    endif
    try
      [images(:, :, s), outcomes(s, :)] = QuelmorSolve (sinogram(:, :, s), theta, N, method, settings, start);
    catch err
      error ("%s: %s", caller, regexprep (err.message, '^QuelmorSolve: ', ''));
    end_try_catch
  endfor
endfunction
