# Installs the build into a fresh prefix and checks the tree a host ships
# from: every product in bin/ with its PDB in symbols/, both headers in
# include/ compiling as C and as C++ (each alone and together), both .def
# files in lib/.
# Arguments: BUILD_DIR, PREFIX, C_COMPILER, CXX_COMPILER, SOURCE_DIR, and
# C_FLAGS, CXX_FLAGS (the build's target and standard-header flags).
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE installed OUTPUT_QUIET)
if(NOT installed EQUAL 0)
  message(FATAL_ERROR "cmake --install failed with ${installed}")
endif()

set(expected
  bin/Vantrel.dll bin/Telvyn.dll bin/FreezeGuard.exe bin/mirrowctl.exe
  symbols/Vantrel.pdb symbols/Telvyn.pdb symbols/FreezeGuard.pdb symbols/mirrowctl.pdb
  include/vantrel.h include/telvyn.h
  lib/vantrel.def lib/telvyn.def)
foreach(file IN LISTS expected)
  if(NOT EXISTS "${PREFIX}/${file}")
    message(FATAL_ERROR "the install tree lacks ${file}")
  endif()
endforeach()

# The installed headers are the ones in the source tree.
foreach(header vantrel.h telvyn.h)
  file(SHA256 "${PREFIX}/include/${header}" installed_hash)
  file(SHA256 "${SOURCE_DIR}/include/${header}" source_hash)
  if(NOT installed_hash STREQUAL source_hash)
    message(FATAL_ERROR "include/${header} differs from the source tree")
  endif()
endforeach()

# Every export named in a .def file is a declaration of the matching header.
foreach(pair "vantrel.def;vantrel.h" "telvyn.def;telvyn.h")
  list(GET pair 0 def)
  list(GET pair 1 header)
  file(STRINGS "${PREFIX}/lib/${def}" exports REGEX "^[ \t]+[a-z_]+[ \t]*$")
  file(READ "${PREFIX}/include/${header}" declarations)
  foreach(export IN LISTS exports)
    string(STRIP "${export}" export)
    if(NOT declarations MATCHES "[ *]${export}\\(")
      message(FATAL_ERROR "${def} names ${export}, which ${header} does not declare")
    endif()
  endforeach()
endforeach()

set(work "${PREFIX}/header-check")
file(MAKE_DIRECTORY "${work}")
foreach(headers "vantrel.h" "telvyn.h" "vantrel.h;telvyn.h" "telvyn.h;vantrel.h")
  set(source "")
  foreach(header IN LISTS headers)
    string(APPEND source "#include \"${header}\"\n")
  endforeach()
  string(APPEND source "int main(void) { return 0; }\n")
  foreach(language c c++)
    if(language STREQUAL "c")
      set(compiler "${C_COMPILER}")
      set(file "${work}/check.c")
      separate_arguments(flags UNIX_COMMAND "${C_FLAGS}")
      list(APPEND flags -std=c99)
    else()
      set(compiler "${CXX_COMPILER}")
      set(file "${work}/check.cpp")
      separate_arguments(flags UNIX_COMMAND "${CXX_FLAGS}")
      list(APPEND flags -std=c++20)
    endif()
    file(WRITE "${file}" "${source}")
    execute_process(
      COMMAND "${compiler}" ${flags} -Wall -Wextra -Werror -pedantic -fsyntax-only -I "${PREFIX}/include" "${file}"
      RESULT_VARIABLE compiled ERROR_VARIABLE diagnostics)
    if(NOT compiled EQUAL 0)
      message(FATAL_ERROR "${headers} does not compile as ${language}:\n${diagnostics}")
    endif()
  endforeach()
endforeach()
message(STATUS "install tree complete; headers compile as C and C++")
