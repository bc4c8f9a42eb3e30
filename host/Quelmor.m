%QUELMOR  Backprojection of parallel-beam views into a square image.
%
%  image = Quelmor(projections, cosines, sines, N, interpCode)
%
%  Returns the N x N image in which each pixel holds the plain sum, over the
%  views in order, of each view's sample at that pixel's detector coordinate.
%
%  projections  M x V real doubles: one column of M detector samples per view
%  cosines      the V values cos(theta), any shape; views in column-major order
%  sines        at least V values sin(theta), in the same order
%  N            side of the image, truncated toward zero (3.99 gives 3)
%  interpCode   0 nearest sample, 1 linear interpolation, truncated toward
%               zero; any other code gives an all-zero image
%
%  Geometry: pixel (row k, column j), counted from 0, lies at x = j - c,
%  y = c - k with c = floor((N - 1) / 2): x grows to the right, y upward, so
%  the top row has the largest y. Detector sample b (from 0) lies at
%  coordinate b - floor(M / 2). A pixel's coordinate in a view is
%  t = cos(theta)*x + sin(theta)*y, in detector spacings; one pixel is one
%  detector spacing (for pixel size h and spacing d pass cos*h/d, sin*h/d).
%  Nearest takes sample floor(t + 0.5); linear blends the samples at floor(t)
%  and floor(t) + 1. Samples beyond the detector read as 0.
%
%  Scaling: Quelmor only sums. For filtered backprojection over [0, pi),
%  ramp-filter every view, backproject, and multiply by pi / V:
%
%     theta = (0:179) * pi / 180;
%     image = Quelmor(ramp_filter(sinogram), cos(theta), sin(theta), 256, 1) * pi / 180;
%
%  Errors (the call produces nothing and the session carries on):
%     Five input arguments required.
%     Too many output arguments.
%     Input K (name) must be a real, full double array.
%     Input 4 (imageSize) must not be empty.     (likewise input 5)
%     Input 4 (imageSize) must be finite and within the 32-bit integer range.
%     Input 4 (imageSize) must not be negative.
%     Input 4 (imageSize) is too large: the image may hold at most 2147483647 pixels.
%     Input 1 (projections) needs a column for every element of input 2 (cosines).
%     Input 3 (sines) needs an element for every element of input 2 (cosines).
%     Inputs 2 (cosines) and 3 (sines) must be finite.
%     Input 1 (projections) has more than 2147483647 rows.   (and the like)
%
%  Every operation is an IEEE double operation rounded to nearest in a fixed
%  order, whatever the caller's floating-point mode: the same inputs give the
%  same bytes on every platform.

% This file holds only the help text; the compiled module beside it does the work.
