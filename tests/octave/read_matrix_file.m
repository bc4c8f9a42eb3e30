## Reads a matrix file: little-endian uint32 rows and columns, then the
## doubles in column-major order.
function m = read_matrix_file (path)
  fid = fopen (path, "r", "ieee-le");
  dims = fread (fid, 2, "uint32")';
  m = reshape (fread (fid, prod (dims), "double"), dims);
  fclose (fid);
endfunction
