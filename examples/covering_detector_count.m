## Detector samples that cover a side x side image's whole diagonal at every
## angle, for pixels pixel_size detector spacings wide, with a few to spare.
##
##   detectors = covering_detector_count (side, pixel_size = 1)
function detectors = covering_detector_count (side, pixel_size = 1)
  detectors = 2 * ceil (0.7072 * side * pixel_size) + 5;
endfunction
