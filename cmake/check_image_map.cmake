# Checks the launcher image from the linker's map; fails the build when
# - the linker placed a static constructor in it: the image is linked without
#   the C runtime's start-up code (cmake/windows.cmake), so nothing would ever
#   run it;
# - it holds code from an archive other than the launcher's own objects,
#   liblzma and the system DLLs' import libraries: the image ships inside
#   every package, and what it holds is what its licences ask of every
#   author who distributes one (today: no notice; see LICENSE and the README).
cmake_policy(VERSION 3.25)
file(READ "${MAP}" map)
string(REGEX MATCHALL "\n \\.ctors[^\n]*\n?[^\n]*" entries "${map}")
foreach(entry IN LISTS entries)
  if(entry MATCHES "0x[0-9a-f]+[ \t]+0x0*[1-9a-f][0-9a-f]*[ \t]+([^\n]+)")
    message(FATAL_ERROR "launcher image: a static constructor from ${CMAKE_MATCH_1}; nothing runs constructors "
                        "in this image (no C runtime start-up code): construct it where it is used")
  endif()
endforeach()

set(allowed objects liblzma libkernel32 libuser32 libadvapi32 libshell32 libmsvcrt)
string(REGEX REPLACE "\n(Discarded input sections|Memory Configuration)\n.*" "" members "${map}")
string(REGEX MATCHALL "\n[^ \n][^\n]*\\.a\\([^)\n]+\\)" members "${members}")
foreach(member IN LISTS members)
  string(REGEX REPLACE "^\n(.*/)?([^/]+)\\.a\\((.*)\\)$" "\\2;\\3" parts "${member}")
  list(GET parts 0 archive)
  list(GET parts 1 object)
  if(NOT archive IN_LIST allowed)
    message(FATAL_ERROR "launcher image: ${object} from ${archive}.a is linked in; the image holds only the "
                        "launcher's own code, liblzma and import stubs (whose licences ask no notice): "
                        "do without it, or state its licence in tools/package_tool/copyright and LICENSE")
  endif()
endforeach()
