# The Windows programs against the emulated board: tarnovidctl.exe as built and the link's guest
# checks, run under Wine inside the test kernel by run_windows_stage.sh. The emulator and the
# kernel come from the Linux build (TARNOVID_BUILD_DIR or build/ beside the sources); without them,
# or without Wine's root, the stage skips and says why.

# The link's guest checks, built for Windows; their emulators run on the Linux side of the guest.
add_library(tarnovid_guest_support STATIC board_process.cpp board_process_controlled.cpp
  guest_report.cpp)
target_include_directories(tarnovid_guest_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}
  ${PROJECT_SOURCE_DIR}/tests/support)
target_link_libraries(tarnovid_guest_support PUBLIC Qt6::Core Qt6::Test PRIVATE setupapi)
tarnovid_warnings(tarnovid_guest_support)

add_executable(tarnovid-guest-link guest_link.cpp)
target_link_libraries(tarnovid-guest-link PRIVATE tarnovid_guest_support tarnovid_link_qt
  tarnovid_link_system)
tarnovid_warnings(tarnovid-guest-link)

# The test-only cfgmgr32.dll that stands in for the configuration-manager calls Wine lacks; see
# the file. Never installed, never beside the programs that ship.
enable_language(C)
add_library(tarnovid_cfgmgr32_standin SHARED cfgmgr32_standin.c)
set_target_properties(tarnovid_cfgmgr32_standin PROPERTIES OUTPUT_NAME cfgmgr32 PREFIX ""
  C_STANDARD 11 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF)
target_link_libraries(tarnovid_cfgmgr32_standin PRIVATE setupapi ole32)
# Static: the stand-in must not pull the MinGW runtime's DLLs into the order Wine loads things.
target_link_options(tarnovid_cfgmgr32_standin PRIVATE -static-libgcc)
tarnovid_warnings(tarnovid_cfgmgr32_standin)

if(NOT TARNOVID_WINE_RUN)
  return()
endif()
add_test(NAME kernel_windows_stage
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/run_windows_stage.sh
    --source-dir ${PROJECT_SOURCE_DIR}
    --work-dir ${CMAKE_CURRENT_BINARY_DIR}/stage
    --windows-build ${CMAKE_BINARY_DIR}
    --program $<TARGET_FILE:tarnovidctl>
    --standin $<TARGET_FILE:tarnovid_cfgmgr32_standin>
    --example $<TARGET_FILE:tarnovid-running-light>
    --guest $<TARGET_FILE:tarnovid-guest-link>)
set_tests_properties(kernel_windows_stage PROPERTIES
  LABELS kernel SKIP_RETURN_CODE 77 TIMEOUT 900 RUN_SERIAL TRUE)
