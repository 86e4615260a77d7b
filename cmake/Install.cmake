# Install rules: the library with its assets beside it, the public headers,
# a namespaced CMake package and a pkg-config file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Consumers link tavoSDK::tavoSDK, the same name the build tree's alias gives.
set_target_properties(tavoSDK-faceTrackingInApp PROPERTIES EXPORT_NAME tavoSDK)
install(TARGETS tavoSDK-faceTrackingInApp EXPORT tavoSDKTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# The display maker's library (on this machine our stand-in) sits beside the SDK, which finds
# it there through its own run path.
install(TARGETS TavoDisplaySdkCpp LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
# Without an installed librealsense2 the SDK links our stand-in, which must travel with it.
if(TARGET tavo_realsense2_standin)
  install(TARGETS tavo_realsense2_standin LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()
set_target_properties(tavoSDK-faceTrackingInApp PROPERTIES INSTALL_RPATH "$ORIGIN")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/assets/ DESTINATION ${CMAKE_INSTALL_LIBDIR}/assets)
# Only the listed public headers, each in its folder.
include(${CMAKE_CURRENT_LIST_DIR}/PublicHeaders.cmake)
foreach(_header IN LISTS TAVO_PUBLIC_HEADERS)
  get_filename_component(_folder ${_header} DIRECTORY)
  install(FILES ${PROJECT_SOURCE_DIR}/${_header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${_folder})
endforeach()

install(EXPORT tavoSDKTargets NAMESPACE tavoSDK:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tavoSDK)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/tavoSDKConfig.cmake.in
  ${PROJECT_BINARY_DIR}/tavoSDKConfig.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tavoSDK)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tavoSDKConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/tavoSDKConfig.cmake ${PROJECT_BINARY_DIR}/tavoSDKConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tavoSDK)

# The pkg-config file finds its prefix from its own place, so a staged install resolves too.
file(RELATIVE_PATH TAVO_PC_PREFIX_FROM_PCFILEDIR "/p/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/p")
configure_file(${PROJECT_SOURCE_DIR}/cmake/tavoSDK.pc.in ${PROJECT_BINARY_DIR}/tavoSDK.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tavoSDK.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
