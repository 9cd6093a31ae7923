# varek_program(TARGET SUMMARY): what a program says of itself beside its
# --help, from one summary: its version resource on Windows ("TARGET:
# SUMMARY"), its man page on Linux (section 1, made by help2man from its
# --help and --version, so that it says what the program says, installed
# gzipped under share/man/man1).
find_program(VAREK_HELP2MAN help2man)

function(varek_program target summary)
  varek_version_resource(${target} "${target}: ${summary}")
  if(WIN32)
    return()
  endif()
  if(NOT VAREK_HELP2MAN)
    message(STATUS "no help2man: ${target} gets no man page (scripts/install-deps.sh package installs it)")
    return()
  endif()
  set(folder ${CMAKE_BINARY_DIR}/man)
  # help2man runs the program through the shell: built for another
  # architecture, it runs under the build's emulator.
  set(program $<TARGET_FILE:${target}>)
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    set(program "${CMAKE_CROSSCOMPILING_EMULATOR} ${program}")
  endif()
  add_custom_command(OUTPUT ${folder}/${target}.1.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
    COMMAND ${VAREK_HELP2MAN} --no-info --no-discard-stderr --name "${summary}" --output ${folder}/${target}.1
            ${program}
    COMMAND gzip -9nf ${folder}/${target}.1
    DEPENDS ${target}
    COMMENT "man page ${target}.1")
  add_custom_target(${target}_man_page ALL DEPENDS ${folder}/${target}.1.gz)
  install(FILES ${folder}/${target}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT programs)
endfunction()
