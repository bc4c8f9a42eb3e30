# What every MinGW-w64 cross build shares. The including toolchain file sets
# CMAKE_SYSTEM_PROCESSOR, QUELMOR_MINGW_PREFIX and the platform's facts.
set(CMAKE_SYSTEM_NAME Windows)

find_program(CMAKE_CXX_COMPILER NAMES ${QUELMOR_MINGW_PREFIX}-g++-posix ${QUELMOR_MINGW_PREFIX}-g++)
if(NOT CMAKE_CXX_COMPILER)
  message(FATAL_ERROR "${QUELMOR_MINGW_PREFIX}-g++ not found: install ${QUELMOR_MINGW_PACKAGE}")
endif()
find_program(CMAKE_C_COMPILER NAMES ${QUELMOR_MINGW_PREFIX}-gcc-posix ${QUELMOR_MINGW_PREFIX}-gcc)
find_program(CMAKE_RC_COMPILER NAMES ${QUELMOR_MINGW_PREFIX}-windres)
find_program(CMAKE_DLLTOOL NAMES ${QUELMOR_MINGW_PREFIX}-dlltool)
set(QUELMOR_OBJDUMP ${QUELMOR_MINGW_PREFIX}-objdump)
set(QUELMOR_NM ${QUELMOR_MINGW_PREFIX}-nm)

set(CMAKE_FIND_ROOT_PATH /usr/${QUELMOR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Reproducible, stripped artifacts, as the Linux build's: the linker would
# stamp the link time into the PE headers, and the static runtime libraries
# bring ~300 KB of DWARF sections and a COFF symbol table into a Release module.
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-Wl,--no-insert-timestamp")
  set(CMAKE_${kind}_LINKER_FLAGS_RELEASE_INIT "-s")
  set(CMAKE_${kind}_LINKER_FLAGS_MINSIZEREL_INIT "-s")
endforeach()
