# The install tree a host application ships from: the two libraries, the
# guard and mirrowctl in bin/, their PDBs in symbols/ (for a symbol store or
# a debugger's symbol path; debuggers match them by the signature in each
# binary, not by folder), the public headers in include/, and the .def files
# that name the exports in lib/.
install(FILES
  $<TARGET_FILE:Vantrel>
  $<TARGET_FILE:Telvyn>
  $<TARGET_FILE:FreezeGuard>
  $<TARGET_FILE:mirrowctl>
  DESTINATION bin)
mirrow_pdbs(pdbs Vantrel Telvyn FreezeGuard mirrowctl)
install(FILES ${pdbs} DESTINATION symbols)
install(FILES
  ${CMAKE_SOURCE_DIR}/include/vantrel.h
  ${CMAKE_SOURCE_DIR}/include/telvyn.h
  DESTINATION include)
install(FILES
  ${CMAKE_SOURCE_DIR}/engine/api/vantrel.def
  ${CMAKE_SOURCE_DIR}/inspector/telvyn.def
  DESTINATION lib)
