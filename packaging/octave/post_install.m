## Run by pkg install: puts the help file beside the compiled module, where
## help Quelmor reads it (pkg itself installs .m files apart from .mex ones).
function post_install (desc)
  modules = dir (fullfile (desc.archprefix, "*", "Quelmor.mex"));
  for k = 1:numel (modules)
    copyfile (fullfile (desc.dir, "Quelmor.m"), modules(k).folder);
  endfor
endfunction
