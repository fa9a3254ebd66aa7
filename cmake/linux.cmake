# Host build: the launcher's code on the simulated machine, the package tool,
# and the three test tiers.
option(LAUNCHER_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(LAUNCHER_FUZZ "Build the libFuzzer target (clang) instead of the tests" OFF)
option(LAUNCHER_WINE_TESTS "Register the tests that run the real executable under Wine" ON)
option(LAUNCHER_WINDOWS_BUILD_TESTS "Register the tests that need the windows preset's build (no Wine)" ON)
set(LAUNCHER_WINDOWS_BUILD "${CMAKE_SOURCE_DIR}/build/windows" CACHE PATH
    "Build folder of the windows preset (launcher.exe, sample setup programs)")
set(LAUNCHER_WINDOWS_TOOL_BUILD "${CMAKE_SOURCE_DIR}/build/windows-tool" CACHE PATH
    "Build folder of the windows-tool preset (setup-package.exe and its zip)")

# The tests' packages, made in memory through the tool's writer: for the
# tests, the benchmarks and the fuzzing corpus.
add_library(test_packages STATIC tests/helpers/test_packages.cpp tests/helpers/package_builder.cpp)
target_link_libraries(test_packages PUBLIC packaging)

if(LAUNCHER_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
elseif(LAUNCHER_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()
add_compile_options(-Wall -Wextra)
# What is built names no folder of this machine (debug information and
# source names relative to the project), so two builds in two folders make
# the same package.
add_compile_options("-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=" "-ffile-prefix-map=${CMAKE_BINARY_DIR}/=")

find_package(PkgConfig REQUIRED)
pkg_check_modules(LZMA REQUIRED IMPORTED_TARGET liblzma)

# The package tool as Linux builds it: the POSIX seam, Debian's libraries.
find_package(CLI11 CONFIG REQUIRED)
find_package(nlohmann_json CONFIG REQUIRED)
pkg_check_modules(TOMLPLUSPLUS REQUIRED IMPORTED_TARGET tomlplusplus)
add_library(tool_lzma INTERFACE)
target_link_libraries(tool_lzma INTERFACE PkgConfig::LZMA)
add_library(tool_headers INTERFACE)
target_link_libraries(tool_headers INTERFACE CLI11::CLI11 nlohmann_json::nlohmann_json)
add_library(tool_toml INTERFACE)
target_link_libraries(tool_toml INTERFACE PkgConfig::TOMLPLUSPLUS)
set(TOOL_SYSTEM_SEAM host/system/posix/files.cpp host/system/posix/temporaries.cpp host/system/posix/process.cpp
                     host/system/posix/memory.cpp)
set(TOOL_ENTRY tools/package_tool/entry_posix.cpp)
include(cmake/tool.cmake)
# In the build tree the tool and its launcher lie as they are installed
# (bin/, and share/setup-package/ beside it), so the tool finds the launcher
# as an installed one does and names no build folder. Hardened as Debian
# builds its programs (not with the sanitizers, which bring their own).
set_target_properties(setup-package PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")
add_custom_command(TARGET setup-package POST_BUILD
  COMMAND sh -c "test ! -f \"$1\" || { mkdir -p \"$2\" && cp \"$1\" \"$2/\"; }" copy
          "${LAUNCHER_WINDOWS_BUILD}/launcher.exe" "${CMAKE_BINARY_DIR}/share/setup-package"
  VERBATIM)
if(NOT LAUNCHER_SANITIZE AND NOT LAUNCHER_FUZZ)
  target_compile_definitions(setup-package PRIVATE _FORTIFY_SOURCE=2)
  target_compile_options(setup-package PRIVATE -fstack-protector-strong)
  target_link_options(setup-package PRIVATE -Wl,-z,relro,-z,now)
  foreach(library host_floor platform_sim launcher_core pe_branding packaging tool_files)
    target_compile_definitions(${library} PRIVATE _FORTIFY_SOURCE=2)
    target_compile_options(${library} PRIVATE -fstack-protector-strong)
  endforeach()
endif()

# Installed as a tool: setup-package in bin/, and beside it in
# share/setup-package/ the launcher image it uses when --launcher is not given
# (the windows preset builds it first), the README and the JSON schema of
# what --json prints.
include(GNUInstallDirs)
install(TARGETS setup-package RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(FILES "${LAUNCHER_WINDOWS_BUILD}/launcher.exe" "${CMAKE_SOURCE_DIR}/tools/package_tool/setup-package.schema.json"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/setup-package")
install(FILES "${CMAKE_SOURCE_DIR}/tools/package_tool/GUIDE.md" DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/setup-package" RENAME README.md)
# The README's worked example, ready to copy: its package file, the two
# sample setup programs, setup data and an icon.
set(examples "${CMAKE_SOURCE_DIR}/tools/package_tool/examples")
install(FILES "${examples}/MySetup.toml" "${examples}/setup-data.txt" "${examples}/example.ico"
              "${LAUNCHER_WINDOWS_BUILD}/sample_setup32.exe" "${LAUNCHER_WINDOWS_BUILD}/sample_setup64.exe"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/setup-package/examples")
# setup-package(1) from the tool's own --help, bash completion, and the
# Debian copyright file.
add_custom_command(
  OUTPUT "${CMAKE_BINARY_DIR}/setup-package.1.gz"
  COMMAND "${CMAKE_SOURCE_DIR}/tools/package_tool/make_man_page.sh" "$<TARGET_FILE:setup-package>"
          "${CMAKE_BINARY_DIR}/setup-package.1.gz"
  DEPENDS setup-package tools/package_tool/make_man_page.sh)
add_custom_target(man_page ALL DEPENDS "${CMAKE_BINARY_DIR}/setup-package.1.gz")
install(FILES "${CMAKE_BINARY_DIR}/setup-package.1.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
install(FILES "${CMAKE_SOURCE_DIR}/tools/package_tool/setup-package.bash-completion"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/bash-completion/completions" RENAME setup-package)
install(FILES "${CMAKE_SOURCE_DIR}/tools/package_tool/copyright" DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/setup-package")
# The package's maintainer, in its control file and its changelog: set it
# once, when configuring (-DSETUP_PACKAGE_MAINTAINER="Name <mail>").
set(SETUP_PACKAGE_MAINTAINER "setup-package maintainers <maintainers@setup-package.example>" CACHE STRING
    "The .deb's maintainer: name and mail address")
configure_file(tools/package_tool/changelog.in "${CMAKE_BINARY_DIR}/changelog" @ONLY)
add_custom_command(
  OUTPUT "${CMAKE_BINARY_DIR}/changelog.gz"
  COMMAND sh -c "gzip -9nc \"$1\" >\"$2\"" gz "${CMAKE_BINARY_DIR}/changelog" "${CMAKE_BINARY_DIR}/changelog.gz"
  DEPENDS "${CMAKE_BINARY_DIR}/changelog" VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS "${CMAKE_BINARY_DIR}/changelog.gz")
install(FILES "${CMAKE_BINARY_DIR}/changelog.gz" DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/setup-package")
# cpack -G DEB (in the build folder) makes setup-package_VERSION_ARCH.deb; its
# dependencies are the shared libraries the tool links, as dpkg-shlibdeps finds.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME setup-package)
set(CPACK_PACKAGE_VENDOR "setup-package")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "makes, inspects, checks and unpacks one-file setup packages")
set(CPACK_PACKAGE_INSTALL_DIRECTORY setup-package)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${SETUP_PACKAGE_MAINTAINER}")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "setup-package builds one-file setup packages for Windows: a small\n"
    "32-bit launcher followed by LZMA-compressed setup programs (32-bit,\n"
    "64-bit or both), setup data and messages. The launcher checks the\n"
    "package's size and CRC and the machine (32/64-bit, Windows version),\n"
    "then runs the fitting setup program from a temporary copy. The tool\n"
    "also inspects packages, predicts what the launcher does on every\n"
    "Windows version, and extracts their programs.")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)

if(LAUNCHER_FUZZ)
  add_executable(launcher_fuzz fuzz/launcher_fuzz.cpp)
  target_link_libraries(launcher_fuzz PRIVATE packaging)
  target_link_options(launcher_fuzz PRIVATE -fsanitize=fuzzer)
  # The tool's side over the same seeds: the reader, inspect's checks, the PE
  # reader and the maker's resources.
  add_executable(tool_fuzz fuzz/tool_fuzz.cpp)
  target_link_libraries(tool_fuzz PRIVATE packaging)
  target_link_options(tool_fuzz PRIVATE -fsanitize=fuzzer)
  add_executable(make_corpus fuzz/make_corpus.cpp)
  target_link_libraries(make_corpus PRIVATE test_packages)
else()
  # The tests and the benchmarks (not in the fuzz preset).
  enable_testing()
  add_subdirectory(tests)

  # Benchmarks: they print figures (build/linux/decode_bench).
  add_executable(decode_bench bench/decode_bench.cpp)
  target_link_libraries(decode_bench PRIVATE test_packages)
  find_package(ZLIB REQUIRED)
  add_executable(run_bench bench/run_bench.cpp)
  target_link_libraries(run_bench PRIVATE test_packages ZLIB::ZLIB)
  add_executable(args_bench bench/args_bench.cpp)
  target_link_libraries(args_bench PRIVATE test_packages)
  add_executable(crc_bench bench/crc_bench.cpp)
  target_link_libraries(crc_bench PRIVATE launcher_core ZLIB::ZLIB)
endif()
