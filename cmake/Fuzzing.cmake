# WHEELBOX_FUZZ selects how the fuzz targets in fuzz/ build:
#   replay     plain programs that run their seed corpus once, registered with ctest (any compiler);
#   libfuzzer  clang's libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer, for
#              scripts/fuzz; every target is instrumented, so that coverage guides the search;
#   coverage   the replay programs with clang's source-based coverage, for `scripts/fuzz coverage`;
#   off        none.
if(WHEELBOX_FUZZ STREQUAL "libfuzzer" OR WHEELBOX_FUZZ STREQUAL "coverage")
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "WHEELBOX_FUZZ=${WHEELBOX_FUZZ} needs clang (CC=clang CXX=clang++)")
  endif()
  if(NOT WHEELBOX_SANITIZE STREQUAL "")
    message(FATAL_ERROR "WHEELBOX_FUZZ=${WHEELBOX_FUZZ} brings its own instrumentation; leave WHEELBOX_SANITIZE empty")
  endif()
endif()
if(WHEELBOX_FUZZ STREQUAL "libfuzzer")
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(WHEELBOX_FUZZ STREQUAL "coverage")
  add_compile_options(-fprofile-instr-generate -fcoverage-mapping)
  add_link_options(-fprofile-instr-generate)
elseif(NOT WHEELBOX_FUZZ MATCHES "^(replay|off)$")
  message(FATAL_ERROR "WHEELBOX_FUZZ must be 'replay', 'libfuzzer', 'coverage' or 'off'")
endif()
