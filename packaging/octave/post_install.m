## Run by pkg install: puts each module's help file beside the compiled
## module, where help reads it (pkg itself installs .m files apart from .mex ones).
function post_install (desc)
  for name = {"Quelmor", "QuelmorProject"}
    modules = dir (fullfile (desc.archprefix, "*", [name{1} ".mex"]));
    for k = 1:numel (modules)
      copyfile (fullfile (desc.dir, [name{1} ".m"]), modules(k).folder);
    endfor
  endfor
endfunction
