# The program itself as an x86_64 build, with the shipped program's own
# runtime: no MinGW start-up code, no C or C++ runtime library. The tests
# that start the program run it on a machine that cannot execute 32-bit
# code, so the program's own start-up is tried everywhere.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-x86_64.cmake)
set(TAVOK_OWN_RUNTIME ON)
