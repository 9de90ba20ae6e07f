# SPDX-License-Identifier: ISC
# Load client of the Vantrel benchmark (bench/vantrel); the script builds
# it by itself when this file is not included.
find_package(Threads REQUIRED)
add_executable(vantrel-client vantrel-client.cpp)
target_link_libraries(vantrel-client PRIVATE Threads::Threads)
target_include_directories(vantrel-client PRIVATE ${PROJECT_SOURCE_DIR}/tests/common)
