## Answers every call vector in `vectors` with the modules in `module_dir`,
## writing what run_build.sh writes for the other builds.
function answer_vectors (module_dir, vectors, results)
  addpath (module_dir, fullfile (fileparts (mfilename ("fullpath")), "..", "octave"));
  calls = dir (vectors);
  for k = 1:numel (calls)
    name = calls(k).name;
    if (! calls(k).isdir || any (strcmp (name, {".", ".."})))
      continue;
    endif
    folder = fullfile (vectors, name);
    out = fullfile (results, name);
    mkdir (out);
    args = {};
    for i = 1:9
      path = fullfile (folder, sprintf ("in%d", i));
      if (exist (path, "file"))
        args{end+1} = read_matrix_file (path);
      endif
    endfor
    nargout_wanted = str2double (fileread (fullfile (folder, "nargout")));
    module = strtrim (fileread (fullfile (folder, "module")));
    try
      switch (nargout_wanted)
        case 0
          feval (module, args{:});
          image = ans;
        case 1
          image = feval (module, args{:});
        otherwise
          answers = cell (1, nargout_wanted);
          [answers{:}] = feval (module, args{:});
          image = answers{1};
      endswitch
      write_matrix_file (fullfile (out, "image"), image);
      write_text (fullfile (out, "status"), "0\n");
    catch err
      ## Octave puts the function's name before the module's message.
      write_text (fullfile (out, "message"), [regexprep(err.message, ['^' module ': '], '') "\n"]);
      write_text (fullfile (out, "status"), "1\n");
    end_try_catch
  endfor
endfunction

function write_text (path, text)
  fid = fopen (path, "w");
  fputs (fid, text);
  fclose (fid);
endfunction
