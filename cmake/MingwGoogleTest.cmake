# GoogleTest built from Debian's sources with the same mingw toolchain as the launcher.
set(QUOLVA_GTEST_SRC /usr/src/googletest/googletest)
if(NOT EXISTS ${QUOLVA_GTEST_SRC}/src/gtest-all.cc)
    message(FATAL_ERROR "GoogleTest sources not found at ${QUOLVA_GTEST_SRC} (install 'googletest')")
endif()
add_library(quolva_gtest STATIC ${QUOLVA_GTEST_SRC}/src/gtest-all.cc)
target_include_directories(quolva_gtest SYSTEM PUBLIC ${QUOLVA_GTEST_SRC}/include PRIVATE ${QUOLVA_GTEST_SRC})
find_package(Threads REQUIRED)
target_link_libraries(quolva_gtest PUBLIC Threads::Threads)
