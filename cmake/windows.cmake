# The shipped launcher: a PE32 GUI executable, statically linked.
#
# Size budget: the launcher is the front of every package, so every byte is
# paid by every download. What keeps it small, and why:
#   -Os, -ffunction-sections/-fdata-sections with --gc-sections, -s:
#        smallest code, unused functions dropped, no symbols;
#   -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables:
#        no unwinding tables or type information (the launcher never throws);
#   -fno-threadsafe-statics: one thread, no guard calls;
#   own operator new/delete (platform/win32/entry.cpp): libstdc++'s pull in
#        its exception machinery, about 150 KB;
#   -nostartfiles with its own entry point (platform/win32/entry.cpp): the C
#        runtime's start-up code (argument parsing, pseudo-relocations, TLS
#        callbacks, the unwind tables it registers, and the .CRT and .tls
#        sections) is about 10 KB, and the launcher needs none of it.
# The linker's map of the shipped image (launcher.map beside it) says what
# each object and symbol costs: bench/size_report.py prints the largest; and
# cmake/check_image_map.cmake fails the build on a static constructor,
# which nothing would run without the start-up code.
# liblzma, built by scripts/setup.sh with the flags on the next line (which
# it reads from here), configured --enable-small and decoder-only:
# LIBLZMA_CFLAGS: -O2 -fno-asynchronous-unwind-tables -ffunction-sections -fdata-sections
#   -O2: its decoder is most of the launcher's run time, and -O2 decodes about
#        a tenth faster than -Os for a few hundred bytes;
#   -fno-asynchronous-unwind-tables: C code that never unwinds needs no
#        .eh_frame entries;
#   --enable-small without -O3 or the non-small build: those are larger and
#        not faster on i686.
#   crc32.cpp without -fdata-sections: with it, the Windows compiler puts
#        zero-initialised data (the 1 KiB CRC table) into a .data$ section
#        that the file stores; without it the table goes to .bss, which the
#        file does not store.
# Reproducible: no link timestamp, fixed paths in nothing that is kept.

set(LZMA_WINDOWS_DIR "${setup_launcher_cache}/liblzma-i686" CACHE PATH
    "Static decoder-only liblzma for i686-w64-mingw32 (made by scripts/setup.sh)")
if(NOT EXISTS "${LZMA_WINDOWS_DIR}/lib/liblzma.a")
  message(FATAL_ERROR "No liblzma for Windows in ${LZMA_WINDOWS_DIR}: run scripts/setup.sh")
endif()

# The version resource the launcher ships with. Its strings belong to the
# package's maker: `setup-package build` writes them (--company, --product,
# --product-version, ...), keeping these neutral ones for what is not given.
set(LAUNCHER_COMPANY "setup-package")
set(LAUNCHER_PRODUCT "Setup package")
set(LAUNCHER_DESCRIPTION "Setup")
set(LAUNCHER_FILE_VERSION "${PROJECT_VERSION}.0")

enable_language(RC)

set(size_flags -Os -ffunction-sections -fdata-sections -fno-exceptions -fno-rtti
    -fno-asynchronous-unwind-tables -fno-threadsafe-statics -fno-ident
    "-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.")
set(link_flags -static -s -nostartfiles -Wl,--entry=_LauncherEntry@0 -Wl,--gc-sections -Wl,--no-insert-timestamp
    -Wl,--large-address-aware -Wl,--major-subsystem-version,4 -Wl,--minor-subsystem-version,0
    -Wl,--major-os-version,4 -Wl,--minor-os-version,0)

# The post-link tool runs on the build machine.
find_program(HOST_CXX NAMES c++ g++ REQUIRED NO_CMAKE_FIND_ROOT_PATH)
set(make_locator_room "${CMAKE_BINARY_DIR}/host-tools/make_locator_room")
add_custom_command(
  OUTPUT "${make_locator_room}"
  COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/host-tools"
  COMMAND "${HOST_CXX}" -std=c++17 -O2 -I "${CMAKE_SOURCE_DIR}"
          -o "${make_locator_room}"
          "${CMAKE_SOURCE_DIR}/tools/pe/make_locator_room.cpp" "${CMAKE_SOURCE_DIR}/tools/pe/pe_rewrite.cpp"
          "${CMAKE_SOURCE_DIR}/host/pe_image.cpp"
  DEPENDS tools/pe/make_locator_room.cpp tools/pe/pe_rewrite.cpp tools/pe/pe_rewrite.h host/pe_image.cpp host/pe_image.h
  COMMENT "Building make_locator_room for the build machine")
