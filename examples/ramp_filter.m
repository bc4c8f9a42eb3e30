## Ramp-filters every column (view) of a sinogram for filtered backprojection.
##
##   filtered = ramp_filter (sinogram, spacing = 1)
##
## The plain ramp: filter_sinogram (sinogram, "ramp", 1, spacing). Each view is
## convolved with the discrete ramp kernel (1/4 at 0, -1/(pi n)^2 at odd n, 0
## at even n), divided by the detector spacing, through the FFT on views
## zero-padded to at least 2M - 1 samples, so nothing wraps around from one
## end of the detector to the other; beyond its ends the detector reads as zero.
function filtered = ramp_filter (sinogram, spacing = 1)
  filtered = filter_sinogram (sinogram, "ramp", 1, spacing);
endfunction
