# Fails unless every DLL that ${BINARY} imports is one the system provides:
# the shipped binaries carry their C++ runtime inside, so that a host folder
# needs nothing beside them. OBJDUMP reads the import table.
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${BINARY} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "objdump could not read ${BINARY}")
endif()
get_filename_component(binary_name ${BINARY} NAME)
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
if(NOT imports)
  message(FATAL_ERROR "no import of ${binary_name} was found")
endif()
set(system_dlls kernel32.dll advapi32.dll user32.dll ole32.dll oleaut32.dll wevtapi.dll msvcrt.dll ntdll.dll
    version.dll)
foreach(line IN LISTS imports)
  string(REPLACE "DLL Name: " "" name "${line}")
  string(STRIP "${name}" name)
  string(TOLOWER "${name}" name)
  if(NOT name IN_LIST system_dlls)
    message(FATAL_ERROR "${binary_name} imports ${name}, which is not a system DLL")
  endif()
  message(STATUS "${binary_name} imports ${name}")
endforeach()
