# What a program that uses CPort gets from an install (the component "dev"):
# the public headers under include/cport/ (none of the backends' insides),
# the libraries, the CMake package CPort (targets CPort::CPort and, where
# built, CPort::Qt) and the pkg-config file cport.pc.
include(CMakePackageConfigHelpers)

set(cport_public_headers
  async.h comlink.h comport.h errors.h settings.h types.h
  fw/application.h fw/component.h fw/events.h fw/exception.h
  fw/headless_application.h fw/object.h fw/persistent.h fw/set.h
  comm/comm_api.h)
set(cport_win32_headers fw/win32_application.h)
set(cport_qt_headers fw/qt_application.h fw/qt_error_box.h)
# The reference covers the headers of every platform (docs target).
set(CPORT_REFERENCE_HEADERS
    ${cport_public_headers} ${cport_win32_headers} ${cport_qt_headers})
list(TRANSFORM CPORT_REFERENCE_HEADERS PREPEND ${PROJECT_SOURCE_DIR}/src/cport/)
if(WIN32)
  list(APPEND cport_public_headers ${cport_win32_headers})
endif()
if(TARGET cport_qt)
  list(APPEND cport_public_headers ${cport_qt_headers})
endif()
list(TRANSFORM cport_public_headers PREPEND ${PROJECT_SOURCE_DIR}/src/cport/)

foreach(header IN LISTS cport_public_headers)
  file(RELATIVE_PATH relative ${PROJECT_SOURCE_DIR}/src ${header})
  get_filename_component(folder ${relative} DIRECTORY)
  install(FILES ${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${folder}
          COMPONENT dev)
endforeach()

set(cport_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/CPort)
install(TARGETS cport EXPORT CPortTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(EXPORT CPortTargets NAMESPACE CPort:: DESTINATION ${cport_cmake_dir}
        COMPONENT dev)
if(TARGET cport_qt)
  install(TARGETS cport_qt EXPORT CPortQtTargets
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
  install(EXPORT CPortQtTargets NAMESPACE CPort::
          DESTINATION ${cport_cmake_dir} COMPONENT dev)
endif()

configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/cmake/CPortConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/CPortConfig.cmake
  INSTALL_DESTINATION ${cport_cmake_dir})
write_basic_package_version_file(
  ${CMAKE_CURRENT_BINARY_DIR}/CPortConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/CPortConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/CPortConfigVersion.cmake
        DESTINATION ${cport_cmake_dir} COMPONENT dev)

if(NOT WIN32)
  # Relocatable: the prefix is found from where the file lies.
  set(pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  string(REGEX REPLACE "[^/]+" ".." CPORT_PC_TO_PREFIX ${pc_dir})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/cport.pc.in
                 ${CMAKE_CURRENT_BINARY_DIR}/cport.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/cport.pc
          DESTINATION ${pc_dir} COMPONENT dev)
endif()
