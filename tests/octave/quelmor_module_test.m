## Quelmor.mex loaded by GNU Octave: messages, the call contract's edge cases,
## every kind of bad input a user can type, and memory over thousands of
## calls. (compare_builds.sh checks its images byte for byte against the
## other builds.)
##
##   quelmor_module_test (module_dir)
function quelmor_module_test (module_dir)
  addpath (module_dir);
  global passed failed
  passed = 0;
  failed = 0;

  p = reshape (sin (0.37 * (0:8*4-1)), 8, 4);   # 8 detector samples, 4 views
  c = [1, 0.6, 0, -0.6];
  s = [0, 0.8, 1, 0.8];
  good = Quelmor (p, c, s, 6, 1);

  ## Argument counts, with Octave's prefix before our text.
  expect_error ("four inputs", @() Quelmor (p, c, s, 6), "Five input arguments required.");
  expect_error ("six inputs", @() Quelmor (p, c, s, 6, 1, 1), "Five input arguments required.");
  expect_error ("no inputs", @() Quelmor (), "Five input arguments required.");
  expect_error ("two outputs", @() two_outputs (p, c, s), "Too many output arguments.");
  expect_error ("two outputs, four inputs", @() two_outputs_four_inputs (p, c, s), ...
                "Five input arguments required.");

  ## Results.
  check ("worked example 1", isequal (Quelmor ([1;2;3;4;5], 1, 0, 3, 1), [2 3 4; 2 3 4; 2 3 4]));
  check ("worked example 3, nearest", isequal (Quelmor ([10;20;30;40], 0.6, 0.8, 2, 0), [30 40; 20 30]));
  check ("worked example 3, linear", isequal (Quelmor ([10;20;30;40], 0.6, 0.8, 2, 1), [30 36; 22 28]));
  Quelmor (p, c, s, 6, 1);
  check ("no outputs leaves the image in ans", isequal (ans, good));
  check ("side 0.5 gives 0 x 0", isequal (size (Quelmor (p, c, s, 0.5, 1)), [0 0]));
  check ("side 3.99 gives 3 x 3", isequal (Quelmor (p, c, s, 3.99, 1), Quelmor (p, c, s, 3, 1)));
  check ("code 1.9 is linear", isequal (Quelmor (p, c, s, 6, 1.9), good));
  check ("code -0.9 is nearest", isequal (Quelmor (p, c, s, 6, -0.9), Quelmor (p, c, s, 6, 0)));
  check ("nearest and linear differ", ! isequal (Quelmor (p, c, s, 6, 0), good));
  check ("code 2 gives zeros", isequal (Quelmor (p, c, s, 6, 2), zeros (6)));
  check ("2 x 2 cosines are four views in column-major order", ...
         isequal (Quelmor (p, reshape (c, 2, 2), s', 6, 1), good));
  p12 = reshape (cos (0.11 * (0:9*12-1)), 9, 12);
  angles = (0:11) * pi / 12;
  check ("3 x 4 cosines are twelve views", ...
         isequal (Quelmor (p12, reshape (cos (angles), 3, 4), sin (angles), 5, 1), ...
                  Quelmor (p12, cos (angles), sin (angles), 5, 1)));
  check ("no views gives zeros", isequal (Quelmor ([], [], [], 4, 1), zeros (4)));
  check ("only the first element of each scalar is used", isequal (Quelmor (p, c, s, [6 9], [1 0]), good));

  ## Bad input of every kind: a clear error, then Octave and the module carry on.
  real1 = "Input 1 (projections) must be a real, full double array.";
  real2 = "Input 2 (cosines) must be a real, full double array.";
  real3 = "Input 3 (sines) must be a real, full double array.";
  real4 = "Input 4 (imageSize) must be a real, full double array.";
  real5 = "Input 5 (interpCode) must be a real, full double array.";
  range4 = "Input 4 (imageSize) must be finite and within the 32-bit integer range.";
  finite = "Inputs 2 (cosines) and 3 (sines) must be finite.";
  bad = {"int32 projections", @() Quelmor (int32 (p), c, s, 6, 1), real1;
         "single cosines", @() Quelmor (p, single (c), s, 6, 1), real2;
         "logical sines", @() Quelmor (p, c, logical (s), 6, 1), real3;
         "char side", @() Quelmor (p, c, s, "6", 1), real4;
         "complex projections", @() Quelmor (complex (p, 1), c, s, 6, 1), real1;
         "sparse projections", @() Quelmor (sparse (p), c, s, 6, 1), real1;
         "cell cosines", @() Quelmor (p, {c}, s, 6, 1), real2;
         "struct code", @() Quelmor (p, c, s, 6, struct ("a", 1)), real5;
         "int32 side", @() Quelmor (p, c, s, int32 (6), 1), real4;
         "empty side", @() Quelmor (p, c, s, [], 1), "Input 4 (imageSize) must not be empty.";
         "empty code", @() Quelmor (p, c, s, 6, []), "Input 5 (interpCode) must not be empty.";
         "NaN side", @() Quelmor (p, c, s, NaN, 1), range4;
         "Inf side", @() Quelmor (p, c, s, Inf, 1), range4;
         "side 1e10", @() Quelmor (p, c, s, 1e10, 1), range4;
         "side -5", @() Quelmor (p, c, s, -5, 1), "Input 4 (imageSize) must not be negative.";
         "side 46341", @() Quelmor (p, c, s, 46341, 1), ...
           "Input 4 (imageSize) is too large: the image may hold at most 2147483647 pixels.";
         "NaN code", @() Quelmor (p, c, s, 6, NaN), ...
           "Input 5 (interpCode) must be finite and within the 32-bit integer range.";
         "too few columns", @() Quelmor (p(:, 1:3), c, s, 6, 1), ...
           "Input 1 (projections) needs a column for every element of input 2 (cosines).";
         "too few sines", @() Quelmor (p, c, s(1:3), 6, 1), ...
           "Input 3 (sines) needs an element for every element of input 2 (cosines).";
         "NaN cosine", @() Quelmor (p, [1 NaN 0 0], s, 6, 1), finite;
         "Inf sine", @() Quelmor (p, c, [0 0 Inf 0], 6, 1), finite};
  for i = 1:rows (bad)
    expect_error (bad{i, 1}, bad{i, 2}, bad{i, 3});
    check ([bad{i, 1} ": a correct call still works"], isequal (Quelmor (p, c, s, 6, 1), good));
  endfor

  ## Tens of thousands of calls, good and bad, in one process: after Octave's
  ## own warm-up (its mex and error machinery grows over the first tens of
  ## thousands of calls, a module that does nothing as much as this one),
  ## memory stays put.
  resident_kib ();  # the first reading allocates what reading needs
  for i = 1:60000
    soak_call (p, c, s, i);
  endfor
  before = resident_kib ();
  for i = 1:20000
    soak_call (p, c, s, i);
  endfor
  after = resident_kib ();
  printf ("resident memory after 60000 calls %d KiB, after 80000 calls %d KiB\n", before, after);
  check ("no growth in memory over 20000 more calls", after - before <= 64);

  printf ("octave: %d passed, %d failed\n", passed, failed);
  if (failed > 0)
    exit (1);
  endif
endfunction

function two_outputs (p, c, s)
  [a, b] = Quelmor (p, c, s, 6, 1);
endfunction

function two_outputs_four_inputs (p, c, s)
  [a, b] = Quelmor (p, c, s, 6);
endfunction

function soak_call (p, c, s, i)
  try
    switch (mod (i, 4))
      case 0
        Quelmor (p, c, s, 32, 1);
      case 1
        Quelmor (p, c, s, 17, 0);
      case 2
        Quelmor (int32 (p), c, s, 6, 1);
      otherwise
        Quelmor (p, c, s, -3, 1);
    endswitch
  catch
  end_try_catch
endfunction

function kib = resident_kib ()
  status = fileread ("/proc/self/status");
  kib = str2double (regexp (status, 'VmRSS:\s*(\d+)', "tokens", "once"){1});
endfunction

function check (name, ok)
  global passed failed
  if (ok)
    passed++;
  else
    failed++;
    printf ("FAILED: %s\n", name);
  endif
endfunction

## Expects `call` to raise exactly "Quelmor: <message>".
function expect_error (name, call, message)
  try
    call ();
    check ([name ": raises an error"], false);
  catch err
    check ([name ": got '" err.message "'"], strcmp (err.message, ["Quelmor: " message]));
  end_try_catch
endfunction
