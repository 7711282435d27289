# Module facts and alias matching for the synthesized class keys: libkmod's
# header at build time; the library itself is opened when a scan needs it.
find_package(PkgConfig REQUIRED)
pkg_check_modules(KESTROVA_KMOD REQUIRED libkmod)
target_include_directories(kestrova_devices PRIVATE ${KESTROVA_KMOD_INCLUDE_DIRS})
target_link_libraries(kestrova_devices PRIVATE ${CMAKE_DL_LIBS})
