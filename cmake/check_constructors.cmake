# Fails the build when the linker placed a static constructor in the
# launcher image: the image is linked without the C runtime's start-up code
# (cmake/windows.cmake), so nothing would ever run it. Reads the linker's map.
file(READ "${MAP}" map)
string(REGEX MATCHALL "\n \\.ctors[^\n]*\n?[^\n]*" entries "${map}")
foreach(entry IN LISTS entries)
  if(entry MATCHES "0x[0-9a-f]+[ \t]+0x0*[1-9a-f][0-9a-f]*[ \t]+([^\n]+)")
    message(FATAL_ERROR "launcher image: a static constructor from ${CMAKE_MATCH_1}; nothing runs constructors "
                        "in this image (no C runtime start-up code): construct it where it is used")
  endif()
endforeach()
