# The example host program on its own, built against the installed packages:
#   cmake -S /usr/share/doc/libkorcore-dev/examples/hostexample -B build && cmake --build build
cmake_minimum_required(VERSION 3.22)
project(KorExample LANGUAGES CXX)
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_AUTOMOC ON)
find_package(KorCore CONFIG REQUIRED)
add_executable(Kor.Example main.cpp)
target_link_libraries(Kor.Example PRIVATE Kor::Core)
