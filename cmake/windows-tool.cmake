# The package tool for authors on Windows: setup-package.exe, a 64-bit
# console program with the Windows definition of the system seam, linked
# statically (libstdc++, libgcc and winpthread inside), so that it imports
# only DLLs every Windows has. Beside it in the build folder, as in the zip:
# launcher.exe (the windows preset's), which it builds with and compares with.

set(LZMA_TOOL_DIR "${setup_launcher_cache}/liblzma-x86_64" CACHE PATH
    "Static liblzma with its encoder for x86_64-w64-mingw32 (made by scripts/setup.sh)")
if(NOT EXISTS "${LZMA_TOOL_DIR}/lib/liblzma.a")
  message(FATAL_ERROR "No liblzma for the Windows tool in ${LZMA_TOOL_DIR}: run scripts/setup.sh")
endif()
set(LAUNCHER_WINDOWS_BUILD "${CMAKE_SOURCE_DIR}/build/windows" CACHE PATH
    "Build folder of the windows preset (launcher.exe, sample setup programs)")

add_library(tool_lzma INTERFACE)
target_include_directories(tool_lzma INTERFACE "${LZMA_TOOL_DIR}/include")
target_compile_definitions(tool_lzma INTERFACE LZMA_API_STATIC)
target_link_libraries(tool_lzma INTERFACE "${LZMA_TOOL_DIR}/lib/liblzma.a")

# CLI11, nlohmann-json and toml++ are headers only: Debian's, through a folder
# that holds just them (never all of /usr/include, which is Linux's C library).
set(tool_header_folder "${CMAKE_BINARY_DIR}/headers")
file(MAKE_DIRECTORY "${tool_header_folder}")
foreach(library CLI nlohmann toml++)
  if(NOT EXISTS "/usr/include/${library}")
    message(FATAL_ERROR "No /usr/include/${library}: run scripts/setup.sh")
  endif()
  file(CREATE_LINK "/usr/include/${library}" "${tool_header_folder}/${library}" SYMBOLIC)
endforeach()
add_library(tool_headers INTERFACE)
target_include_directories(tool_headers SYSTEM INTERFACE "${tool_header_folder}")
add_library(tool_toml INTERFACE)
target_link_libraries(tool_toml INTERFACE tool_headers)

add_compile_options(-Wall -Wextra)
set(TOOL_SYSTEM_SEAM host/system/windows/win32_api.cpp host/system/windows/files.cpp
                     host/system/windows/temporaries.cpp host/system/windows/process.cpp host/system/windows/memory.cpp)
set(TOOL_ENTRY tools/package_tool/entry_windows.cpp)
include(cmake/tool.cmake)
target_link_options(setup-package PRIVATE -static -municode -s "-Wl,-Map=${CMAKE_BINARY_DIR}/setup-package.map")

add_custom_command(
  OUTPUT "${CMAKE_BINARY_DIR}/launcher.exe"
  COMMAND ${CMAKE_COMMAND} -E copy "${LAUNCHER_WINDOWS_BUILD}/launcher.exe" "${CMAKE_BINARY_DIR}/launcher.exe"
  DEPENDS "${LAUNCHER_WINDOWS_BUILD}/launcher.exe")
add_custom_target(launcher_beside_tool ALL DEPENDS "${CMAKE_BINARY_DIR}/launcher.exe")

# The zip for Windows (cpack in this folder, as scripts/build.sh runs it):
# setup-package-VERSION-windows-x64.zip, one folder with the tool, the
# launcher, the schema, the worked example, the licence and a short guide.
install(TARGETS setup-package RUNTIME DESTINATION .)
install(FILES "${LAUNCHER_WINDOWS_BUILD}/launcher.exe" "${CMAKE_SOURCE_DIR}/tools/package_tool/setup-package.schema.json"
              "${CMAKE_SOURCE_DIR}/tools/package_tool/windows/README.txt" DESTINATION .)
install(FILES "${CMAKE_SOURCE_DIR}/LICENSE" DESTINATION . RENAME LICENSE.txt)
install(FILES "${CMAKE_SOURCE_DIR}/tools/package_tool/windows/NOTICES.txt" DESTINATION .)
set(examples "${CMAKE_SOURCE_DIR}/tools/package_tool/examples")
install(FILES "${examples}/MySetup.toml" "${examples}/setup-data.txt" "${examples}/example.ico"
              "${LAUNCHER_WINDOWS_BUILD}/sample_setup32.exe" "${LAUNCHER_WINDOWS_BUILD}/sample_setup64.exe"
        DESTINATION examples)
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME setup-package)
set(CPACK_PACKAGE_FILE_NAME "setup-package-${PROJECT_VERSION}-windows-x64")
set(CPACK_OUTPUT_FILE_PREFIX "${CMAKE_BINARY_DIR}")
include(CPack)
