# The macOS program for Apple silicon, cross-compiled.
set(MACOS_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/zig-macos.cmake)
