# Installation: the library, its headers, a pkg-config file and a CMake
# package giving twincam::twincam.
include(CMakePackageConfigHelpers)

set(TWINCAM_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/twincam")
set(export_targets twincam twincam_platform)
if(TWINCAM_INSTALL_SIM)
    list(APPEND export_targets twincam_sim twincam_media_mini twincam_ascendcl twincam_acl_dvpp)
    install(FILES platform/sim/twincam_sim.h DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/twincam/sim")
elseif(NOT TWINCAM_PLATFORM_DIR)
    message(FATAL_ERROR "The stand-ins are linked into the library, so they must be installed with it")
endif()

install(TARGETS ${export_targets}
    EXPORT twincamTargets
    LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
    ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}"
    RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}"
    INCLUDES DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")
install(FILES include/twincam/camera.h DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/twincam")
install(DIRECTORY platform/include/twincam/platform DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/twincam")

install(EXPORT twincamTargets NAMESPACE twincam:: DESTINATION "${TWINCAM_CMAKE_DIR}")
configure_package_config_file(cmake/twincamConfig.cmake.in
    "${PROJECT_BINARY_DIR}/twincamConfig.cmake"
    INSTALL_DESTINATION "${TWINCAM_CMAKE_DIR}")
write_basic_package_version_file("${PROJECT_BINARY_DIR}/twincamConfigVersion.cmake"
    COMPATIBILITY SameMajorVersion)
install(FILES "${PROJECT_BINARY_DIR}/twincamConfig.cmake" "${PROJECT_BINARY_DIR}/twincamConfigVersion.cmake"
    DESTINATION "${TWINCAM_CMAKE_DIR}")

# The .pc file finds the prefix from its own place, so an installed tree can move.
file(RELATIVE_PATH TWINCAM_PC_UP "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
string(REGEX REPLACE "/$" "" TWINCAM_PC_UP "${TWINCAM_PC_UP}")
configure_file(cmake/twincam.pc.in "${PROJECT_BINARY_DIR}/twincam.pc" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/twincam.pc" DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
