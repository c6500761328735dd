# cmake -DROOT=<DESTDIR> -DBUILD_DIR=<build folder> -P InstallTree.cmake
# A fresh install of the build under the prefix /usr into DESTDIR ROOT.
file(REMOVE_RECURSE "${ROOT}")
execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${ROOT} ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "install failed: ${result}")
endif()
