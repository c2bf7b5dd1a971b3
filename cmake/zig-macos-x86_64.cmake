# The macOS program for Intel Macs, cross-compiled.
set(MACOS_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/zig-macos.cmake)
