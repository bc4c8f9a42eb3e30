# The Windows build's suites, run under CMAKE_CROSSCOMPILING_EMULATOR (Wine):
# the kernel suites, misaligned stacks, crafted matrix files, the DLL's
# headers, and every shared call vector answered exactly as the Linux build
# (QUELMOR_LINUX_BUILD) answers it. Linked statically, so Wine needs no
# runtime DLLs.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  message(FATAL_ERROR "the Windows suites run under Wine: configure with "
                      "-DCMAKE_CROSSCOMPILING_EMULATOR=wine (presets mingw32, mingw64)")
endif()
set(QUELMOR_LINUX_BUILD ${PROJECT_SOURCE_DIR}/build/release CACHE PATH
    "The Linux build whose answers to the shared call vectors this build must give")
math(EXPR bits "${CMAKE_SIZEOF_VOID_P} * 8")
include(${CMAKE_CURRENT_LIST_DIR}/wine_server.cmake)

set(INSTALL_GTEST OFF)
set(BUILD_GMOCK OFF)
add_subdirectory(${QUELMOR_GOOGLETEST_SOURCES} ${CMAKE_CURRENT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
set(wineTests)
foreach(test kernel_contract_test variant_agreement_test floating_point_mode_test)
  add_executable(${test} ${test}.cpp)
  target_link_libraries(${test} PRIVATE gtest_main quelmor_parallel)
  target_include_directories(${test} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/support)
  target_link_options(${test} PRIVATE -static)
  add_test(NAME windows${bits}.${test} COMMAND ${test})
  quelmor_test_labels(windows${bits}.${test} LABELS windows kernel)
  list(APPEND wineTests windows${bits}.${test})
endforeach()
if(bits EQUAL 64)
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
  quelmor_test_labels(windows64.misaligned_stacks LABELS windows kernel host)
  list(APPEND wineTests windows64.misaligned_stacks)
endif()

add_test(NAME windows${bits}.crafted_headers_are_refused
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/cross_platform/crafted_headers.sh
    ${CMAKE_CURRENT_BINARY_DIR}/crafted_headers $<TARGET_FILE:minihost> $<TARGET_FILE:Quelmor>
    ${CMAKE_CROSSCOMPILING_EMULATOR})
add_test(NAME windows${bits}.same_answers_as_linux
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/cross_platform/compare_builds.sh ${CMAKE_CURRENT_BINARY_DIR}/cross_platform
    ${QUELMOR_LINUX_BUILD}/tests/make_vectors ${QUELMOR_LINUX_BUILD}/tools/minihost/minihost
    ${QUELMOR_LINUX_BUILD}/host/Quelmor.mexa64 windows${bits} $<TARGET_FILE:minihost> $<TARGET_FILE:Quelmor>)
quelmor_test_labels(windows${bits}.crafted_headers_are_refused LABELS windows host)
quelmor_test_labels(windows${bits}.same_answers_as_linux LABELS windows host slow)
list(APPEND wineTests windows${bits}.crafted_headers_are_refused windows${bits}.same_answers_as_linux)
set_tests_properties(${wineTests} PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT WINEDEBUG=-all)

add_test(NAME windows${bits}.dll_headers COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/windows/check_dll_headers.sh ${PROJECT_BINARY_DIR})
quelmor_test_labels(windows${bits}.dll_headers LABELS windows host)
