## Shared by filter_sinogram and quelmor_fbp: QuelmorFilter's options row
## [filter, cutoff, spacing, center, origin] from the names CALLER was given,
## each checked; an empty CENTER or ORIGIN becomes NaN, its default.
function settings = quelmor_filter_options (caller, filter, cutoff, spacing, center = [], origin = [])
  ## In the order of the core's list of windows: the code is the index.
  windows = {"ramp", "shepp-logan", "cosine", "hamming", "hann"};
  code = find (strcmp (filter, windows), 1) - 1;
  if (! ischar (filter) || isempty (code))
    error ("%s: filter must be one of %s, not '%s'", caller, strjoin (windows, ", "),
           num2str (filter));
  endif
  if (! (isscalar (cutoff) && isreal (cutoff) && cutoff > 0 && cutoff <= 1))
    error ("%s: cutoff must be a fraction of the Nyquist frequency in (0, 1]", caller);
  endif
  if (! (isscalar (spacing) && isreal (spacing) && isfinite (spacing) && spacing > 0))
    error ("%s: spacing must be positive and finite", caller);
  endif
  if (isempty (center)) center = NaN; endif
  if (isempty (origin)) origin = NaN; endif
  if (! (isscalar (center) && isreal (center) && ! isinf (center)
         && isscalar (origin) && isreal (origin) && ! isinf (origin)))
    error ("%s: center and origin must be finite scalars", caller);
  endif
  settings = double ([code, cutoff, spacing, center, origin]);
endfunction
