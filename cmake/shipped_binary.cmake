# mirrow_shipped_binary(target DESCRIPTION text [MANIFEST]): what each binary a
# host ships carries beside its code.
# - A version resource with the project's version, product name "Mirrow",
#   `text` as the file description and the file's own name, from the one
#   template cmake/version.rc.in.
# - MANIFEST (the two programs): cmake/application.manifest as the
#   application manifest (RT_MANIFEST 1).
# - A PDB beside the binary (<name>.pdb), made by lld from clang's CodeView
#   records, which the binary's debug directory names without a folder, so
#   a debugger finds it beside the binary or on a symbol path. The DWARF
#   that the static runtime libraries bring along is stripped from the
#   binary afterwards: the PDB is its only debug information.
function(mirrow_shipped_binary target)
  cmake_parse_arguments(S "MANIFEST" "DESCRIPTION" "" ${ARGN})
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
  set(MIRROW_MANIFEST_RESOURCE "")
  set(manifest ${CMAKE_SOURCE_DIR}/cmake/application.manifest)
  if(S_MANIFEST)
    # 1 is CREATEPROCESS_MANIFEST_RESOURCE_ID, 24 is RT_MANIFEST.
    set(MIRROW_MANIFEST_RESOURCE "1 24 \"${manifest}\"")
  endif()
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  if(S_MANIFEST)
    # The resource compiler reports no dependencies; a changed manifest must
    # still rebuild the resource.
    set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${manifest})
  endif()

  mirrow_pdbs(pdb ${target})
  target_link_options(${target} PRIVATE "LINKER:--pdb=${pdb}" "LINKER:--Xlink=-pdbaltpath:%_PDB%")
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_STRIP} --strip-debug $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()

# mirrow_pdbs(out target...): the PDB files of shipped binaries, for the
# install rules and the tests.
function(mirrow_pdbs out)
  set(pdbs)
  foreach(target IN LISTS ARGN)
    list(APPEND pdbs $<TARGET_FILE_DIR:${target}>/$<TARGET_FILE_BASE_NAME:${target}>.pdb)
  endforeach()
  set(${out} ${pdbs} PARENT_SCOPE)
endfunction()
