# A cross build's suites, each program run under CMAKE_CROSSCOMPILING_EMULATOR:
# Wine for the Windows modules (tests/windows/wine_run.sh), the i686 runner for
# the 32-bit Linux one (natively or under qemu). The kernel and filter suites, misaligned
# stacks (64-bit Windows), crafted matrix files and every shared call vector
# answered exactly as the Linux build (QUELMOR_LINUX_BUILD) answers it, and the
# checks that only read files (the DLL's headers). Windows programs are linked
# statically, so Wine needs no runtime DLLs.
if(WIN32)
  math(EXPR bits "${CMAKE_SIZEOF_VOID_P} * 8")
  set(platform windows${bits})
else()
  set(platform linux32)
endif()
if(WIN32)
  add_test(NAME ${platform}.dll_headers
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/windows/check_dll_headers.sh ${PROJECT_BINARY_DIR})
  quelmor_test_labels(${platform}.dll_headers LABELS windows host)
else()
  foreach(module IN LISTS QUELMOR_HOST_MODULES)
    quelmor_module_symbol_flags(${module} symbolFlags)
    add_test(NAME ${platform}.${module}.exports_only_mexFunction
      COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/linux/check_module_symbols.sh
            ${symbolFlags} $<TARGET_FILE:${module}>
              ${QUELMOR_HOST_OPERATIONS})
    quelmor_test_labels(${platform}.${module}.exports_only_mexFunction LABELS host)
  endforeach()
endif()
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  message(STATUS "No CMAKE_CROSSCOMPILING_EMULATOR: the suites that run ${platform} programs are "
                 "left out; only the checks that read the built files are registered")
  return()
endif()
set(QUELMOR_LINUX_BUILD ${PROJECT_SOURCE_DIR}/build/release CACHE PATH
    "The Linux build whose answers to the shared call vectors this build must give")
set(environment)
if(WIN32)
  include(${CMAKE_CURRENT_SOURCE_DIR}/windows/wine_server.cmake)
  set(environment ${QUELMOR_WINE_ENVIRONMENT})
endif()

set(INSTALL_GTEST OFF)
set(BUILD_GMOCK OFF)
add_subdirectory(${QUELMOR_GOOGLETEST_SOURCES} ${CMAKE_CURRENT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
set(crossTests)
foreach(test kernel_contract_test variant_agreement_test floating_point_mode_test filter_test)
  add_executable(${test} ${test}.cpp)
  target_link_libraries(${test} PRIVATE gtest_main quelmor_parallel quelmor_filter)
  target_include_directories(${test} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/support
                                             ${PROJECT_SOURCE_DIR}/core/src)
  if(WIN32)
    target_link_options(${test} PRIVATE -static)
  endif()
  add_test(NAME ${platform}.${test} COMMAND ${test})
  quelmor_test_labels(${platform}.${test} LABELS kernel)
  list(APPEND crossTests ${platform}.${test})
endforeach()
if(platform STREQUAL "windows64")
  # Beside the stand-in's libmx.dll and libmex.dll, which the module imports.
  add_executable(misaligned_stack_test windows/misaligned_stack_test.cpp)
  target_link_libraries(misaligned_stack_test PRIVATE gtest_main quelmor_core standin_host_tools)
  target_include_directories(misaligned_stack_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/support)
  target_link_options(misaligned_stack_test PRIVATE -static)
  target_compile_definitions(misaligned_stack_test PRIVATE QUELMOR_MODULE_PATH="$<TARGET_FILE:Quelmor>")
  set_target_properties(misaligned_stack_test PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY $<TARGET_FILE_DIR:standin_mx>)
  add_dependencies(misaligned_stack_test Quelmor)
  add_test(NAME windows64.misaligned_stacks COMMAND misaligned_stack_test)
  quelmor_test_labels(windows64.misaligned_stacks LABELS kernel host)
  list(APPEND crossTests windows64.misaligned_stacks)
endif()

add_test(NAME ${platform}.crafted_headers_are_refused
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/cross_platform/crafted_headers.sh
    ${CMAKE_CURRENT_BINARY_DIR}/crafted_headers $<TARGET_FILE:minihost> $<TARGET_FILE:Quelmor>
    ${CMAKE_CROSSCOMPILING_EMULATOR})
add_test(NAME ${platform}.same_answers_as_linux
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/cross_platform/compare_builds.sh ${CMAKE_CURRENT_BINARY_DIR}/cross_platform
    ${QUELMOR_LINUX_BUILD}/tests/make_vectors ${QUELMOR_LINUX_BUILD}/tools/minihost/minihost
    ${QUELMOR_LINUX_BUILD}/host/Quelmor.mexa64 ${platform} $<TARGET_FILE:minihost> $<TARGET_FILE:Quelmor>)
quelmor_test_labels(${platform}.crafted_headers_are_refused LABELS host)
quelmor_test_labels(${platform}.same_answers_as_linux LABELS host slow)
list(APPEND crossTests ${platform}.crafted_headers_are_refused ${platform}.same_answers_as_linux)
# 77: a 32-bit Windows program on a machine that cannot execute 32-bit programs.
set_tests_properties(${crossTests} PROPERTIES ENVIRONMENT "${environment}" SKIP_RETURN_CODE 77)
if(WIN32)
  set_tests_properties(${crossTests} PROPERTIES FIXTURES_REQUIRED wine)
  set_property(TEST ${crossTests} APPEND PROPERTY LABELS windows)
else()
  set_property(TEST ${crossTests} APPEND PROPERTY LABELS linux32)
endif()
