# Warnings as errors on the project's own code (never on system headers).
function(qrv_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
    -Werror)
endfunction()
