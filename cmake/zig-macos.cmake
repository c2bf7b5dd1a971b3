# Cross-compiles the macOS program with zig (clang, libc++ and a Mach-O
# linker for macOS) for MACOS_PROCESSOR (aarch64 or x86_64), set by the
# toolchain file that includes this. IOKit and CoreFoundation are linked
# against text stubs of the calls the program makes (cmake/macos-frameworks).
# zig comes from PATH or from build/tools/zig, where scripts/install-test-deps
# puts it.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR ${MACOS_PROCESSOR})
find_program(PORTSIFT_ZIG zig HINTS ${CMAKE_CURRENT_LIST_DIR}/../build/tools/zig)
if(NOT PORTSIFT_ZIG)
  message(FATAL_ERROR "zig was not found: scripts/install-test-deps installs it from the npm registry into build/tools/zig")
endif()
# Each tool a wrapper that names the target: the compiler, the archiver.
set(wrappers ${CMAKE_BINARY_DIR}/zig-macos)
foreach(tool c++ ar ranlib)
  set(target_flag "")
  if(tool STREQUAL "c++")
    set(target_flag "-target ${MACOS_PROCESSOR}-macos")
  endif()
  file(WRITE ${wrappers}/${tool} "#!/bin/sh\nexec \"${PORTSIFT_ZIG}\" ${tool} ${target_flag} \"$@\"\n")
  file(CHMOD ${wrappers}/${tool} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()
set(CMAKE_CXX_COMPILER ${wrappers}/c++)
set(CMAKE_AR ${wrappers}/ar CACHE FILEPATH "" FORCE)
set(CMAKE_RANLIB ${wrappers}/ranlib CACHE FILEPATH "" FORCE)
set(CMAKE_OSX_ARCHITECTURES "" CACHE STRING "" FORCE)
set(CMAKE_OSX_SYSROOT "" CACHE PATH "" FORCE)
set(PORTSIFT_MACOS_FRAMEWORKS ${CMAKE_CURRENT_LIST_DIR}/macos-frameworks)
