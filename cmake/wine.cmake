# What every part of ours built with wineg++ shares (the Wine build of PINBUS.OCX in platform/wine,
# the Winelib programs of tests/platform/wine): Wine's tools, and one set of compile flags (the
# project's language and warnings, the platform's headers as the platform's own programs use
# them, the build type's optimisation) and include path (the adapter's headers in front of
# platform/com/'s).
find_program(WINEGXX wineg++)
find_program(WINEBUILD winebuild)
find_program(WRC wrc)

set(LENSBAY_WINE_FLAGS -std=c++${CMAKE_CXX_STANDARD} -UWINE_UNICODE_NATIVE -D_FORCENAMELESSUNION
                       -DNOMINMAX ${LENSBAY_WARNING_FLAGS})
if(CMAKE_BUILD_TYPE MATCHES "Rel")
  list(APPEND LENSBAY_WINE_FLAGS -O2 -g)
else()
  list(APPEND LENSBAY_WINE_FLAGS -O0 -g)
endif()
set(LENSBAY_WINE_INCLUDES -I${PROJECT_SOURCE_DIR}/platform/wine/include -I${PROJECT_SOURCE_DIR}
                          -I${PROJECT_BINARY_DIR}/generated)