add_custom_target(host_tools DEPENDS "${make_locator_room}")

string(REPLACE "." "," LAUNCHER_VERSION_COMMAS "${LAUNCHER_FILE_VERSION}")
configure_file(resources/version.rc.in "${CMAKE_BINARY_DIR}/version.rc" @ONLY)

# The static liblzma, as every Windows target that decodes links it.
add_library(lzma_windows INTERFACE)
target_include_directories(lzma_windows INTERFACE "${LZMA_WINDOWS_DIR}/include")
target_compile_definitions(lzma_windows INTERFACE LZMA_API_STATIC)
target_link_libraries(lzma_windows INTERFACE "${LZMA_WINDOWS_DIR}/lib/liblzma.a")

# The launcher's portable sources, compiled once for the shipped image, its
# test builds and the decoding benchmark.
add_library(launcher_objects OBJECT ${LAUNCHER_SOURCES})
target_include_directories(launcher_objects PRIVATE "${CMAKE_SOURCE_DIR}")
target_link_libraries(launcher_objects PRIVATE lzma_windows)
target_compile_options(launcher_objects PRIVATE ${size_flags})

# add_launcher(name [seam.cpp]): the launcher's image. A test build names the
# seam of platform/win32 that replaces one platform function; the linker keeps
# the first definition, which is the seam's, listed before win32_platform.cpp.
function(add_launcher name)
  add_executable(${name} WIN32 $<TARGET_OBJECTS:launcher_objects> platform/win32/entry.cpp ${ARGN}
    platform/win32/win32_platform.cpp
    resources/launcher.rc
    "${CMAKE_BINARY_DIR}/version.rc")
  target_include_directories(${name} PRIVATE "${CMAKE_SOURCE_DIR}")
  target_compile_options(${name} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${size_flags}>)
  target_link_options(${name} PRIVATE ${link_flags})
  if(ARGN)
    target_link_options(${name} PRIVATE -Wl,--allow-multiple-definition)
  endif()
  # Known DLLs only (never searched for in the package's folder); mpr.dll is
  # loaded at run time from the system folder.
  target_link_libraries(${name} PRIVATE lzma_windows shell32 advapi32 user32)
  set_target_properties(${name} PROPERTIES OUTPUT_NAME ${name})
  if(name STREQUAL "launcher")
    target_link_options(${name} PRIVATE "-Wl,-Map=${CMAKE_BINARY_DIR}/launcher.map")
    add_custom_command(TARGET ${name} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -DMAP=${CMAKE_BINARY_DIR}/launcher.map -P "${CMAKE_SOURCE_DIR}/cmake/check_image_map.cmake"
      VERBATIM)
  endif()
  add_dependencies(${name} host_tools)
  add_custom_command(TARGET ${name} POST_BUILD
    COMMAND "${make_locator_room}" "$<TARGET_FILE:${name}>"
    COMMAND ${CMAKE_COMMAND} -DIMAGE=$<TARGET_FILE:${name}> -DBUDGET=${LAUNCHER_IMAGE_BUDGET} -P "${CMAKE_SOURCE_DIR}/cmake/report_size.cmake"
    VERBATIM)
endfunction()

