# Windows version resources: what Explorer's Details tab and installers show,
# made from the project's one version number.
set(VAREK_VENDOR "the varek developers")
set(VAREK_COPYRIGHT "Copyright (c) 2026 the varek developers, MIT License")

# varek_version_resource(TARGET DESCRIPTION): gives TARGET (a DLL or a
# program) its version resource; nothing outside Windows.
function(varek_version_resource target description)
  if(NOT WIN32)
    return()
  endif()
  get_target_property(type ${target} TYPE)
  set(VAREK_RC_NAME ${target})
  set(VAREK_RC_DESCRIPTION "${description}")
  if(type STREQUAL "SHARED_LIBRARY")
    set(VAREK_RC_FILETYPE VFT_DLL)
    set(VAREK_RC_FILENAME ${target}.dll)
  else()
    set(VAREK_RC_FILETYPE VFT_APP)
    set(VAREK_RC_FILENAME ${target}.exe)
  endif()
  set(rc_file ${CMAKE_BINARY_DIR}/version/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc_file} @ONLY)
  target_sources(${target} PRIVATE ${rc_file})
endfunction()
