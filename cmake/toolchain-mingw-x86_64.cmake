# Windows x86_64 with mingw-w64's POSIX-thread compilers (the framework uses std::thread and
# std::mutex, which the win32-thread ones cannot link).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
# Installed with a QK package (beside QKConfig.cmake), the file also finds that package.
if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/QKConfig.cmake)
  get_filename_component(qk_package_prefix ${CMAKE_CURRENT_LIST_DIR}/../../.. ABSOLUTE)
  list(APPEND CMAKE_PREFIX_PATH ${qk_package_prefix})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
