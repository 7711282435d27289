# Where `cmake --install` puts the programs: the Linux file-system layout
# (programs in bin, the report template in share/kestrova, menu entry,
# icons, manual pages), from which the Debian package is made. Each program
# is installed only if this tree builds it, so optional programs are
# packaged as soon as they exist. The Windows programs are packed by
# scripts/release (zip and installer) and have no install rules here.
if(WIN32)
  return()
endif()

include(GNUInstallDirs)

foreach(_program kestrova kestrova-scan kestrova-match kestrova-service)
  if(TARGET ${_program})
    install(TARGETS ${_program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${CMAKE_SOURCE_DIR}/docs/man/${_program}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endforeach()

# The service runs under systemd: its unit, and its settings as a conffile.
if(TARGET kestrova-service)
  install(FILES ${CMAKE_SOURCE_DIR}/resources/linux/kestrova-service.service
          DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/systemd/system)
  install(FILES ${CMAKE_SOURCE_DIR}/resources/linux/kestrova-service.default
          DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/default RENAME kestrova-service)
endif()

install(FILES ${CMAKE_BINARY_DIR}/driver.html DESTINATION ${CMAKE_INSTALL_DATADIR}/kestrova)

if(TARGET kestrova)
  install(FILES ${CMAKE_SOURCE_DIR}/resources/linux/kestrova.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  foreach(_size 16 32 48 64 128 256)
    install(FILES ${CMAKE_SOURCE_DIR}/resources/linux/icons/${_size}x${_size}/kestrova.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps)
  endforeach()
endif()
