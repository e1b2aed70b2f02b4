# Install-time part of the desktop integration: writes the desktop entry and
# the D-Bus service file with the absolute path of the installed executable.
# That path is known only now: `cmake --install --prefix` and the package
# generator choose the prefix after configuring.
# Expects KERNWELL_BUNDLE_IDENTIFIER, KERNWELL_RESOURCES, KERNWELL_BINDIR and
# KERNWELL_DATADIR (set by the install rule that includes this file).
set(KERNWELL_EXEC "${CMAKE_INSTALL_PREFIX}/${KERNWELL_BINDIR}/kernwell")
foreach(entry "applications desktop" "dbus-1/services service")
    separate_arguments(entry)
    list(GET entry 0 folder)
    list(GET entry 1 suffix)
    set(name "${KERNWELL_BUNDLE_IDENTIFIER}.${suffix}")
    set(installed "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${KERNWELL_DATADIR}/${folder}/${name}")
    message(STATUS "Installing: ${installed}")
    configure_file("${KERNWELL_RESOURCES}/${name}.in" "${installed}" @ONLY)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${installed}")
endforeach()
