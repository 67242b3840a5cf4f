# The Windows registry reader compiled with mingw-w64 where it is installed.
add_test(NAME about_windows_check COMMAND ${PROJECT_SOURCE_DIR}/scripts/windows-check)
