## Run by pkg install: puts each module's help file beside the compiled
## module, where help reads it (pkg itself installs .m files apart from .mex ones).
function post_install (desc)
  modules = dir (fullfile (desc.archprefix, "*", "*.mex"));
  for k = 1:numel (modules)
    [~, name] = fileparts (modules(k).name);
    help_file = fullfile (desc.dir, [name ".m"]);
    if (exist (help_file, "file"))
      copyfile (help_file, modules(k).folder);
    endif
  endfor
endfunction
