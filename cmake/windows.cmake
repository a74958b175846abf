# Windows cross build: the stub executable, statically linked, plus the small Windows helpers
# that the end-to-end tests drive it with.
enable_language(RC)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001")
target_compile_definitions(stubcore PUBLIC UNICODE _UNICODE)
target_compile_options(stubcore PRIVATE -Wall -Wextra)

set(static_flags -static -static-libgcc -static-libstdc++)

add_library(win32port STATIC
  src/platform/win32/win32_platform.cpp
  src/platform/win32/win32_wmi.cpp
)
target_link_libraries(win32port PUBLIC stubcore ole32 oleaut32 wbemuuid uuid version)
target_compile_definitions(win32port PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)

set(STUB_VERSION 1.0.0.0)
string(REPLACE "." "," STUB_VERSION_COMMAS ${STUB_VERSION})
configure_file(src/resources/stub.rc.in ${GEN_DIR}/stub.rc @ONLY)
add_executable(setupstub WIN32
  src/win32/main.cpp
  ${GEN_DIR}/stub.rc)
set_source_files_properties(${GEN_DIR}/stub.rc PROPERTIES
  OBJECT_DEPENDS "${GEN_DIR}/strings.rc;${GEN_DIR}/stub.ico;${CMAKE_SOURCE_DIR}/src/resources/setupstub.manifest")
target_include_directories(setupstub PRIVATE ${GEN_DIR} ${CMAKE_SOURCE_DIR}/src/resources)
target_link_libraries(setupstub PRIVATE win32port comctl32 shell32 user32 gdi32 advapi32 ole32 oleaut32 uuid)
target_link_options(setupstub PRIVATE -municode ${static_flags})

# Prints, for every row of the shared command-line table, whether the real platform splitter
# and option parser give the expected fields (run under Wine by the end-to-end tests).
add_executable(cmdline_probe tests/e2e/tools/cmdline_probe.cpp)
target_link_libraries(cmdline_probe PRIVATE win32port shell32)
target_link_options(cmdline_probe PRIVATE -municode ${static_flags})

# Prints, for every row of the shared XML document table, whether the document reader over the
# wide-character parser gives the expected tree and lookups (run under Wine by the end-to-end
# tests).
add_executable(xml_probe tests/e2e/tools/xml_probe.cpp)
target_link_libraries(xml_probe PRIVATE win32port)
target_link_options(xml_probe PRIVATE -municode ${static_flags})

# Appends numbered lines to the real component log, so that the end-to-end tests can run
# several writers at once and check that every line arrives.
add_executable(logwriter tests/e2e/tools/logwriter.cpp)
target_link_libraries(logwriter PRIVATE win32port)
target_link_options(logwriter PRIVATE -municode ${static_flags})

# The demo package's installer, also run by the end-to-end tests of installation runs: logs to
# the shared component log, writes a marker file and ends with the completion code it is given.
add_executable(demoinstall demo/installer/demoinstall.cpp)
target_link_libraries(demoinstall PRIVATE win32port)
target_link_options(demoinstall PRIVATE -municode ${static_flags})

add_executable(uiprobe tests/e2e/tools/uiprobe.c)
target_link_libraries(uiprobe PRIVATE user32)
target_link_options(uiprobe PRIVATE -municode ${static_flags})
add_executable(kivagent tests/e2e/tools/kivagent.c)
target_link_options(kivagent PRIVATE -municode ${static_flags})

# expat built for wchar_t characters, static: the package document reader in stubcore gets its
# text as UTF-16.
find_library(EXPATW_STATIC NAMES libexpatw.a REQUIRED PATHS /opt/mingw-expatw/lib)
find_path(EXPATW_INCLUDE expat.h REQUIRED PATHS /opt/mingw-expatw/include NO_DEFAULT_PATH)
target_include_directories(stubcore PUBLIC ${EXPATW_INCLUDE})
target_compile_definitions(stubcore PUBLIC XML_UNICODE XML_UNICODE_WCHAR_T XML_STATIC)
target_link_libraries(stubcore PUBLIC ${EXPATW_STATIC})
