# The layers, checked on every build of the core.
#
# 1. Code outside src/platform includes no operating-system header: the core reaches the system
#    only through the platform layer, so both builds share every line of it. The program entries
#    (src/main) are each one system's top and may (WinMain needs windows.h).
# 2. Each folder includes only the folders below it (the table). The program entries (src/main) are
#    the top of the program and may include every folder. The console front end (src/console) is the
#    Linux build's dialogs: the layers above reach it through platform/dialogs.h, and only the
#    program entries include its own headers, to point it at its output and input.
set(layers res platform console core web tftp ui app fleet main)
set(may_include_res      res)
set(may_include_platform platform res)
set(may_include_console  console platform res)
set(may_include_core     core platform)
set(may_include_web      web core platform)
set(may_include_tftp     tftp core platform)
set(may_include_ui       ui res core platform)
set(may_include_app      app ui tftp web core platform res)
set(may_include_fleet    fleet ui core platform)
set(may_include_main     main fleet app ui tftp web core console platform res)

set(forbidden "#[ \t]*include[ \t]*[<\"](windows|winsock|winsock2|ws2tcpip|commctrl|mmsystem|unistd|pthread|poll|fcntl|netdb|termios|signal|dlfcn|sys/[a-z_]+|arpa/[a-z_]+|netinet/[a-z_]+)\\.h[>\"]")
set(project_include "#[ \t]*include[ \t]*\"([a-z_]+)/[^\"]*\"")

set(leaks "")
set(crossings "")
foreach(layer ${layers})
  file(GLOB_RECURSE sources ${SOURCE_DIR}/src/${layer}/*)
  foreach(file ${sources})
    if(NOT file MATCHES "\\.(h|cpp)$")
      continue()
    endif()
    if(NOT layer STREQUAL "platform" AND NOT layer STREQUAL "main")
      file(STRINGS ${file} lines REGEX "${forbidden}")
      if(lines)
        string(APPEND leaks "\n  ${file}: ${lines}")
      endif()
    endif()
    set(allowed ${may_include_${layer}})
    file(STRINGS ${file} lines REGEX "${project_include}")
    foreach(line ${lines})
      string(REGEX MATCH "${project_include}" ignored "${line}")
      set(folder ${CMAKE_MATCH_1})
      list(FIND layers ${folder} known)
      list(FIND allowed ${folder} permitted)
      if(known GREATER_EQUAL 0 AND permitted LESS 0)
        string(APPEND crossings "\n  ${file}: ${line} (${layer} may include: ${allowed})")
      endif()
    endforeach()
  endforeach()
endforeach()
if(leaks)
  message(FATAL_ERROR "Operating-system headers outside src/platform:${leaks}")
endif()
if(crossings)
  message(FATAL_ERROR "Includes across the layers:${crossings}")
endif()
