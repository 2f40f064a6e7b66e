# Cross-build for Debian's arm64 (ARMv8-A) with Debian's cross compiler.
set(QAVEL_DEB_ARCH arm64)
set(QAVEL_CROSS_TRIPLE aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)
