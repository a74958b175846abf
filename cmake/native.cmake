# Native build: core + emulating test backend + unit tests, under AddressSanitizer and
# UndefinedBehaviorSanitizer unless SETUPSTUB_SANITIZE is switched off.
option(SETUPSTUB_SANITIZE "Build the native tree with ASan and UBSan" ON)
if(SETUPSTUB_SANITIZE)
  set(san -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_compile_options(stubcore PUBLIC ${san})
  target_link_options(stubcore PUBLIC ${san})
endif()
target_compile_options(stubcore PRIVATE -Wall -Wextra)

add_library(testenv STATIC src/platform/testenv/test_platform.cpp src/platform/testenv/test_wmi.cpp)
target_link_libraries(testenv PUBLIC stubcore)

enable_testing()
find_package(GTest REQUIRED)
file(GLOB UNIT_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp)
add_executable(unit_tests ${UNIT_TEST_SOURCES})
target_link_libraries(unit_tests PRIVATE testenv GTest::gtest GTest::gtest_main)
target_compile_definitions(unit_tests PRIVATE SETUPSTUB_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data")
include(GoogleTest)
gtest_discover_tests(unit_tests DISCOVERY_TIMEOUT 60)
