# Warnings every target of the project is built with.
function(tessarin_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

# A library of the project: sources, headers reached through src/, warnings.
function(tessarin_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${TESSARIN_SRC})
  tessarin_warnings(${name})
endfunction()
