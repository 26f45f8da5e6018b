# The Windows build: static, GUI subsystem 5.01 (XP), no time stamps.
set(QM_WINDOWS_LINK
  -static -static-libgcc -static-libstdc++
  -Wl,--major-subsystem-version,5 -Wl,--minor-subsystem-version,1
  -Wl,--major-os-version,5 -Wl,--minor-os-version,1
  -Wl,--no-insert-timestamp
  -fstack-protector-strong -Wl,--no-seh
  -Wl,--gc-sections)
add_compile_definitions(WINVER=0x0501 _WIN32_WINNT=0x0501 WIN32_LEAN_AND_MEAN NOMINMAX)

add_library(qm_win32 STATIC
  platform/win32/Win32Platform.cpp
  platform/win32/Win32ConstantsCheck.cpp
  framework/Framework.cpp)
target_link_libraries(qm_win32 PUBLIC qm_platform shell32 user32 advapi32 kernel32)

# Resources: the icon is drawn by a script of ours at build time.
set(QM_ICON ${CMAKE_BINARY_DIR}/res/launcher.ico)
add_custom_command(OUTPUT ${QM_ICON}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/res
  COMMAND python3 ${CMAKE_SOURCE_DIR}/res/make_icon.py ${QM_ICON}
  DEPENDS ${CMAKE_SOURCE_DIR}/res/make_icon.py
  COMMENT "Drawing the launcher icon")
set(ICON_PATH ${QM_ICON})
set(MANIFEST_PATH ${CMAKE_SOURCE_DIR}/res/launcher.manifest)
set(QM_VERSION ${PROJECT_VERSION}.0)
string(REPLACE "." "," QM_VERSION_COMMAS ${QM_VERSION})
configure_file(res/launcher.rc ${CMAKE_BINARY_DIR}/res/launcher.rc @ONLY)
set_source_files_properties(${CMAKE_BINARY_DIR}/res/launcher.rc PROPERTIES OBJECT_DEPENDS "${QM_ICON};${MANIFEST_PATH}")

function(qm_launcher_executable name)
  add_executable(${name} WIN32 app/MyApp.cpp ${ARGN} ${CMAKE_BINARY_DIR}/res/launcher.rc)
  target_link_libraries(${name} PRIVATE qm_app qm_win32)
  target_link_options(${name} PRIVATE ${QM_WINDOWS_LINK} -mwindows)
endfunction()

qm_launcher_executable(QuillmarkLauncher app/LauncherPlatform.cpp platform/win32/UsbLayoutCheck.cpp)


# Test helpers that run under Wine beside the launcher.
add_executable(desktop-probe tests/winhelpers/desktop_probe.cpp)
target_link_options(desktop-probe PRIVATE ${QM_WINDOWS_LINK})
target_link_libraries(desktop-probe PRIVATE user32)

# The command-line tools as Windows console programs.
add_library(qm_tools_common STATIC tools/common/Json.cpp tools/common/ToolPlatform.cpp platform/AtomicFile.cpp platform/win32/AtomicFile.cpp)
target_link_libraries(qm_tools_common PUBLIC qm_win32 advapi32)
add_executable(qmtool tools/qmtool/main.cpp tools/qmtool/Pack.cpp tools/qmtool/PeReport.cpp tools/qmtool/Digest.cpp)
target_link_libraries(qmtool PRIVATE qm_app qm_tools_common qm_win32)
target_link_options(qmtool PRIVATE ${QM_WINDOWS_LINK})
add_executable(usbscan tools/usbscan/main.cpp tools/usbscan/Details.cpp platform/win32/UsbLayoutCheck.cpp)
target_link_libraries(usbscan PRIVATE qm_app qm_usbsim qm_tools_common qm_win32)
target_link_options(usbscan PRIVATE ${QM_WINDOWS_LINK})
add_executable(msgbox-watcher tests/winhelpers/msgbox_watcher.cpp)
target_link_options(msgbox-watcher PRIVATE ${QM_WINDOWS_LINK})
target_link_libraries(msgbox-watcher PRIVATE user32)
add_executable(swapper tests/winhelpers/swapper.cpp)
target_link_options(swapper PRIVATE ${QM_WINDOWS_LINK})
add_executable(usb-client tests/winhelpers/usb_client.c)
target_link_options(usb-client PRIVATE ${QM_WINDOWS_LINK})
target_link_libraries(usb-client PRIVATE setupapi)
add_executable(demo-tool WIN32 tests/winhelpers/demo_tool.cpp)
target_link_options(demo-tool PRIVATE ${QM_WINDOWS_LINK} -mwindows)
target_link_libraries(demo-tool PRIVATE user32)

# The test USB stack: a kernel-mode driver for Wine's driver host, for i686
# and x86_64 (freestanding, ntoskrnl.exe its only import), and the helper
# that installs it into a prefix and has it read its answers
# (scripts/wine-usb.sh). Test components: never in the zip.
set(QM_DRIVER_SOURCE ${CMAKE_SOURCE_DIR}/tests/usbdriver/qmusbsim.c ${CMAKE_SOURCE_DIR}/tests/usbdriver/AnswerTable.c)
set(QM_DRIVER_FLAGS -std=c99 -O2 -Wall -Wextra -Werror -ffreestanding -fno-builtin -fno-stack-protector
  -U_FORTIFY_SOURCE -I${CMAKE_SOURCE_DIR}/tests/usbdriver -shared -nostdlib -Wl,--subsystem,native
  -Wl,--no-insert-timestamp)
foreach(arch i686 x86_64)
  set(entry DriverEntry)
  if(arch STREQUAL "i686")
    set(entry _DriverEntry@8)
  endif()
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/qmusbsim-${arch}.sys
    COMMAND ${arch}-w64-mingw32-gcc-win32 ${QM_DRIVER_FLAGS} -Wl,--entry,${entry} -o ${CMAKE_BINARY_DIR}/qmusbsim-${arch}.sys
      ${QM_DRIVER_SOURCE} -lntoskrnl -lgcc
    DEPENDS ${QM_DRIVER_SOURCE} ${CMAKE_SOURCE_DIR}/tests/usbdriver/AnswerFormat.h
      ${CMAKE_SOURCE_DIR}/tests/usbdriver/AnswerTable.h
    COMMENT "Building the test USB driver for ${arch}")
  list(APPEND QM_DRIVERS ${CMAKE_BINARY_DIR}/qmusbsim-${arch}.sys)
endforeach()
add_custom_target(usb-drivers ALL DEPENDS ${QM_DRIVERS})
add_executable(qmusbsim-setup tests/usbdriver/setup.c)
target_compile_options(qmusbsim-setup PRIVATE -municode)
target_link_options(qmusbsim-setup PRIVATE ${QM_WINDOWS_LINK} -municode)
target_link_libraries(qmusbsim-setup PRIVATE setupapi newdev advapi32)

# Benchmarks that run under Wine.
add_executable(watch-bench bench/watch_bench.cpp)
target_link_libraries(watch-bench PRIVATE qm_app qm_win32)
target_link_options(watch-bench PRIVATE ${QM_WINDOWS_LINK})

# Every Windows program seeds its stack guard itself and ends at once on an
# uncaught exception (StackGuard.cpp and Terminate.cpp say why).
get_property(QM_WINDOWS_TARGETS DIRECTORY ${CMAKE_SOURCE_DIR} PROPERTY BUILDSYSTEM_TARGETS)
foreach(target ${QM_WINDOWS_TARGETS})
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    target_sources(${target} PRIVATE platform/win32/StackGuard.cpp platform/win32/Terminate.cpp)
  endif()
endforeach()
