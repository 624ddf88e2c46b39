# Installation: the library, its headers, a pkg-config file and a CMake
# package giving twincam::twincam.
include(CMakePackageConfigHelpers)

set(TWINCAM_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/twincam")
# The platform component alone (`cmake --install . --component platform`)
# lays out a platform directory: the stand-ins in lib/, the declarations in
# include/, as TWINCAM_PLATFORM_DIR expects one.
# Debian's layout keeps the stand-ins in a directory of their own, which the
# loader searches after every other (see cmake/debian.cmake).
set(TWINCAM_SIM_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
set(TWINCAM_PLATFORM_HEADERS_COMPONENT platform)
if(TWINCAM_DEB_LAYOUT)
    set(TWINCAM_SIM_LIBDIR "${CMAKE_INSTALL_LIBDIR}/twincam/sim")
    set(TWINCAM_PLATFORM_HEADERS_COMPONENT dev)
endif()
if(TWINCAM_INSTALL_SIM)
    install(TARGETS twincam_sim twincam_media_mini twincam_ascendcl twincam_acl_dvpp
        EXPORT twincamTargets
        LIBRARY DESTINATION "${TWINCAM_SIM_LIBDIR}" COMPONENT platform
        INCLUDES DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")
    if(TARGET twincam_sim_footage)
        install(TARGETS twincam_sim_footage LIBRARY DESTINATION "${TWINCAM_SIM_LIBDIR}" COMPONENT platform)
    endif()
    install(FILES platform/sim/include/twincam/sim/twincam_sim.h
        DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/twincam/sim" COMPONENT platform)
    set(TWINCAM_CONFIG_PLATFORM "")
elseif(NOT TWINCAM_PLATFORM_DIR)
    message(FATAL_ERROR "The stand-ins are linked into the library, so they must be installed with it")
else()
    # Applications link the real dvpp library themselves: found where it was
    # at build time, else on the system's search path.
    get_filename_component(dvpp_dir "${TWINCAM_acl_dvpp_LIBRARY}" DIRECTORY)
    set(TWINCAM_CONFIG_PLATFORM "if(NOT TARGET twincam_acl_dvpp)
    find_library(TWINCAM_acl_dvpp_LIBRARY acl_dvpp HINTS \"${dvpp_dir}\" REQUIRED)
    add_library(twincam_acl_dvpp SHARED IMPORTED)
    set_target_properties(twincam_acl_dvpp PROPERTIES IMPORTED_LOCATION \"\${TWINCAM_acl_dvpp_LIBRARY}\")
endif()")
endif()
install(DIRECTORY platform/include/twincam/platform
    DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/twincam" COMPONENT ${TWINCAM_PLATFORM_HEADERS_COMPONENT})

install(TARGETS twincam twincam_platform
    EXPORT twincamTargets
    LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT runtime NAMELINK_COMPONENT dev
    ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT dev
    RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT runtime
    INCLUDES DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")
install(FILES include/twincam/camera.h DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/twincam" COMPONENT dev)

install(EXPORT twincamTargets NAMESPACE twincam:: DESTINATION "${TWINCAM_CMAKE_DIR}" COMPONENT dev)
configure_package_config_file(cmake/twincamConfig.cmake.in
    "${PROJECT_BINARY_DIR}/twincamConfig.cmake"
    INSTALL_DESTINATION "${TWINCAM_CMAKE_DIR}")
write_basic_package_version_file("${PROJECT_BINARY_DIR}/twincamConfigVersion.cmake"
    COMPATIBILITY SameMajorVersion)
install(FILES "${PROJECT_BINARY_DIR}/twincamConfig.cmake" "${PROJECT_BINARY_DIR}/twincamConfigVersion.cmake"
    DESTINATION "${TWINCAM_CMAKE_DIR}" COMPONENT dev)

# The .pc file finds the prefix from its own place, so an installed tree can move.
file(RELATIVE_PATH TWINCAM_PC_UP "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
string(REGEX REPLACE "/$" "" TWINCAM_PC_UP "${TWINCAM_PC_UP}")
if(TWINCAM_DEB_LAYOUT AND TWINCAM_INSTALL_SIM)
    set(TWINCAM_PC_PLATFORM_LIBS "-L\${libdir}/twincam/sim ${TWINCAM_PC_PLATFORM_LIBS}")
endif()
configure_file(cmake/twincam.pc.in "${PROJECT_BINARY_DIR}/twincam.pc" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/twincam.pc" DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig" COMPONENT dev)

include(cmake/debian.cmake)
