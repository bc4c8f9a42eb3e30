# Cross-compiles the 32-bit Windows module, Quelmor.mexw32, with MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QUELMOR_MINGW_PREFIX i686-w64-mingw32)
set(QUELMOR_MINGW_PACKAGE g++-mingw-w64-i686)
set(QUELMOR_MODULE_SUFFIX .mexw32)
set(QUELMOR_DLLTOOL_MACHINE i386)
set(QUELMOR_PE_FORMAT pei-i386)
# The 32-bit module keeps the variants it has always shipped: SSE only.
set(QUELMOR_VECTOR_FAMILIES sse)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
