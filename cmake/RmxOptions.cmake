# Build options shared by every target of the project.
set(SANITIZE "" CACHE STRING "Sanitizers to build with: address,undefined or thread")
option(RMX_WERROR "Treat warnings as errors in the project's own code" ON)
option(RMX_BUILD_TESTS "Build the tests" ON)
option(RMX_FUZZ "Build the libFuzzer targets (needs clang)" OFF)

if(SANITIZE)
  add_compile_options(-fsanitize=${SANITIZE} -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=${SANITIZE})
  if(SANITIZE MATCHES "undefined")
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
endif()

# Warnings for the project's own targets (not for generated or third-party code).
function(rmx_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow)
  if(RMX_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
