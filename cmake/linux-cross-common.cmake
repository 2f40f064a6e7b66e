# Shared by the two ARM toolchain files: Debian's cross compilers on a sysroot of the target's
# Debian packages (tools/sysroot.sh, made here on first use and kept in build/foreign/<arch>),
# searched for libraries, headers, CMake packages and pkg-config files, never the host's.
# The including file sets QAVEL_DEB_ARCH, QAVEL_CROSS_TRIPLE and CMAKE_SYSTEM_PROCESSOR.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${QAVEL_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${QAVEL_CROSS_TRIPLE}-g++)

get_filename_component(qavel_source ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
set(CMAKE_SYSROOT ${qavel_source}/build/foreign/${QAVEL_DEB_ARCH}/sysroot)
# Once per cmake run, before the compiler is tried; the script keeps an up-to-date sysroot.
if(NOT "$ENV{QAVEL_SYSROOT_CHECKED}" STREQUAL "${CMAKE_SYSROOT}")
    execute_process(COMMAND bash ${qavel_source}/tools/sysroot.sh ${QAVEL_DEB_ARCH}
                    RESULT_VARIABLE status ERROR_VARIABLE error)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${error}")
    endif()
    set(ENV{QAVEL_SYSROOT_CHECKED} "${CMAKE_SYSROOT}")
endif()

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${CMAKE_SYSROOT})
set(ENV{PKG_CONFIG_LIBDIR}
    ${CMAKE_SYSROOT}/usr/lib/${QAVEL_CROSS_TRIPLE}/pkgconfig:${CMAKE_SYSROOT}/usr/share/pkgconfig)
