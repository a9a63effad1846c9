# The libraries the Windows build brings along instead of taking them from
# the system: SQLite as the official amalgamation, and GoogleTest built from
# Debian's sources with the cross compiler. Included by the top-level
# CMakeLists.txt when building for Windows.

# SQLite: the sqlite-autoconf archive that the npm package sqlite3 ships in
# its deps/ folder, fetched once into the build folder with `npm pack` and
# checked against the digest below before it is unpacked. A new version
# changes all three values together.
set(TESSARIN_SQLITE_NPM_VERSION "6.0.1")
set(TESSARIN_SQLITE_ARCHIVE "sqlite-autoconf-3520000")
set(TESSARIN_SQLITE_SHA256 "f6b50b0c103392af32a8be15b2b9d25959de9a00a70c3979128aafeaa5338b3f")

set(sqlite_dir "${CMAKE_BINARY_DIR}/_deps/sqlite")
set(sqlite_source "${sqlite_dir}/${TESSARIN_SQLITE_ARCHIVE}")
if(NOT EXISTS "${sqlite_source}/sqlite3.c")
  find_program(TESSARIN_NPM npm REQUIRED)
  file(MAKE_DIRECTORY "${sqlite_dir}")
  set(package "${sqlite_dir}/sqlite3-${TESSARIN_SQLITE_NPM_VERSION}.tgz")
  if(NOT EXISTS "${package}")
    message(STATUS "Fetching the SQLite amalgamation (npm package sqlite3@${TESSARIN_SQLITE_NPM_VERSION})")
    execute_process(
      COMMAND "${TESSARIN_NPM}" pack "sqlite3@${TESSARIN_SQLITE_NPM_VERSION}" --silent
      WORKING_DIRECTORY "${sqlite_dir}"
      RESULT_VARIABLE npm_result
      OUTPUT_QUIET)
    if(NOT npm_result EQUAL 0 OR NOT EXISTS "${package}")
      message(FATAL_ERROR "npm pack sqlite3@${TESSARIN_SQLITE_NPM_VERSION} failed (${npm_result})")
    endif()
  endif()
  set(archive "${sqlite_dir}/package/deps/${TESSARIN_SQLITE_ARCHIVE}.tar.gz")
  file(ARCHIVE_EXTRACT INPUT "${package}" DESTINATION "${sqlite_dir}"
    PATTERNS "package/deps/${TESSARIN_SQLITE_ARCHIVE}.tar.gz")
  file(SHA256 "${archive}" archive_sha256)
  if(NOT archive_sha256 STREQUAL TESSARIN_SQLITE_SHA256)
    file(REMOVE "${package}" "${archive}")
    message(FATAL_ERROR "${TESSARIN_SQLITE_ARCHIVE}.tar.gz has SHA-256 ${archive_sha256}, "
      "not the recorded ${TESSARIN_SQLITE_SHA256}")
  endif()
  file(ARCHIVE_EXTRACT INPUT "${archive}" DESTINATION "${sqlite_dir}"
    PATTERNS "${TESSARIN_SQLITE_ARCHIVE}/sqlite3.c" "${TESSARIN_SQLITE_ARCHIVE}/sqlite3.h"
             "${TESSARIN_SQLITE_ARCHIVE}/sqlite3ext.h")
endif()

# Thread-safe, as the client's threads share one connection.
add_library(tessarin_sqlite3 STATIC "${sqlite_source}/sqlite3.c")
target_include_directories(tessarin_sqlite3 SYSTEM PUBLIC "${sqlite_source}")
target_compile_definitions(tessarin_sqlite3 PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION=1)
target_compile_options(tessarin_sqlite3 PRIVATE -w)
add_library(SQLite::SQLite3 ALIAS tessarin_sqlite3)

# nlohmann_json, header-only (tsr-tool's JSON): Debian's headers, seen
# through a folder of their own so that nothing else of /usr/include enters
# the cross build.
set(json_include "${CMAKE_BINARY_DIR}/_deps/nlohmann_json/include")
if(NOT EXISTS /usr/include/nlohmann/json.hpp)
  message(FATAL_ERROR "nlohmann/json.hpp is missing: scripts/install-deps installs nlohmann-json3-dev")
endif()
file(MAKE_DIRECTORY "${json_include}")
file(CREATE_LINK /usr/include/nlohmann "${json_include}/nlohmann" SYMBOLIC)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE "${json_include}")

# GoogleTest and GoogleMock from Debian's sources (package googletest, which
# libgtest-dev brings), built like the rest of the program.
if(TESSARIN_BUILD_TESTS)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/_deps/googletest" EXCLUDE_FROM_ALL SYSTEM)
endif()
