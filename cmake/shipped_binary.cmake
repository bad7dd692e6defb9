# mirrow_shipped_binary(target DESCRIPTION text): what each binary a host
# ships carries beside its code.
# - A version resource with the project's version, product name "Mirrow",
#   `text` as the file description and the file's own name, from the one
#   template cmake/version.rc.in.
function(mirrow_shipped_binary target)
  cmake_parse_arguments(S "" "DESCRIPTION" "" ${ARGN})
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    set(MIRROW_FILE_TYPE VFT_DLL)
    set(suffix ${CMAKE_SHARED_LIBRARY_SUFFIX})
  else()
    set(MIRROW_FILE_TYPE VFT_APP)
    set(suffix ${CMAKE_EXECUTABLE_SUFFIX})
  endif()
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  set(MIRROW_INTERNAL_NAME ${name})
  set(MIRROW_FILE_NAME ${name}${suffix})
  set(MIRROW_FILE_DESCRIPTION "${S_DESCRIPTION}")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
