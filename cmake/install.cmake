# Installation (GNU directories): the shared library with its SONAME, the
# public headers straight into the include directory (as in the tree:
# <quill32.h>, <quill32_memory.h>, <quill32_check.h>, <quill32_vector.h>,
# <quill32_version.h>), the CMake package, quill32.pc, the quill tool and
# the man pages. QUILL32_INSTALL_STATIC adds libquill32.a.
include(CMakePackageConfigHelpers)
set(QUILL32_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/quill32)

install(TARGETS quill32 EXPORT quill32Targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(EXPORT quill32Targets NAMESPACE quill32:: DESTINATION ${QUILL32_CMAKE_DIR}
  COMPONENT development)
if(QUILL32_INSTALL_STATIC)
  install(TARGETS quill32_static EXPORT quill32StaticTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
  install(EXPORT quill32StaticTargets NAMESPACE quill32:: DESTINATION ${QUILL32_CMAKE_DIR}
    COMPONENT development)
endif()
install(FILES ${QUILL32_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  COMPONENT development)

configure_package_config_file(cmake/quill32Config.cmake.in
  ${PROJECT_BINARY_DIR}/quill32Config.cmake INSTALL_DESTINATION ${QUILL32_CMAKE_DIR})
# Compatible within a MAJOR, which changes with the SONAME (docs/abi.md).
write_basic_package_version_file(${PROJECT_BINARY_DIR}/quill32ConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/quill32Config.cmake ${PROJECT_BINARY_DIR}/quill32ConfigVersion.cmake
  DESTINATION ${QUILL32_CMAKE_DIR} COMPONENT development)

foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(QUILL32_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(QUILL32_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
configure_file(cmake/quill32.pc.in ${PROJECT_BINARY_DIR}/quill32.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/quill32.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT development)

string(TIMESTAMP QUILL32_MAN_DATE "%Y-%m-%d" UTC)
foreach(page quill.1 quill32.3)
  configure_file(docs/man/${page}.in ${PROJECT_BINARY_DIR}/man/${page} @ONLY)
  string(REGEX MATCH "[0-9]+$" section ${page})
  if(page STREQUAL "quill.1")
    set(component tool)
  else()
    set(component development)
  endif()
  if(page STREQUAL "quill32.3" OR TARGET quill)
    install(FILES ${PROJECT_BINARY_DIR}/man/${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
      COMPONENT ${component})
  endif()
endforeach()
if(TARGET quill)
  install(TARGETS quill RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
endif()
