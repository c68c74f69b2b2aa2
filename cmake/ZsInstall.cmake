# Installation: `cmake --install build --prefix DIR` puts the program and zs-extract in
# DIR/bin, the three control libraries in DIR/lib (found by the program through its RPATH),
# the demo program folder in DIR/share/zentrik/demo, the program's icon in DIR/share/icons and a
# desktop entry in DIR/share/applications that starts the installed program and shows the icon.
include(GNUInstallDirs)

# The bus library and the headless driver build without the windows; the rest needs them.
set(libraries kor8api)
set(programs zs-extract)
if(ZS_WITH_GUI)
  list(APPEND libraries cadenzo tavolex)
  list(APPEND programs ZentrikServer)
endif()

install(TARGETS ${libraries} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
set_target_properties(${programs} PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
install(TARGETS ${programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(DIRECTORY ${PROJECT_SOURCE_DIR}/demo/ DESTINATION ${CMAKE_INSTALL_DATADIR}/zentrik/demo
  PATTERN "make-demo-db" EXCLUDE)

if(ZS_WITH_GUI)
  install(FILES ${PROJECT_SOURCE_DIR}/server/shell/zentrik-server.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  # Written at install time, so the entry names the prefix given to `cmake --install`.
  install(CODE "
    set(entry \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/applications/zentrik-server.desktop\")
    file(WRITE \"\${entry}\" \"[Desktop Entry]
Type=Application
Name=Zentrik Server
Comment=Server di dati per la business intelligence
Exec=\\\"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/ZentrikServer\\\"
Icon=\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps/zentrik-server.svg
Terminal=false
Categories=Office;Database;
\")
    message(STATUS \"Installing: \${entry}\")
    # Listed with the rest in install_manifest.txt, so an uninstall by that list takes it too.
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${entry}\")
  ")

  add_test(NAME zs_install COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR}
    -P ${PROJECT_SOURCE_DIR}/cmake/ZsInstallCheck.cmake)
  set_tests_properties(zs_install PROPERTIES LABELS "shell" TIMEOUT 120)
endif()
