# Warnings on the project's own code (never on system headers). With
# QRV_WERROR they are errors: the project's own checks (scripts/test.sh) turn it
# on, while a user's build is not broken by what a newer compiler warns about.
option(QRV_WERROR "Treat the project's warnings as errors" OFF)

function(qrv_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow)
  if(QRV_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # GCC 12 reports false -Wrestrict errors inside std::string at -O3.
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
endfunction()
