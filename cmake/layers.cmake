# Fails when a source includes a header of a floor above its own: the arrows
# between folders go one way, from the systems' entries down to the
# contract. Run with -DSRC=<the src folder> at every build (see CMakeLists.txt).
# The floors, lowest first; a folder may include its own floor and those below.
set(layers
  "sys"                           # the Windows declarations the Linux emulation serves (<windows.h>)
  "platform"                      # the systems' contract: what each system provides
  "text"                          # wide text: case folds, hex digits, UTF-8 and UTF-16
  "winapi iokit"                  # the Windows calls emulated over a registry image; IOKit's over an IO registry image
  "report"                        # messages, listing lines and failure reports
  "registry export ioreg"         # registry reads, USB names and the schema; the export and IO registry dump readers
  "walk"                          # the specified walk and its record
  "args json all_ports"           # the specified command line; the document; the view by device
  "options"                       # the option table
  "look"                          # one look, for every run mode
  "wait watch"                    # the run modes that look more than once
  "run"                           # the run: the options read, the source opened, the mode run
  "usb"                           # the USB devices and ports a system's reader finds; the shaper into the image
  "ioservice"                     # the macOS reader: the IO registry's serial ports, through IOKit
  "posix"                         # what Linux and macOS share: the standard streams, the entry, the clock
  "linux win32 macos")                  # each system's backend and entry
set(level 0)
foreach(layer IN LISTS layers)
  separate_arguments(folders UNIX_COMMAND "${layer}")
  foreach(folder IN LISTS folders)
    set(level_${folder} ${level})
  endforeach()
  math(EXPR level "${level} + 1")
endforeach()
math(EXPR top "${level} - 1")
file(GLOB_RECURSE sources RELATIVE ${SRC} ${SRC}/*.cpp ${SRC}/*.h)
foreach(source IN LISTS sources)
  string(REGEX MATCH "^[^/]+" folder "${source}")
  if(NOT DEFINED level_${folder})
    message(FATAL_ERROR "src/${folder} has no layer: name it in cmake/layers.cmake")
  endif()
  file(STRINGS ${SRC}/${source} includes REGEX "^#include \"[^/\"]+/")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^#include \"([^/\"]+)/.*" "\\1" included "${line}")
    if(DEFINED level_${included} AND level_${included} GREATER level_${folder})
      message(FATAL_ERROR "src/${source} includes ${included}/, a layer above its own")
    endif()
    # The systems' backends share the top floor and never include each other.
    if(level_${folder} EQUAL top AND NOT included STREQUAL folder AND DEFINED level_${included}
       AND level_${included} EQUAL top)
      message(FATAL_ERROR "src/${source} includes ${included}/, another system's backend")
    endif()
  endforeach()
endforeach()
