# What `cmake --install` puts in place: headers, the library (on Windows also
# its import library and a .def file from which MSVC's lib.exe makes one),
# a CMake package giving varek::varek, a pkg-config file, and the programs.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

target_include_directories(varek PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS varek EXPORT varekTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY include/varek DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS varekctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET varek-sim)
  install(TARGETS varek-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# The Python module; it finds the library through VAREK_LIBRARY or the system.
install(DIRECTORY python/varek DESTINATION ${CMAKE_INSTALL_DATADIR}/varek/python)
if(WIN32)
  # MSVC users: lib /def:varek.def /machine:x64 /out:varek.lib
  target_link_options(varek PRIVATE -Wl,--output-def,${CMAKE_BINARY_DIR}/varek.def)
  install(FILES ${CMAKE_BINARY_DIR}/varek.def DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()

set(package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/varek)
install(EXPORT varekTargets NAMESPACE varek:: DESTINATION ${package_dir})
configure_package_config_file(cmake/varekConfig.cmake.in ${CMAKE_BINARY_DIR}/varekConfig.cmake
                              INSTALL_DESTINATION ${package_dir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/varekConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/varekConfig.cmake ${CMAKE_BINARY_DIR}/varekConfigVersion.cmake
        DESTINATION ${package_dir})

configure_file(cmake/varek.pc.in ${CMAKE_BINARY_DIR}/varek.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/varek.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
