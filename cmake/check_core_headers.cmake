# Fails when code outside src/platform includes an operating-system header: the core reaches the
# system only through the platform layer, so both builds share every line of it.
file(GLOB_RECURSE sources ${SOURCE_DIR}/src/core/* ${SOURCE_DIR}/src/app/* ${SOURCE_DIR}/src/web/* ${SOURCE_DIR}/src/tftp/*
     ${SOURCE_DIR}/src/ui/* ${SOURCE_DIR}/src/res/*)
set(forbidden "#[ \t]*include[ \t]*[<\"](windows|winsock|winsock2|ws2tcpip|commctrl|mmsystem|unistd|pthread|poll|fcntl|netdb|termios|signal|dlfcn|sys/[a-z_]+|arpa/[a-z_]+|netinet/[a-z_]+)\\.h[>\"]")
set(leaks "")
foreach(file ${sources})
  if(file MATCHES "\\.(h|cpp)$")
    file(STRINGS ${file} lines REGEX "${forbidden}")
    if(lines)
      string(APPEND leaks "\n  ${file}: ${lines}")
    endif()
  endif()
endforeach()
if(leaks)
  message(FATAL_ERROR "Operating-system headers outside src/platform:${leaks}")
endif()
