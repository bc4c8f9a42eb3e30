# Cross-compiles the 64-bit Windows module, Quelmor.mexw64, with MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUELMOR_MINGW_PREFIX x86_64-w64-mingw32)
set(QUELMOR_MINGW_PACKAGE g++-mingw-w64-x86-64)
set(QUELMOR_MODULE_SUFFIX .mexw64)
set(QUELMOR_DLLTOOL_MACHINE i386:x86-64)
set(QUELMOR_PE_FORMAT pei-x86-64)
set(QUELMOR_VECTOR_FAMILIES sse avx)
# 64-bit Windows aligns the stack to 16 bytes only, while GCC spills 32- and
# 64-byte vectors with aligned moves as if it were aligned to their size (a
# long-standing GCC defect on this target). The assembler writes every aligned
# vector move as an unaligned one, which has no alignment to fault on.
set(CMAKE_CXX_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
