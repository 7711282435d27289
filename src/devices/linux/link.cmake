# Module facts and alias matching for the synthesized class keys.
find_package(PkgConfig REQUIRED)
pkg_check_modules(KESTROVA_KMOD REQUIRED IMPORTED_TARGET libkmod)
target_link_libraries(kestrova_devices PRIVATE PkgConfig::KESTROVA_KMOD)
