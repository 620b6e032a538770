# The fuzz build: clang's libFuzzer coverage instrumentation on every target, and the fuzz
# targets under tests/fuzz. Combine with ORVIK_SANITIZE for AddressSanitizer and
# UndefinedBehaviorSanitizer; scripts/fuzz.sh configures both.

option(ORVIK_FUZZ "Build the libFuzzer targets (needs clang)" OFF)

if(ORVIK_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "ORVIK_FUZZ needs clang (libFuzzer); the compiler is "
                        "${CMAKE_CXX_COMPILER_ID}. Configure with -DCMAKE_CXX_COMPILER=clang++.")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
