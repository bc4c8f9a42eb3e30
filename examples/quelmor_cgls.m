## CGLS through Quelmor's exact projection pair.
##
##   image = quelmor_cgls (sinogram, theta, N, name, value, ...)
##   [image, outcome] = quelmor_cgls (...)
##
## The least-squares image of A x = y, A the projection (QuelmorProject) and
## its transpose Quelmor, by conjugate gradients on the normal equations,
## every sum in the core's defined order: byte for byte what Python's
## quelmor.cgls gives. SINOGRAM, THETA and N as for quelmor_sirt, and its
## options but "relaxation" and "nonnegative": "iterations" (default 20),
## "sampler", "spacing", "center", "origin", "x0", "tolerance".
function [image, outcome] = quelmor_cgls (sinogram, theta, N, varargin)
  if (nargin < 3)
    print_usage ();
  endif
  [image, outcome] = quelmor_solve_options ("quelmor_cgls", 1, sinogram, theta, N, 20, varargin{:});
endfunction
