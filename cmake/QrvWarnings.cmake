# Warnings as errors on the project's own code (never on system headers).
function(qrv_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Werror)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # GCC 12 reports false -Wrestrict errors inside std::string at -O3.
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
endfunction()
