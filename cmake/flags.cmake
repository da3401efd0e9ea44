# Compiler flags for every target of ours. Floating point must round identically on both targets:
# no contraction anywhere, and SSE2 arithmetic instead of x87 on i686.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Werror -ffp-contract=off)
if(WIN32)
  add_compile_options(-msse2 -mfpmath=sse)
  # Test programs carry their runtime with them, so Wine needs nothing but the system DLLs.
  add_link_options(-static)
endif()
if(KINETISCAN_SANITIZE OR KINETISCAN_FUZZ)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(KINETISCAN_COVERAGE)
  add_compile_options(-fprofile-instr-generate -fcoverage-mapping)
  add_link_options(-fprofile-instr-generate)
endif()
if(KINETISCAN_FUZZ)
  # Positions 0-2 of every table are called through the generic Unknown view, as COM hosts do;
  # the operations differ from that view only in the pointee type of their first argument.
  add_compile_options(-fno-sanitize=function)
endif()

# The plug-in's own code: nothing may throw across the binary contract.
function(kinetiscan_plugin_flags target)
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
  # libFuzzer's coverage feedback comes from the plug-in (and the targets themselves), not from
  # the host, stand-in and runtime around it: fewer counters to scan after every input.
  if(KINETISCAN_FUZZ)
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
  endif()
endfunction()

# Adds a GoogleTest program; under Wine it runs through CMAKE_CROSSCOMPILING_EMULATOR.
function(kinetiscan_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  if(WIN32)
    # Under Wine the programs use our AVICAP32 from their own folder.
    add_dependencies(${name} avicap32_standin)
  endif()
endfunction()

# Clang ignores the GCC target pragmas of the analysis's vector paths: their instruction sets go on
# the command line instead, for the target that compiles them.
function(kinetiscan_clang_vector_units target)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    return()
  endif()
  set(units ${PROJECT_SOURCE_DIR}/src/analysis)
  set(quiet "-Wno-unknown-pragmas")
  set_source_files_properties(${units}/kernels_avx2.cpp TARGET_DIRECTORY ${target}
                              PROPERTIES COMPILE_OPTIONS "-mavx2;-mfma;${quiet}")
  set_source_files_properties(${units}/kernels_avx512.cpp TARGET_DIRECTORY ${target}
                              PROPERTIES COMPILE_OPTIONS "-mavx2;-mavx512f;-mfma;${quiet}")
endfunction()
