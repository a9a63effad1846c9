# Applies TESSARIN_SANITIZE to every target of the build, and in a fuzz
# build (TESSARIN_FUZZ) the instrumentation libFuzzer needs: every library
# is compiled with coverage counters and comparison hooks, AddressSanitizer
# and UndefinedBehaviorSanitizer, so that the fuzzer sees the branches of the
# parsers it drives and a fault inside them stops the run. Only the
# <name>_fuzz programs link libFuzzer itself (tests/fuzz/CMakeLists.txt).
if(TESSARIN_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "TESSARIN_FUZZ needs clang (CC=clang CXX=clang++)")
  endif()
  if(NOT TESSARIN_SANITIZE STREQUAL "")
    message(FATAL_ERROR "TESSARIN_FUZZ brings its own sanitizers; leave TESSARIN_SANITIZE empty")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(TESSARIN_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(TESSARIN_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT TESSARIN_SANITIZE STREQUAL "")
  message(FATAL_ERROR "TESSARIN_SANITIZE must be empty, address or thread")
endif()