set_source_files_properties(launcher/crc32.cpp PROPERTIES COMPILE_OPTIONS -fno-data-sections)
set_source_files_properties(resources/launcher.rc PROPERTIES
  OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/resources/launcher.manifest;${CMAKE_SOURCE_DIR}/resources/launcher.ico")

add_launcher(launcher)

# Test builds, never shipped, each with its seams:
# - its administrator check answers false, so that the shell start runs for
#   real under Wine (whose user is an administrator);
add_launcher(launcher_shell_start_test platform/win32/never_administrator_seam.cpp)
# - as on Windows without SetDefaultDllDirectories (XP, Vista, 7 without
#   KB2533623), and no administrator either, so the planted-DLL cases reach
#   the older search on the direct and on the shell start;
add_launcher(launcher_no_search_api_test platform/win32/no_search_api_seam.cpp
  platform/win32/never_administrator_seam.cpp)
# - raises the processor exception its last argument names
#   ("/raise-access-violation", "/raise-division-by-zero") once the temporary
#   copy is written, for the last-resort report's tests.
add_launcher(launcher_exception_test platform/win32/raise_seam.cpp)

# Small setup programs of the project's own for the end-to-end tests and the
# sample package: they report what they received.
add_executable(sample_setup32 tests/programs/sample_setup.c)
target_link_options(sample_setup32 PRIVATE -static -s -mwindows)
find_program(MINGW64_CC NAMES x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-gcc)
if(MINGW64_CC)
  add_custom_command(
    OUTPUT "${CMAKE_BINARY_DIR}/sample_setup64.exe"
    COMMAND "${MINGW64_CC}" -O2 -s -static -mwindows -o "${CMAKE_BINARY_DIR}/sample_setup64.exe"
            "${CMAKE_SOURCE_DIR}/tests/programs/sample_setup.c"
    DEPENDS tests/programs/sample_setup.c)
  add_custom_target(sample_setup64 ALL DEPENDS "${CMAKE_BINARY_DIR}/sample_setup64.exe")
endif()

# Reads a package's version resource and icons back through Windows' own
# functions (the end-to-end tests of branded packages).
add_executable(version_reader tests/programs/version_reader.c)
target_link_options(version_reader PRIVATE -static -s)
target_link_libraries(version_reader PRIVATE version shell32 gdi32 user32)

# For the Windows tool's tests under Wine: a stand-in signer, which appends a
# certificate table as a signing tool does,
add_executable(cert_appender tests/programs/cert_appender.c)
target_link_options(cert_appender PRIVATE -static -s)
# and holds a file open without sharing it, as another program may.
add_executable(file_holder tests/programs/file_holder.c)
target_link_options(file_holder PRIVATE -static -s)

# The code page sample the end-to-end tests hold the host's tables against.
add_executable(code_page_sample tests/programs/code_page_sample.c)
target_link_options(code_page_sample PRIVATE -static -s)

# The decoding step timed in-process under Wine (bench/wine_decode_bench.sh).
add_executable(win_decode_bench bench/win_decode_bench.cpp $<TARGET_OBJECTS:launcher_objects>
  platform/win32/win32_platform.cpp)
target_include_directories(win_decode_bench PRIVATE "${CMAKE_SOURCE_DIR}")
target_compile_options(win_decode_bench PRIVATE -O2)
target_link_options(win_decode_bench PRIVATE -static -Wl,--large-address-aware)
target_link_libraries(win_decode_bench PRIVATE lzma_windows shell32 advapi32 user32)

# The floors a whole run is measured against (bench/wine_decode_bench.sh): the
# same liblzma decoding into one block and nothing else, and, given a copy's
# name, also one read of the stream, one write of the copy and its deletion.
add_executable(win_bare_decode bench/win_bare_decode.cpp launcher/crc32.cpp)
target_compile_options(win_bare_decode PRIVATE -O2)
target_include_directories(win_bare_decode PRIVATE "${CMAKE_SOURCE_DIR}")
target_link_options(win_bare_decode PRIVATE -static -Wl,--large-address-aware)
target_link_libraries(win_bare_decode PRIVATE lzma_windows)

# The DLL the end-to-end tests plant beside packages (never shipped).
add_library(planted_dll SHARED tests/e2e/planted_dll.c)
set_target_properties(planted_dll PROPERTIES PREFIX "" OUTPUT_NAME planted)
target_link_options(planted_dll PRIVATE -s -static-libgcc -Wl,--kill-at)
