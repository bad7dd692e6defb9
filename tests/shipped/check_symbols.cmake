# Fails unless ${PDB} is the PDB that ${BINARY}'s debug directory names: by
# file name alone (no folder of the build machine) and with the same GUID
# and age, which is what a debugger matches. The PDB must also hold the
# CodeView records of the functions (every export in ${DEF}, or the list
# ${FUNCTIONS}), and ${BINARY} no DWARF sections of its own.
# Arguments: BINARY, PDB, READOBJ, PDBUTIL, OBJDUMP, and DEF or FUNCTIONS.
cmake_minimum_required(VERSION 3.25)

function(output_of out)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE text ERROR_VARIABLE errors RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${ARGN} failed: ${errors}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(match out regex text what)
  if(NOT text MATCHES "${regex}")
    message(FATAL_ERROR "no ${what} in:\n${text}")
  endif()
  set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()

get_filename_component(binary_name "${BINARY}" NAME)
get_filename_component(pdb_name "${PDB}" NAME)

# The CodeView record of the debug directory: the GUID as its 16 bytes in
# file order, the age, the file name.
output_of(directory "${READOBJ}" --coff-debug-directory "${BINARY}")
match(bytes "PDBGUID: \\(([0-9A-F ]+)\\)" "${directory}" "PDB GUID in the debug directory")
match(binary_age "PDBAge: ([0-9]+)" "${directory}" "PDB age in the debug directory")
match(named "PDBFileName: ([^\n]*)" "${directory}" "PDB file name in the debug directory")
if(NOT named STREQUAL pdb_name)
  message(FATAL_ERROR "${binary_name} names the PDB \"${named}\", not \"${pdb_name}\"")
endif()
# In its text form the GUID's first three fields read as little-endian numbers.
string(REPLACE " " "" bytes "${bytes}")
set(guid "{")
foreach(field "6;4;2;0" "10;8" "14;12" "16;18" "20;22;24;26;28;30")
  if(NOT guid STREQUAL "{")
    string(APPEND guid "-")
  endif()
  foreach(at IN LISTS field)
    string(SUBSTRING "${bytes}" ${at} 2 byte)
    string(APPEND guid "${byte}")
  endforeach()
endforeach()
string(APPEND guid "}")

output_of(summary "${PDBUTIL}" dump --summary "${PDB}")
match(pdb_guid "GUID: ({[0-9A-F-]+})" "${summary}" "GUID in the PDB")
match(pdb_age "Age: ([0-9]+)" "${summary}" "age in the PDB")
if(NOT pdb_guid STREQUAL guid OR NOT pdb_age STREQUAL binary_age)
  message(FATAL_ERROR "${pdb_name} is ${pdb_guid} age ${pdb_age}; ${binary_name} asks for ${guid} age ${binary_age}")
endif()

if(DEF)
  file(STRINGS "${DEF}" FUNCTIONS REGEX "^[ \t]+[A-Za-z_][A-Za-z0-9_]*[ \t]*$")
endif()
output_of(symbols "${PDBUTIL}" dump --symbols "${PDB}")
foreach(function IN LISTS FUNCTIONS)
  string(STRIP "${function}" function)
  if(NOT symbols MATCHES "S_GPROC32 \\[size = [0-9]+\\] `${function}`")
    message(FATAL_ERROR "${pdb_name} has no procedure record of ${function}")
  endif()
endforeach()

output_of(sections "${OBJDUMP}" -h "${BINARY}")
if(sections MATCHES "\\.debug_[a-z_]+")
  message(FATAL_ERROR "${binary_name} carries DWARF (${CMAKE_MATCH_0})")
endif()
list(LENGTH FUNCTIONS count)
message(STATUS "${pdb_name} matches ${binary_name} (${guid} age ${binary_age}) and describes its ${count} functions")
