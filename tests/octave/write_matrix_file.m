## Writes `m` as a matrix file (see read_matrix_file).
function write_matrix_file (path, m)
  fid = fopen (path, "w", "ieee-le");
  fwrite (fid, size (m), "uint32");
  fwrite (fid, m(:), "double");
  fclose (fid);
endfunction
