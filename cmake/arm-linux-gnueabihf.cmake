# Cross-build for Debian's armhf (ARMv7-A with VFPv3-D16, hard-float) with Debian's cross compiler.
set(QAVEL_DEB_ARCH armhf)
set(QAVEL_CROSS_TRIPLE arm-linux-gnueabihf)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)
# GCC notes where the passing of some structures changed in GCC 7.1; the program, its libraries
# and its tests are all built by one compiler.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)
