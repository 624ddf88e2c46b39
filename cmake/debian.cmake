# Debian packages, one per install component, with CPack's DEB generator
# (scripts/package.sh drives it). Dependencies on Debian's libraries come
# from dpkg-shlibdeps; those between the packages from the components'
# dependencies, at this exact version.
if(TWINCAM_DEB_LAYOUT)
    # The stand-ins' directory goes after every other in the loader's
    # cache: where the real platform libraries are installed, they win.
    set(TWINCAM_SIM_LDCONF "${PROJECT_BINARY_DIR}/zz-twincam-sim.conf")
    file(WRITE "${TWINCAM_SIM_LDCONF}" "${CMAKE_INSTALL_PREFIX}/${TWINCAM_SIM_LIBDIR}\n")
    install(FILES "${TWINCAM_SIM_LDCONF}" DESTINATION "${CMAKE_INSTALL_SYSCONFDIR}/ld.so.conf.d" COMPONENT platform)
endif()

set(TWINCAM_DEB_MAINTAINER "twincam developers <twincam@example.org>" CACHE STRING "The packages' maintainer")
set(deb "${PROJECT_SOURCE_DIR}/cmake/debian")

# name, section, summary, description (lists: no semicolons in the texts)
set(runtime_deb libtwincam0 libs "synchronous access to two cameras (library)"
    "twincam opens up to two cameras at a frame rate and resolution and reads\ntheir frames one at a time, each in a dvpp buffer the caller owns. This\npackage holds the shared library and the lock its users share.")
set(dev_deb libtwincam-dev libdevel "synchronous access to two cameras (development files)"
    "The C header of twincam and of the platform operations it calls, the\npkg-config file and the CMake package giving twincam::twincam.")
set(tools_deb twincam-tools video "twincam command-line programs and camera server"
    "twincam-capture writes frames as PNG, JPEG, NV12, Y4M or MP4, one camera\nor both as a stereo pair. twincam-serve shows the cameras live in a\nbrowser, serves them as H.264 over RTSP and gives metrics to Prometheus.\nIt comes with a systemd service, not enabled at install.")
set(gstreamer_deb gstreamer1.0-twincam video "GStreamer source element for twincam cameras"
    "twincamsrc delivers a twincam camera's frames into a GStreamer pipeline\nwithout copying them.")
set(python_deb python3-twincam python "Python module for twincam cameras"
    "The twincam package: cameras whose frames are NumPy arrays with their\nsequence number and capture time, and the two cameras read as stereo\npairs. Typed, with a stub checked by mypy.")
set(platform_deb twincam-sim libs "simulated camera service and runtime for twincam"
    "Stand-ins for the platform's camera service and accelerator runtime that\nplay a test pattern or recorded footage, with a control interface for\ntests. They live in a private directory that the loader searches only\nafter every other, so they never shadow a device's real platform\nlibraries.")

set(CPACK_COMPONENTS_ALL runtime dev platform)
if(TARGET twincam-capture OR TARGET twincam-serve)
    list(APPEND CPACK_COMPONENTS_ALL tools)
endif()
if(TARGET gsttwincam)
    list(APPEND CPACK_COMPONENTS_ALL gstreamer)
endif()
if(TARGET twincam_python)
    list(APPEND CPACK_COMPONENTS_ALL python)
endif()

foreach(component IN LISTS CPACK_COMPONENTS_ALL)
    list(GET ${component}_deb 0 name)
    list(GET ${component}_deb 1 section)
    list(GET ${component}_deb 2 summary)
    list(GET ${component}_deb 3 description)
    string(TOUPPER ${component} C)
    set(CPACK_DEBIAN_${C}_PACKAGE_NAME ${name})
    set(CPACK_DEBIAN_${C}_PACKAGE_SECTION ${section})
    set(CPACK_COMPONENT_${C}_DESCRIPTION "${summary}\n${description}")
    if(TWINCAM_DEB_LAYOUT)
        # Every package carries its copyright and changelog.
        install(FILES "${deb}/copyright" DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/doc/${name}" COMPONENT ${component})
        install(FILES "${PROJECT_BINARY_DIR}/changelog.gz" DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/doc/${name}"
            COMPONENT ${component})
        if(EXISTS "${deb}/overrides/${name}")
            install(FILES "${deb}/overrides/${name}" DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides"
                COMPONENT ${component})
        endif()
    endif()
endforeach()
if(TWINCAM_DEB_LAYOUT)
    execute_process(COMMAND gzip -9nc "${deb}/changelog" OUTPUT_FILE "${PROJECT_BINARY_DIR}/changelog.gz")
endif()

set(CPACK_COMPONENT_DEV_DEPENDS runtime platform)  # its CMake package names the stand-ins
set(CPACK_COMPONENT_TOOLS_DEPENDS runtime)
set(CPACK_COMPONENT_GSTREAMER_DEPENDS runtime)
set(CPACK_COMPONENT_PYTHON_DEPENDS runtime)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SUGGESTS twincam-sim)
set(CPACK_DEBIAN_TOOLS_PACKAGE_RECOMMENDS
    "gstreamer1.0-plugins-good, gstreamer1.0-plugins-bad, gstreamer1.0-plugins-ugly, gstreamer1.0-nice, glib-networking")
if(TARGET twincam_python)
    # The module is built for this interpreter's version.
    string(REGEX REPLACE "^([0-9]+)\\.([0-9]+)$" "\\1" major "${TWINCAM_PYTHON_VERSION}")
    string(REGEX REPLACE "^([0-9]+)\\.([0-9]+)$" "\\2" minor "${TWINCAM_PYTHON_VERSION}")
    math(EXPR next "${minor} + 1")
    set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3 (>= ${major}.${minor}), python3 (<< ${major}.${next}), python3-numpy")
endif()

# Maintainer scripts and control files: the stand-ins' loader directory and
# the service's options are conffiles; the module's bytecode is compiled at
# install and removed before removal; the service's cache goes on purge.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA "${deb}/runtime/triggers")
set(CPACK_DEBIAN_PLATFORM_PACKAGE_CONTROL_EXTRA "${deb}/platform/conffiles;${deb}/platform/triggers")
set(CPACK_DEBIAN_TOOLS_PACKAGE_CONTROL_EXTRA "${deb}/tools/conffiles;${deb}/tools/postrm")
set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_EXTRA "${deb}/python/postinst;${deb}/python/prerm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_PACKAGE_NAME twincam)
# Each package's description is its own: no summary of the project before it.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_PACKAGE_VENDOR twincam)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TWINCAM_DEB_MAINTAINER}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_STRIP_FILES ON)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64)$")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
endif()
configure_file("${deb}/cpack-config.cmake.in" "${PROJECT_BINARY_DIR}/cpack-config.cmake" @ONLY)
set(CPACK_PROJECT_CONFIG_FILE "${PROJECT_BINARY_DIR}/cpack-config.cmake")
include(CPack)
