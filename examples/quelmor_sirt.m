## SIRT through Quelmor's exact projection pair.
##
##   image = quelmor_sirt (sinogram, theta, N, name, value, ...)
##   [image, outcome] = quelmor_sirt (...)
##
## SINOGRAM is M x V (or M x V x S, a stack of slices sharing the geometry),
## one view per column, of line integrals in pixel widths; THETA the V view
## angles in radians; N the image side. x <- x + relaxation C B R (y - A x),
## A the projection (QuelmorProject), B its transpose (Quelmor), R and C one
## over A's row and column sums (0 where a sum is 0). The image is byte for
## byte what Python's quelmor.sirt gives. Options, as name-value pairs:
##
##   "iterations"   most updates (default 100)
##   "sampler"      "linear" (default) or "nearest"
##   "spacing"      detector spacing in pixel widths (default 1)
##   "center", "origin"   where the rotation axis falls, as for quelmor_fbp
##   "relaxation"   in (0, 2), default 1
##   "nonnegative"  true clips the image at 0 after every update
##   "x0"           the start, N x N (x S); default zeros
##   "tolerance"    stop once ||y - A x|| <= tolerance ||y|| (default 0: never)
##
## OUTCOME holds, per slice, the updates made and the final residual norm.
function [image, outcome] = quelmor_sirt (sinogram, theta, N, varargin)
  if (nargin < 3)
    print_usage ();
  endif
  [image, outcome] = quelmor_solve_options ("quelmor_sirt", 0, sinogram, theta, N, 100, varargin{:});
endfunction
