# cmake --install (component "library"; the programs are "programs"): the header, the static and shared libraries, a CMake package
# (find_package(velorin): velorin::velorin, the shared library where it is built,
# and velorin::velorin_static) and a pkg-config file (velorin.pc; --static for the
# archive).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(FILES include/velorin/velorin.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/velorin
        COMPONENT library)
set(velorin_library_targets velorin_static)
if(VELORIN_SHARED)
  list(APPEND velorin_library_targets velorin_shared)
endif()
install(TARGETS ${velorin_library_targets} EXPORT velorinTargets COMPONENT library
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT velorinTargets NAMESPACE velorin:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/velorin
        COMPONENT library)
file(WRITE ${PROJECT_BINARY_DIR}/velorinConfig.cmake.in [=[
@PACKAGE_INIT@
include(CMakeFindDependencyMacro)
if(NOT WIN32)
  find_dependency(Threads)
endif()
include("${CMAKE_CURRENT_LIST_DIR}/velorinTargets.cmake")
]=])
configure_package_config_file(${PROJECT_BINARY_DIR}/velorinConfig.cmake.in
  ${PROJECT_BINARY_DIR}/velorinConfig.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/velorin)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/velorinConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/velorinConfig.cmake ${PROJECT_BINARY_DIR}/velorinConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/velorin COMPONENT library)

# The archive holds C++ code: a C program linking it statically needs the C++
# runtime too (Libs.private).
if(WIN32)
  set(velorin_private_libs "-lstdc++")
else()
  set(velorin_private_libs "-lstdc++ -lm -pthread")
endif()
file(WRITE ${PROJECT_BINARY_DIR}/velorin.pc.in [=[
prefix=@CMAKE_INSTALL_PREFIX@
libdir=${prefix}/@CMAKE_INSTALL_LIBDIR@
includedir=${prefix}/@CMAKE_INSTALL_INCLUDEDIR@

Name: velorin
Description: Voice resampler for singing-synthesis hosts: notes from recorded samples
Version: @PROJECT_VERSION@
Cflags: -I${includedir}
Cflags.private: -DVELORIN_STATIC
Libs: -L${libdir} -lvelorin
Libs.private: @velorin_private_libs@
]=])
configure_file(${PROJECT_BINARY_DIR}/velorin.pc.in ${PROJECT_BINARY_DIR}/velorin.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/velorin.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT library)
