# What the Python package's wheel carries beside the module (the component
# "wheel", installed into varek/ by scikit-build-core): the library under the
# file name the module loads, varek-sim, and the module's _version.py.
# On Linux they link the system's C++ runtime, as every manylinux system has
# it: linked statically, GCC 12's runtime and unwinder would bring symbols of
# glibc 2.35 and 2.36 (arc4random, _dl_find_object), while our own code needs
# glibc 2.34 and libstdc++ 3.4.29 at most, which gives manylinux_2_34.
if(WIN32)
  install(TARGETS varek RUNTIME DESTINATION . COMPONENT wheel)
else()
  # libvarek.so.N as the file itself, not a link to libvarek.so.VERSION: a
  # wheel holds no links.
  set_target_properties(varek PROPERTIES VERSION ${VAREK_SOVERSION})
  install(TARGETS varek LIBRARY DESTINATION . COMPONENT wheel NAMELINK_SKIP)
endif()
install(TARGETS varek-sim RUNTIME DESTINATION . COMPONENT wheel)
install(FILES ${CMAKE_BINARY_DIR}/python/_version.py DESTINATION . COMPONENT wheel)
