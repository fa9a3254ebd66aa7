# The package tool and everything it is made of, from the same sources on
# Linux and on Windows. The file that includes this one sets
#   TOOL_SYSTEM_SEAM  the system seam's definitions (host/system/posix or windows)
#   TOOL_ENTRY        the program entry (tools/package_tool/entry_*.cpp)
# and defines the targets tool_lzma (liblzma with its encoder), tool_headers
# (CLI11 and nlohmann-json) and tool_toml (toml++).

# The host floor (host/): the PE reader, the code pages, UTF-8/UTF-16 and
# the system seam, under both the simulated machine and the tools; never in
# the shipped image.
add_library(host_floor STATIC host/pe_image.cpp host/code_pages.cpp host/utf.cpp host/windows_paths.cpp
            ${TOOL_SYSTEM_SEAM})
target_include_directories(host_floor PUBLIC "${CMAKE_SOURCE_DIR}")

# The simulated Windows machine.
add_library(platform_sim STATIC platform/sim/sim_machine.cpp platform/sim/sim_file_store.cpp platform/sim/sim_faults.cpp
            platform/sim/sim_files.cpp
            platform/sim/sim_processes.cpp platform/sim/sim_modules.cpp platform/sim/sim_memory.cpp
            platform/sim/sim_text.cpp)
target_include_directories(platform_sim PUBLIC "${CMAKE_SOURCE_DIR}")
target_link_libraries(platform_sim PUBLIC host_floor)

# The launcher's code, as the tests and the package tool use it, with the
# tools' decoder (decoding in pieces, replaying a decoding).
add_library(launcher_core STATIC ${LAUNCHER_SOURCES} support/lzma_tool_decoder.cpp)
target_include_directories(launcher_core PUBLIC "${CMAKE_SOURCE_DIR}")
target_link_libraries(launcher_core PUBLIC platform_sim tool_lzma)

# The tools' rewriting of PE images: the checksum, and the maker's part of
# the launcher image (version resource and icon).
add_library(pe_branding STATIC tools/pe/pe_rewrite.cpp tools/pe/certificate_table.cpp tools/pe/resource_section.cpp tools/pe/version_resource.cpp tools/pe/icon_file.cpp
            tools/pe/branding.cpp)
target_link_libraries(pe_branding PUBLIC host_floor)

add_library(packaging STATIC tools/packaging/lzma_encoder.cpp tools/packaging/package_writer.cpp tools/packaging/side_compression.cpp tools/packaging/package_reader.cpp
            tools/packaging/program_head.cpp tools/packaging/program_check.cpp
            tools/packaging/program_replay.cpp tools/packaging/launcher_memory.cpp tools/packaging/windows_releases.cpp
            tools/packaging/codes.cpp)
target_link_libraries(packaging PUBLIC launcher_core host_floor pe_branding tool_lzma)

# The package tool for package authors. Options (CLI11), JSON
# (nlohmann-json) and the package file (toml++) come from Debian's
# libraries; the launcher image uses none of them.
# Its files (inputs read or mapped, outputs all or none), its output
# helpers, the check inspect and verify share, and build's options and
# package file; the tool tests use them directly too.
add_library(tool_files STATIC tools/package_tool/input_files.cpp tools/package_tool/output_files.cpp
            tools/package_tool/file_sink.cpp tools/package_tool/tool_paths.cpp tools/package_tool/report.cpp
            tools/package_tool/package_words.cpp tools/package_tool/launcher_identity.cpp
            tools/package_tool/package_check.cpp tools/package_tool/build_options.cpp tools/package_tool/package_file.cpp)
target_link_libraries(tool_files PUBLIC packaging tool_headers tool_toml)
add_executable(setup-package ${TOOL_ENTRY}
  tools/package_tool/main.cpp tools/package_tool/command_line.cpp
  tools/package_tool/build_command.cpp tools/package_tool/build_input.cpp tools/package_tool/branding_options.cpp tools/package_tool/signing.cpp
  tools/package_tool/inspect_command.cpp
  tools/package_tool/verify_command.cpp tools/package_tool/verify_rows.cpp tools/package_tool/extract_command.cpp
  tools/package_tool/explain_command.cpp)
target_link_libraries(setup-package PRIVATE tool_files packaging tool_headers tool_toml)
target_compile_definitions(setup-package PRIVATE SETUP_PACKAGE_VERSION="${PROJECT_VERSION}")
