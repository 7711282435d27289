# The kernel log from the systemd journal for the setup-log excerpt.
find_package(PkgConfig REQUIRED)
pkg_check_modules(KESTROVA_SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
target_link_libraries(kestrova_files PRIVATE PkgConfig::KESTROVA_SYSTEMD)
