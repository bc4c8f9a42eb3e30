## Quelmor.mex and QuelmorProject.mex loaded by GNU Octave: inputs of Octave's other classes, and
## memory over thousands of calls. (compare_builds.sh runs the table of call
## cases through it, and checks its answers byte for byte against the other
## builds'.)
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

  ## Inputs of other classes than a real, full double: a clear error, then
  ## Octave and the module carry on. (The table of call cases, which
  ## answer_vectors runs through Octave, covers counts, results and every
  ## other rejection.)
  not_real = @(n, name) sprintf ("Input %d (%s) must be a real, full double array.", n, name);
  bad = {"int32 projections", @() Quelmor (int32 (p), c, s, 6, 1), not_real(1, "projections");
         "complex projections", @() Quelmor (complex (p, 1), c, s, 6, 1), not_real(1, "projections");
         "sparse projections", @() Quelmor (sparse (p), c, s, 6, 1), not_real(1, "projections");
         "single cosines", @() Quelmor (p, single (c), s, 6, 1), not_real(2, "cosines");
         "cell cosines", @() Quelmor (p, {c}, s, 6, 1), not_real(2, "cosines");
         "logical sines", @() Quelmor (p, c, logical (s), 6, 1), not_real(3, "sines");
         "char side", @() Quelmor (p, c, s, "6", 1), not_real(4, "imageSize");
         "int32 side", @() Quelmor (p, c, s, int32 (6), 1), not_real(4, "imageSize");
         "struct code", @() Quelmor (p, c, s, 6, struct ("a", 1)), not_real(5, "interpCode")};
  for i = 1:rows (bad)
    expect_error (bad{i, 1}, bad{i, 2}, bad{i, 3});
    check ([bad{i, 1} ": a correct call still works"], isequal (Quelmor (p, c, s, 6, 1), good));
  endfor
  ## The same for the projection module, QuelmorProject.
  image = magic (6);
  projected = QuelmorProject (image, c, s, 11, 1);
  bad = {"int32 image", @() QuelmorProject (int32 (image), c, s, 11, 1), not_real(1, "image");
         "sparse image", @() QuelmorProject (sparse (image), c, s, 11, 1), not_real(1, "image");
         "single cosines", @() QuelmorProject (image, single (c), s, 11, 1), not_real(2, "cosines");
         "logical sines", @() QuelmorProject (image, c, logical (s), 11, 1), not_real(3, "sines");
         "char detectors", @() QuelmorProject (image, c, s, "9", 1), not_real(4, "detectorCount");
         "cell code", @() QuelmorProject (image, c, s, 11, {1}), not_real(5, "interpCode")};
  for i = 1:rows (bad)
    expect_error (bad{i, 1}, bad{i, 2}, bad{i, 3});
    check ([bad{i, 1} ": a correct call still works"],
           isequal (QuelmorProject (image, c, s, 11, 1), projected));
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
    ## Octave puts the module's name before its message.
    check ([name ": got '" err.message "'"],
           ! isempty (regexp (err.message, ['^Quelmor(Project)?: ' regexptranslate("escape", message) '$'])));
  end_try_catch
endfunction
