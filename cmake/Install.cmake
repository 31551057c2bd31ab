# Installs Tastivo like any Linux desktop program and packs it as a Debian
# package (cpack -G DEB):
#   bin/tastivo
#   share/tastivo/             the manual (tastivo.qhc, tastivo.qch)
#   share/applications/        the menu entry, which opens .wql files
#   share/icons/hicolor/       the icon, as SVG and as PNGs rendered from it
#   share/mime/packages/       the .wql file type
#   share/metainfo/            AppStream data for software centres
#   share/man/man1/tastivo.1.gz
#   share/doc/tastivo/         copyright and changelog
# The program finds the manual next to itself (a build folder) or in
# ../share/tastivo (installed), so any prefix works.

include(GNUInstallDirs)

set(TASTIVO_APP_ID org.tastivo.Tastivo)
set(TASTIVO_RELEASE_DATE 2026-12-09)
set(TASTIVO_MAINTAINER "Tastivo developers <developers@tastivo.org>"
    CACHE STRING "Maintainer named in the Debian package")

set(packaging_src ${CMAKE_SOURCE_DIR}/packaging)
set(packaging_out ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${packaging_out})

# The release date in the form the Debian changelog wants.
execute_process(COMMAND date -u -R -d "${TASTIVO_RELEASE_DATE} 12:00:00"
                OUTPUT_VARIABLE TASTIVO_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE)

configure_file(${packaging_src}/${TASTIVO_APP_ID}.metainfo.xml
               ${packaging_out}/${TASTIVO_APP_ID}.metainfo.xml @ONLY)
configure_file(${packaging_src}/tastivo.1 ${packaging_out}/tastivo.1 @ONLY)
configure_file(${packaging_src}/copyright ${packaging_out}/copyright @ONLY)
configure_file(${packaging_src}/changelog ${packaging_out}/changelog @ONLY)

find_program(TASTIVO_RSVG_CONVERT rsvg-convert REQUIRED)
find_program(TASTIVO_GZIP gzip REQUIRED)

set(icon_sizes 16 22 24 32 48 64 128 256)
set(desktop_outputs)
foreach(size IN LISTS icon_sizes)
  set(png ${packaging_out}/icons/${size}x${size}/${TASTIVO_APP_ID}.png)
  add_custom_command(
    OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${packaging_out}/icons/${size}x${size}
    COMMAND ${TASTIVO_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${packaging_src}/tastivo.svg
    DEPENDS ${packaging_src}/tastivo.svg
    COMMENT "Rendering the ${size}x${size} icon"
    VERBATIM)
  list(APPEND desktop_outputs ${png})
endforeach()
# -n keeps the time stamp out, so the package's bytes depend only on its sources.
foreach(doc tastivo.1 changelog)
  add_custom_command(
    OUTPUT ${packaging_out}/${doc}.gz
    COMMAND ${TASTIVO_GZIP} -9 -n -f -k ${packaging_out}/${doc}
    DEPENDS ${packaging_out}/${doc}
    VERBATIM)
  list(APPEND desktop_outputs ${packaging_out}/${doc}.gz)
endforeach()
add_custom_target(tastivo_desktop_data DEPENDS ${desktop_outputs})
# Building the program builds everything its installation needs.
add_dependencies(tastivo tastivo_desktop_data)

# Directories made by the installation are 0755 whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS tastivo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/tastivo.qhc ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/tastivo.qch
        DESTINATION ${CMAKE_INSTALL_DATADIR}/tastivo)
install(FILES ${packaging_src}/${TASTIVO_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${packaging_src}/tastivo.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${TASTIVO_APP_ID}.svg)
foreach(size IN LISTS icon_sizes)
  install(FILES ${packaging_out}/icons/${size}x${size}/${TASTIVO_APP_ID}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${packaging_src}/tastivo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
install(FILES ${packaging_out}/${TASTIVO_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${packaging_out}/tastivo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${packaging_out}/copyright ${packaging_out}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tastivo)

# The Debian package. Its library dependencies come from dpkg-shlibdeps; the
# list below is what the program loads at run time without linking to it:
# Qt's X11 platform plugin, the SQLite driver the help engine reads the
# manual with, the GStreamer plugins that decode clips and play them (JACK's
# sink is among the good plugins), and a General MIDI soundfont for MIDI
# clips.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tastivo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TASTIVO_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "media clip keyboard for live playback of audio and video")
# CPack puts the summary above this as the synopsis line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Tastivo is an on-screen piano keyboard whose every key holds an audio or
video clip, with a label, start and stop marks and a playback rate. Keys are
played with the mouse, the computer keyboard or the notes of a MIDI keyboard.
Several keyboard windows can run side by side, each with its own set of clips,
and windows that share a synchronization group play together. Sets are saved
as .wql files.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, libqt6sql6-sqlite, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-plugins-bad, gstreamer1.0-libav, gstreamer1.0-alsa, timgm6mb-soundfont | sf2-soundfont-gm")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gstreamer1.0-pulseaudio, gstreamer1.0-plugins-ugly, jackd2")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
