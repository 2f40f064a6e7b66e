# CPack: a .deb on Linux, a .zip of the Windows build. Names and versions come from project().

set(CPACK_PACKAGE_NAME qavel-calib)
set(CPACK_PACKAGE_VENDOR "Qavel")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Calibration tool for USB HID touch-screen controllers")
set(CPACK_PACKAGE_CONTACT "qavel-calib maintainers <maintainers@qavel.invalid>")
set(CPACK_STRIP_FILES ON)

if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-win64)
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION utils)
    # Depends from what the program really links (libx11, libxrandr, the C++ runtime).
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # The summary becomes the first line of the description.
    set(CPACK_PACKAGE_DESCRIPTION "Shows calibration targets full screen, takes a touch on each and
stores the calibration in the controller (vendor 0596, products 0003, 0100,
0102, 0300 and 0400). Includes the udev rule that lets the user at the seat
open those controllers.")
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
        ${PROJECT_SOURCE_DIR}/packaging/debian/postinst ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
