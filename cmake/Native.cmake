# The native build: unit tests against the fake platform, the command-line
# tools on the host platform, benchmarks and fuzz targets.
option(QM_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(QM_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
if(QM_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

if(QM_FUZZ)
  # Fuzz targets only: every library instrumented for libFuzzer and the sanitizers.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
  add_library(qm_fake STATIC tests/fake/FakePlatform.cpp platform/host/HostPlatform.cpp)
  target_link_libraries(qm_fake PUBLIC qm_platform)
  foreach(target container_fuzz usb_fuzz pack_fuzz usbsim_fuzz)
    add_executable(${target} fuzz/${target}.cpp)
    target_link_libraries(${target} PRIVATE qm_app qm_usbsim qm_fake)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  endforeach()
  target_sources(container_fuzz PRIVATE tools/qmtool/PeReport.cpp tools/qmtool/Digest.cpp)
  # The test USB driver's reader, from the driver's own source.
  add_executable(driver_fuzz fuzz/driver_fuzz.cpp tests/usbdriver/AnswerTable.c)
  target_link_options(driver_fuzz PRIVATE -fsanitize=fuzzer)
  return()
endif()

enable_testing()
find_package(GTest REQUIRED)

add_library(qm_fake STATIC tests/fake/FakePlatform.cpp)
target_link_libraries(qm_fake PUBLIC qm_platform)

add_executable(unit_tests
  tests/unit/startup_test.cpp
  tests/unit/container_test.cpp
  tests/unit/writer_test.cpp
  tests/unit/usb_test.cpp
  tests/unit/usbsim_test.cpp
  tests/unit/launcher_test.cpp
  tests/usbdriver/AnswerTable.c)
target_link_libraries(unit_tests PRIVATE qm_app qm_usbsim qm_fake GTest::gtest GTest::gtest_main)
target_compile_definitions(unit_tests PRIVATE QM_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
include(GoogleTest)
gtest_discover_tests(unit_tests)

# --- command-line tools on the host platform ---
add_library(qm_host STATIC platform/host/HostPlatform.cpp platform/AtomicFile.cpp platform/host/AtomicFile.cpp)
add_library(qm_tools_common STATIC tools/common/Json.cpp tools/common/ToolPlatform.cpp)
target_link_libraries(qm_tools_common PUBLIC qm_host)
target_link_libraries(qm_host PUBLIC qm_platform)
target_link_libraries(qm_fake PUBLIC qm_host)

add_executable(qmtool tools/qmtool/main.cpp tools/qmtool/Pack.cpp tools/qmtool/PeReport.cpp tools/qmtool/Digest.cpp)
target_link_libraries(qmtool PRIVATE qm_app qm_tools_common)

# --- benchmarks: they print their figures ---
add_executable(container_bench bench/container_bench.cpp)
target_link_libraries(container_bench PRIVATE qm_container qm_host)

# The test USB driver's answers, from a description (a test tool; never shipped).
add_executable(usbsim-answers tests/usbdriver/answers_main.cpp)
target_link_libraries(usbsim-answers PRIVATE qm_usbsim qm_host)

add_executable(usbsim-replies tests/usbdriver/replies_main.cpp)
target_link_libraries(usbsim-replies PRIVATE qm_usbsim qm_host)

add_executable(usbsim-generate tests/usbdriver/generate_main.cpp)
target_link_libraries(usbsim-generate PRIVATE qm_usbsim)

add_executable(usbscan tools/usbscan/main.cpp tools/usbscan/Details.cpp)
target_link_libraries(usbscan PRIVATE qm_app qm_usbsim qm_tools_common)
add_executable(usb_bench bench/usb_bench.cpp)
target_link_libraries(usb_bench PRIVATE qm_usb qm_usbsim qm_host)
