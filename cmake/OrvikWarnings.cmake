# Warning flags for every target of the project, and the sanitizer build.

function(orvik_target_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(ORVIK_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

if(ORVIK_SANITIZE)
  # Any sanitizer report aborts the test binary, so ctest fails on it. Line tables (-g1) are
  # all a report's stack trace needs, and compile much faster than full debug information.
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer -g1 -O1)
  add_link_options(-fsanitize=address,undefined)
endif()
