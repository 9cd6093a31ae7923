# What `cmake --install` puts in place: headers, the library (on Windows also
# its import libraries for MinGW and MSVC and the .def file they come from),
# a CMake package giving varek::varek, a pkg-config file, the programs, the
# Python module and the licence. `cpack` turns a Linux install into a .deb.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

if(WIN32)
  set(default_python_dir python)
else()
  set(default_python_dir ${CMAKE_INSTALL_DATADIR}/varek/python)
endif()
set(VAREK_INSTALL_PYTHONDIR ${default_python_dir} CACHE STRING "Where the Python module goes, below the prefix")

target_include_directories(varek PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS varek EXPORT varekTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY include/varek DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
foreach(program varekctl varek-sim varek-server)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
# The module finds the library through VAREK_LIBRARY, beside itself, in
# ../../bin (the Windows zip), or the system's; it carries the project version.
install(DIRECTORY python/varek DESTINATION ${VAREK_INSTALL_PYTHONDIR})
file(WRITE ${CMAKE_BINARY_DIR}/python/_version.py "__version__ = \"${PROJECT_VERSION}\"\n")
install(FILES ${CMAKE_BINARY_DIR}/python/_version.py DESTINATION ${VAREK_INSTALL_PYTHONDIR}/varek)
if(NOT WIN32)
  # As the wheel has them: the metadata through which the system's pytest
  # finds the varek_sim fixture, and the Tango device server's program.
  set(dist_info ${CMAKE_BINARY_DIR}/python/varek-${PROJECT_VERSION}.dist-info)
  file(WRITE ${dist_info}/METADATA "Metadata-Version: 2.1\nName: varek\nVersion: ${PROJECT_VERSION}\n")
  file(WRITE ${dist_info}/entry_points.txt
       "[console_scripts]\nvarek-tango-server = varek.tango:main\n\n[pytest11]\nvarek = varek.pytest_plugin\n")
  file(WRITE ${dist_info}/top_level.txt "varek\n")
  file(WRITE ${dist_info}/INSTALLER "cmake\n")
  install(DIRECTORY ${dist_info} DESTINATION ${VAREK_INSTALL_PYTHONDIR})
  file(RELATIVE_PATH bin_to_python /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${VAREK_INSTALL_PYTHONDIR})
  file(WRITE ${CMAKE_BINARY_DIR}/python/varek-tango-server
       "#!/usr/bin/python3\n"
       "# The Tango device server VarekDelayGenerator: varek-tango-server INSTANCE\n"
       "import os\nimport sys\n\n"
       "sys.path.insert(0, os.path.join(os.path.dirname(os.path.realpath(__file__)), \"${bin_to_python}\"))\n"
       "from varek.tango import main  # noqa: E402\n\nmain()\n")
  install(PROGRAMS ${CMAKE_BINARY_DIR}/python/varek-tango-server DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

set(package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/varek)
if(WIN32)
  # The .def lists the exports; llvm-dlltool makes the import library MSVC
  # links with from it, beside MinGW's libvarek.dll.a.
  find_program(VAREK_DLLTOOL NAMES llvm-dlltool REQUIRED)
  target_link_options(varek PRIVATE -Wl,--output-def,${CMAKE_BINARY_DIR}/varek.def)
  add_custom_command(TARGET varek POST_BUILD
    COMMAND ${VAREK_DLLTOOL} -m i386:x86-64 -d ${CMAKE_BINARY_DIR}/varek.def -D varek.dll
            -l ${CMAKE_BINARY_DIR}/varek.lib
    COMMENT "MSVC import library varek.lib")
  install(FILES ${CMAKE_BINARY_DIR}/varek.def ${CMAKE_BINARY_DIR}/varek.lib DESTINATION ${CMAKE_INSTALL_LIBDIR})
  # Notepad and the older Windows tools want CRLF line ends.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/packaging/README-windows.txt)
  file(READ ${PROJECT_SOURCE_DIR}/packaging/README-windows.txt readme)
  string(REPLACE "\n" "\r\n" readme "${readme}")
  file(WRITE ${CMAKE_BINARY_DIR}/README-windows.txt "${readme}")
  install(FILES LICENSE ${CMAKE_BINARY_DIR}/README-windows.txt DESTINATION .)
else()
  install(EXPORT varekTargets NAMESPACE varek:: DESTINATION ${package_dir})
  # Where Debian's tools and users look: the licence in Debian's
  # machine-readable form, and the changelog, gzipped.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog)
  execute_process(COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog
                  OUTPUT_FILE ${CMAKE_BINARY_DIR}/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
  install(FILES LICENSE packaging/copyright ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
configure_package_config_file(cmake/varekConfig.cmake.in ${CMAKE_BINARY_DIR}/varekConfig.cmake
                              INSTALL_DESTINATION ${package_dir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/varekConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/varekConfig.cmake ${CMAKE_BINARY_DIR}/varekConfigVersion.cmake
        DESTINATION ${package_dir})

# lib/pkgconfig, or lib/x86_64-linux-gnu/pkgconfig on Debian: as many steps up.
file(RELATIVE_PATH VAREK_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(cmake/varek.pc.in ${CMAKE_BINARY_DIR}/varek.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/varek.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The one version number, for the packaging script.
file(WRITE ${CMAKE_BINARY_DIR}/varek-version.txt ${PROJECT_VERSION})

if(NOT WIN32)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME varek)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_VENDOR "the varek developers")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Control of an eight-channel digital delay generator over a serial port")
  set(CPACK_PACKAGE_DESCRIPTION
      "libvarek, its C and C++ headers, CMake and pkg-config files, the varekctl command-line tool, the varek-sim simulated instrument and the Python module.")
  set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "the varek developers <varek@localhost>")
  set(CPACK_DEBIAN_PACKAGE_SECTION science)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # A shlibs file, and the ldconfig trigger that puts the library in the
  # loader's cache, where ctypes (the Python module) finds it.
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  # The debug information goes to scripts/package.sh's dist-debug/, found by build id.
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_PACKAGE_FILE_NAME varek-${PROJECT_VERSION}-linux-x86_64)
  include(CPack)
endif()
