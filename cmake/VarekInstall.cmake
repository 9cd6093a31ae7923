# What `cmake --install` puts in place: headers, the library (on Windows also
# its import libraries for MinGW and MSVC and the .def file they come from),
# a CMake package giving varek::varek, a pkg-config file, the programs, the
# Python module and the licence. `cpack` turns a Linux install into Debian
# packages, one per component, as Debian splits a library:
#   library      libvarek1      the shared library
#   development  libvarek-dev   headers, the .so link, CMake and pkg-config files
#   programs     varek          varekctl, varek-sim, varek-server and their man pages
#   python       python3-varek  the Python module and varek-tango-server
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

if(WIN32)
  set(default_python_dir python)
else()
  set(default_python_dir ${CMAKE_INSTALL_DATADIR}/varek/python)
endif()
set(VAREK_INSTALL_PYTHONDIR ${default_python_dir} CACHE STRING "Where the Python module goes, below the prefix")

target_include_directories(varek PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
# The class interface's headers are C++17 (std::optional, inline variables):
# a project that links varek::varek builds at least so, without setting it.
target_compile_features(varek PUBLIC cxx_std_17)
install(TARGETS varek EXPORT varekTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT library
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(DIRECTORY include/varek DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
# The reference manual, as the zip scripts/package.sh makes with scripts/build-manual.sh.
set(VAREK_MANUAL_ZIP "" CACHE FILEPATH "The manual's zip, installed with the headers when given")
if(VAREK_MANUAL_ZIP)
  install(FILES ${VAREK_MANUAL_ZIP} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/libvarek-dev COMPONENT development)
endif()
foreach(program varekctl varek-sim varek-server)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
  endif()
endforeach()
if(NOT WIN32 AND TARGET varek-server)
  # varek-server@NAME as a systemd service, its settings in /etc/varek/NAME.conf.
  install(FILES packaging/systemd/varek-server@.service DESTINATION lib/systemd/system COMPONENT programs)
  install(FILES packaging/systemd/varek-server.conf DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
          COMPONENT programs)
endif()
# The module finds the library through VAREK_LIBRARY, beside itself, in
# ../../bin (the Windows zip), or the system's; it carries the project version.
install(DIRECTORY python/varek DESTINATION ${VAREK_INSTALL_PYTHONDIR} COMPONENT python PATTERN "*.in" EXCLUDE)
if(NOT WIN32)
  # varek-ioc@NAME as a systemd service, its settings in /etc/varek/NAME-ioc.conf.
  install(FILES packaging/systemd/varek-ioc@.service DESTINATION lib/systemd/system COMPONENT python)
  install(FILES packaging/systemd/varek-ioc.conf DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/python3-varek/examples
          COMPONENT python)
endif()
install(FILES ${CMAKE_BINARY_DIR}/python/_version.py DESTINATION ${VAREK_INSTALL_PYTHONDIR}/varek COMPONENT python)
if(NOT WIN32)
  # As the wheel has them: the metadata through which the system's pytest
  # finds the varek_sim fixture, and the Tango device server's program.
  set(dist_info ${CMAKE_BINARY_DIR}/python/varek-${PROJECT_VERSION}.dist-info)
  file(WRITE ${dist_info}/METADATA "Metadata-Version: 2.1\nName: varek\nVersion: ${PROJECT_VERSION}\n")
  file(WRITE ${dist_info}/entry_points.txt
       "[console_scripts]\nvarek-tango-server = varek.tango:main\n\n[pytest11]\nvarek = varek.pytest_plugin\n")
  file(WRITE ${dist_info}/top_level.txt "varek\n")
  file(WRITE ${dist_info}/INSTALLER "cmake\n")
  install(DIRECTORY ${dist_info} DESTINATION ${VAREK_INSTALL_PYTHONDIR} COMPONENT python)
  file(RELATIVE_PATH bin_to_python /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${VAREK_INSTALL_PYTHONDIR})
  file(WRITE ${CMAKE_BINARY_DIR}/python/varek-tango-server
       "#!/usr/bin/python3\n"
       "# The Tango device server VarekDelayGenerator: varek-tango-server INSTANCE\n"
       "import os\nimport sys\n\n"
       "sys.path.insert(0, os.path.join(os.path.dirname(os.path.realpath(__file__)), \"${bin_to_python}\"))\n"
       "from varek.tango import main  # noqa: E402\n\nmain()\n")
  install(PROGRAMS ${CMAKE_BINARY_DIR}/python/varek-tango-server DESTINATION ${CMAKE_INSTALL_BINDIR}
          COMPONENT python)
  execute_process(COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/varek-tango-server.1
                  OUTPUT_FILE ${CMAKE_BINARY_DIR}/python/varek-tango-server.1.gz COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${CMAKE_BINARY_DIR}/python/varek-tango-server.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT python)
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
  install(FILES ${CMAKE_BINARY_DIR}/varek.def ${CMAKE_BINARY_DIR}/varek.lib DESTINATION ${CMAKE_INSTALL_LIBDIR}
          COMPONENT development)
  # Notepad and the older Windows tools want CRLF line ends.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/packaging/README-windows.txt)
  file(READ ${PROJECT_SOURCE_DIR}/packaging/README-windows.txt readme)
  string(REPLACE "\n" "\r\n" readme "${readme}")
  file(WRITE ${CMAKE_BINARY_DIR}/README-windows.txt "${readme}")
  install(FILES LICENSE ${CMAKE_BINARY_DIR}/README-windows.txt DESTINATION . COMPONENT library)
else()
  install(EXPORT varekTargets NAMESPACE varek:: DESTINATION ${package_dir} COMPONENT development)
  # Where Debian's tools and users look, for each package: the licence in
  # Debian's machine-readable form, and the changelog, gzipped.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog
                                                                 ${PROJECT_SOURCE_DIR}/packaging/varek-tango-server.1)
  execute_process(COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog
                  OUTPUT_FILE ${CMAKE_BINARY_DIR}/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
  set(VAREK_DEB_COMPONENTS library development programs python)
  set(VAREK_DEB_PACKAGES libvarek${VAREK_SOVERSION} libvarek-dev varek python3-varek)
  foreach(component package IN ZIP_LISTS VAREK_DEB_COMPONENTS VAREK_DEB_PACKAGES)
    install(FILES packaging/copyright ${CMAKE_BINARY_DIR}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
  endforeach()
  # Why lintian's remarks on the library package do not apply: see the file.
  install(FILES packaging/lintian/libvarek1 DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
          RENAME libvarek${VAREK_SOVERSION} COMPONENT library)
endif()
configure_package_config_file(cmake/varekConfig.cmake.in ${CMAKE_BINARY_DIR}/varekConfig.cmake
                              INSTALL_DESTINATION ${package_dir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/varekConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/varekConfig.cmake ${CMAKE_BINARY_DIR}/varekConfigVersion.cmake
        DESTINATION ${package_dir} COMPONENT development)

# lib/pkgconfig, or lib/x86_64-linux-gnu/pkgconfig on Debian: as many steps up.
file(RELATIVE_PATH VAREK_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(cmake/varek.pc.in ${CMAKE_BINARY_DIR}/varek.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/varek.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

# The one version number, for the packaging script.
file(WRITE ${CMAKE_BINARY_DIR}/varek-version.txt ${PROJECT_VERSION})

if(NOT WIN32)
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL ${VAREK_DEB_COMPONENTS})
  set(CPACK_PACKAGE_NAME varek)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_VENDOR "the varek developers")
  set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "the varek developers <varek@example.org>")
  set(CPACK_DEBIAN_PACKAGE_SECTION science)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.org/varek")
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  if(CMAKE_CROSSCOMPILING)
    # Debian's name for the target (arm64 for aarch64-linux-gnu); CPack
    # would take the build machine's.
    execute_process(COMMAND dpkg-architecture -t ${CMAKE_LIBRARY_ARCHITECTURE} -qDEB_HOST_ARCH
                    OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE
                    ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
  endif()
  # The debug information goes to scripts/package.sh's dist-debug/, found by build id.
  set(CPACK_STRIP_FILES ON)
  set(exact "(= ${PROJECT_VERSION})")
  foreach(component package IN ZIP_LISTS VAREK_DEB_COMPONENTS VAREK_DEB_PACKAGES)
    string(TOUPPER ${component} COMPONENT)
    set(CPACK_DEBIAN_${COMPONENT}_PACKAGE_NAME ${package})
  endforeach()

  set(CPACK_COMPONENT_LIBRARY_DESCRIPTION "eight-channel digital delay generator control library
The shared library with the C and C++ interfaces: trigger mode and
frequency, each channel's delay, pulse width and output, the global output,
a software trigger, and read-back of temperature and timing. Serial ports,
USB adapters by identity, and terminal servers (raw TCP and RFC 2217).")
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_SHLIBDEPS ON)
  # A shlibs file for the packages built against it (only the library's
  # package has a library to list), and the ldconfig trigger that puts the
  # library in the loader's cache, where ctypes finds it.
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/deb/triggers)

  set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "eight-channel digital delay generator control library (development)
Headers of the C and C++ interfaces, the link to the shared library, a CMake
package giving varek::varek, and a pkg-config file.")
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libvarek${VAREK_SOVERSION} ${exact}")

  set(CPACK_COMPONENT_PROGRAMS_DESCRIPTION "eight-channel digital delay generator: command-line tool, simulator, server
varekctl drives the instrument from the command line and scripts,
varek-sim simulates it (with faults on demand), and varek-server shares it
over HTTP with a front panel and, for programs using the library, over TCP.")
  set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SHLIBDEPS ON)
  # The library of this build, which no installed package provides yet.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
  set(CPACK_DEBIAN_PROGRAMS_PACKAGE_DEPENDS "libvarek${VAREK_SOVERSION} ${exact}")

  set(CPACK_COMPONENT_PYTHON_DESCRIPTION "eight-channel digital delay generator control (Python 3)
The varek module over the C interface, its pytest fixture varek_sim, and the
Tango device server varek-tango-server.")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3, libvarek${VAREK_SOVERSION} ${exact}")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_RECOMMENDS "varek ${exact}")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS "python3-tango, python3-pytest")
  include(CPack)
endif()
