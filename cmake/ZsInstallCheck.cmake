# Installs the build into a fresh prefix and checks what the installation needs: the program,
# the libraries it finds through its RPATH, the demo folder and a desktop entry naming the
# installed program. Run by CTest: cmake -DBUILD_DIR=... -P ZsInstallCheck.cmake
string(RANDOM LENGTH 8 suffix)
set(prefix "${BUILD_DIR}/install-check-${suffix}")
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
  RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()
include(GNUInstallDirs)
foreach(file ${CMAKE_INSTALL_BINDIR}/ZentrikServer ${CMAKE_INSTALL_BINDIR}/zs-extract
    ${CMAKE_INSTALL_LIBDIR}/libcadenzo.so ${CMAKE_INSTALL_LIBDIR}/libkor8api.so ${CMAKE_INSTALL_LIBDIR}/libtavolex.so
    share/zentrik/demo/zentrikServer.xml share/applications/zentrik-server.desktop
    share/icons/hicolor/scalable/apps/zentrik-server.svg)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
file(READ ${prefix}/share/applications/zentrik-server.desktop entry)
if(NOT entry MATCHES "Exec=\"${prefix}/${CMAKE_INSTALL_BINDIR}/ZentrikServer\"")
  message(FATAL_ERROR "the desktop entry does not start the installed program:\n${entry}")
endif()
if(NOT entry MATCHES "\nIcon=${prefix}/share/icons/hicolor/scalable/apps/zentrik-server.svg\n")
  message(FATAL_ERROR "the desktop entry does not show the installed icon:\n${entry}")
endif()
# The uninstall list names everything installed, the entry written at install time too.
file(STRINGS ${BUILD_DIR}/install_manifest.txt manifest)
foreach(file ${CMAKE_INSTALL_BINDIR}/ZentrikServer share/applications/zentrik-server.desktop
    share/icons/hicolor/scalable/apps/zentrik-server.svg share/zentrik/demo/zentrikServer.xml)
  list(FIND manifest "${prefix}/${file}" listed)
  if(listed EQUAL -1)
    message(FATAL_ERROR "install_manifest.txt does not list ${file}")
  endif()
endforeach()
execute_process(COMMAND ldd ${prefix}/${CMAKE_INSTALL_BINDIR}/ZentrikServer OUTPUT_VARIABLE libs)
foreach(lib cadenzo kor8api tavolex)
  if(NOT libs MATCHES "lib${lib}.so => ${prefix}/${CMAKE_INSTALL_BINDIR}/../${CMAKE_INSTALL_LIBDIR}/lib${lib}.so")
    message(FATAL_ERROR "lib${lib}.so is not taken from the installation:\n${libs}")
  endif()
endforeach()
file(REMOVE_RECURSE ${prefix})
