# Builds the 32-bit x86 Linux module, Quelmor.mexglx, and its suites with the
# host's g++ -m32 (Debian: g++-multilib). It carries the 32-bit Windows
# module's kernel (SSE only, SSE2 arithmetic), so its suites test that kernel
# on machines whose kernel cannot run 32-bit Windows programs under Wine.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT -m32)
endforeach()
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(QUELMOR_MODULE_SUFFIX .mexglx)
set(QUELMOR_OBJDUMP objdump)
set(QUELMOR_NM nm)
set(QUELMOR_VECTOR_FAMILIES sse)
# Natively where the machine runs 32-bit programs, else under qemu.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/cross_platform/i686_run.sh)
