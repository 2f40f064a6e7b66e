# CPack: a .deb on Linux, a .zip of the Windows build. Names and versions come from project().

set(CPACK_PACKAGE_NAME qavel-calib)
set(CPACK_PACKAGE_VENDOR "Qavel")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Calibration tool for USB HID touch-screen controllers")
set(CPACK_PACKAGE_CONTACT "${QAVEL_MAINTAINER}")
set(CPACK_STRIP_FILES ON)

if(WIN32)
    set(CPACK_GENERATOR ZIP)
    if(QAVEL_WINDOWS_ARCH STREQUAL x64 AND QAVEL_PACKAGE_X86_BUILD_DIR)
        # One zip for both: the 32-bit build's install (x86\ and the shared texts) beside this one's.
        set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-windows)
        set(CPACK_INSTALL_CMAKE_PROJECTS
            "${PROJECT_BINARY_DIR};${PROJECT_NAME};ALL;/"
            "${QAVEL_PACKAGE_X86_BUILD_DIR};${PROJECT_NAME};ALL;/")
        set(QAVEL_PACKAGE_X86_PROGRAM ${QAVEL_PACKAGE_X86_BUILD_DIR}/bin/qavel-calib.exe)
        configure_file(${PROJECT_SOURCE_DIR}/cmake/QavelPackageCheck.cmake.in
                       ${PROJECT_BINARY_DIR}/QavelPackageCheck.cmake @ONLY)
        set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/QavelPackageCheck.cmake)
    else()
        set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-windows-${QAVEL_WINDOWS_ARCH})
    endif()
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    # qavel-calib_VERSION+debNN_ARCH.deb: the release it is built for in its version and name.
    set(CPACK_DEBIAN_PACKAGE_VERSION ${QAVEL_DEB_VERSION})
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION utils)
    # Depends from what the program really links (X11, Wayland, cairo, libdecor, the C++
    # runtime), and the two it loads when it first needs them: pango for text, libcanberra for the
    # beep. Recommended: the beep reaches the desktop's sound server through libcanberra's plugin
    # for it (without one the program is silent).
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libpangocairo-1.0-0, libcanberra0")
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libcanberra-pulse, libdecor-0-plugin-1-cairo")
    # The summary becomes the first line of the description.
    set(CPACK_PACKAGE_DESCRIPTION "Shows calibration targets full screen, takes a touch on each and
stores the calibration in the controller (vendor 0596, products 0003, 0100,
0102, 0300 and 0400). Includes the udev rule that lets the user at the seat
open those controllers.")
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
        ${PROJECT_SOURCE_DIR}/packaging/debian/postinst ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
    if(CMAKE_CROSSCOMPILING)
        # The target's architecture; Depends from the sysroot's libraries and the packages its
        # dpkg database says hold them.
        set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${QAVEL_DEB_ARCH})
        set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
            ${CMAKE_SYSROOT}/lib/${QAVEL_CROSS_TRIPLE} ${CMAKE_SYSROOT}/usr/lib/${QAVEL_CROSS_TRIPLE})
        configure_file(${PROJECT_SOURCE_DIR}/cmake/QavelPackageCross.cmake.in
                       ${PROJECT_BINARY_DIR}/QavelPackageCross.cmake @ONLY)
        set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/QavelPackageCross.cmake)
    endif()
endif()

include(CPack)
