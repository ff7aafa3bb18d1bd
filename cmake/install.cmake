# Installation (GNU directories) of the two libraries (docs/abi.md):
#  - libquill32.so.0, the legacy exports, with their headers straight into
#    the include directory (<quill32.h>, <quill32_memory.h>,
#    <quill32_check.h>, <quill32_vector.h>, <quill32_version.h>), the CMake
#    package quill32 (quill32::quill32), quill32.pc and quill32(3);
#  - libquill.so.1, the modern API, with <quill/quill.h>, the CMake package
#    quill (quill::quill), quill.pc and quill(3);
# and the quill tool with quill(1). QUILL32_INSTALL_STATIC adds
# libquill32.a. The .pc files find their prefix from where they lie
# (${pcfiledir}), so an installation moved or made with --prefix is right.
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

# prefix: from the .pc file's folder back up to the prefix.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(QUILL32_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH QUILL32_PC_UP /QUILL32_PREFIX/${CMAKE_INSTALL_LIBDIR}/pkgconfig /QUILL32_PREFIX)
  string(REGEX REPLACE "/$" "" QUILL32_PC_UP "${QUILL32_PC_UP}")
  set(QUILL32_PC_PREFIX "\${pcfiledir}/${QUILL32_PC_UP}")
endif()
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(QUILL32_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(QUILL32_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
foreach(pc quill32 quill)
  configure_file(cmake/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
    COMPONENT development)
endforeach()

# The modern library: its own target, header folder and CMake package.
set(QUILL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/quill)
install(TARGETS quill_shared EXPORT quillTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development)
install(EXPORT quillTargets NAMESPACE quill:: DESTINATION ${QUILL_CMAKE_DIR}
  COMPONENT development)
install(FILES include/quill/quill.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quill
  COMPONENT development)
configure_package_config_file(cmake/quillConfig.cmake.in
  ${PROJECT_BINARY_DIR}/quillConfig.cmake INSTALL_DESTINATION ${QUILL_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/quillConfigVersion.cmake
  VERSION ${QUILL_API_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/quillConfig.cmake ${PROJECT_BINARY_DIR}/quillConfigVersion.cmake
  DESTINATION ${QUILL_CMAKE_DIR} COMPONENT development)

string(TIMESTAMP QUILL32_MAN_DATE "%Y-%m-%d" UTC)
foreach(page quill.1 quill32.3 quill.3)
  configure_file(docs/man/${page}.in ${PROJECT_BINARY_DIR}/man/${page} @ONLY)
  string(REGEX MATCH "[0-9]+$" section ${page})
  if(page STREQUAL "quill.1")
    set(component tool)
  else()
    set(component development)
  endif()
  if(NOT page STREQUAL "quill.1" OR TARGET quill)
    install(FILES ${PROJECT_BINARY_DIR}/man/${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
      COMPONENT ${component})
  endif()
endforeach()
if(TARGET quill)
  install(TARGETS quill RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
endif()
