# The Debian package (scripts/package-deb runs cpack -G DEB in a build made for
# the prefix /usr). Its dependencies are computed from the binaries by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestipdata)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Kest IP Data developers")
set(CPACK_PACKAGE_CONTACT "Kest IP Data maintainers <maintainers@kestipdata.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "receiver for IP data broadcast over DVB-S/DVB-S2")
# Below the summary line; CPack indents each line and turns an empty one into " .".
set(CPACK_PACKAGE_DESCRIPTION "Kest IP Data tunes a satellite card to a transponder, takes the IP
datagrams out of the MPE sections on the chosen PIDs and hands them, as
Ethernet frames, to a virtual network interface (a TAP interface).

The package holds the receiver KestIpData with its desktop entry, the
console tools kestdecode and macstamp, the kestapi library with which other
programs retune the running receiver, a system service that creates the
TAP interface of a user at boot (kestipdata-satnic@USER) and a user service
that runs the receiver without a display (kestipdata).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The adapter script needs ip; the launcher and the units a POSIX shell and systemd.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "iproute2")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qttranslations5-l10n")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# libkestapi in the library path: the dynamic linker's cache is rebuilt by trigger
# (our own maintainer scripts keep CPack from calling ldconfig in them).
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_SOURCE_DIR}/triggers
  ${CMAKE_CURRENT_SOURCE_DIR}/postinst ${CMAKE_CURRENT_SOURCE_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
include(CPack)
