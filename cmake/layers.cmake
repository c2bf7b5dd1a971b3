# Fails when a source includes a header of a layer above its own: the arrows
# between folders go one way, from the entry down to the registry and the
# reports. Run with -DSRC=<the src folder> at every build (see CMakeLists.txt).
# The layers, lowest first; a folder may include its own layer and those below.
set(layers
  "registry report winapi"              # registry values, reports, the Windows calls' stand-in
  "main walk all_ports"                 # the specified walk and the view by device beside it
  "options look wait watch json run"    # the run modes of the options
  "linux win32")                        # the systems: entries and platform calls
set(level 0)
foreach(layer IN LISTS layers)
  separate_arguments(folders UNIX_COMMAND "${layer}")
  foreach(folder IN LISTS folders)
    set(level_${folder} ${level})
  endforeach()
  math(EXPR level "${level} + 1")
endforeach()
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
  endforeach()
endforeach()
