# Installing the softphone as a desktop application, and the Debian package made from that
# install by CPack (`cpack -G DEB` in the build folder). The program, its sounds and its icons
# are installed where they are built (app/, res/); this file adds what the desktop and the
# package system need around them.
if(NOT ORVANE_WITH_ENGINE)
    return() # no program, nothing to install
endif()

include(GNUInstallDirs)

set(ORVANE_APP_ID com.orvanephone.Softphone)
# Packages and the desktop's metadata name three-part versions.
if(PROJECT_VERSION_PATCH STREQUAL "")
    set(ORVANE_PACKAGE_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.0)
else()
    set(ORVANE_PACKAGE_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
endif()

set(_pkg ${CMAKE_CURRENT_LIST_DIR})
set(_out ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${_out})

# Compressed without name or time stamp (-n), so the same sources give the same bytes.
function(orvane_gzip source output)
    add_custom_command(
        OUTPUT ${output}
        COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" sh ${source} ${output}
        DEPENDS ${source}
        COMMENT "Compressing ${source}"
        VERBATIM)
endfunction()
orvane_gzip(${_pkg}/orvane-softphone.1 ${_out}/orvane-softphone.1.gz)
orvane_gzip(${_pkg}/changelog ${_out}/changelog.gz)
add_custom_target(orvane_packaging_files ALL DEPENDS ${_out}/orvane-softphone.1.gz ${_out}/changelog.gz)

install(FILES ${_pkg}/${ORVANE_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_pkg}/${ORVANE_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${_out}/orvane-softphone.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${_pkg}/copyright ${_out}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The Debian package. Its dependencies come from the program's real shared-library needs
# (dpkg-shlibdeps), not from a list kept by hand.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvane-softphone)
set(CPACK_PACKAGE_VERSION ${ORVANE_PACKAGE_VERSION})
set(CPACK_PACKAGE_VENDOR "Orvane Softphone developers")
set(CPACK_PACKAGE_CONTACT "Orvane Softphone developers <softphone@orvanephone.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "SIP softphone for the Orvane prepaid calling service")
# Lines of at most 80 characters, for the terminals that show them.
set(CPACK_PACKAGE_DESCRIPTION
    "A desktop telephone for the customers of the Orvane prepaid calling\n"
    "service. It logs in with user name and password, places and answers audio\n"
    "calls, sends tones to voice menus, keeps lists of dialled, received and\n"
    "missed calls and a phone book, and shows the prepaid balance. It opens\n"
    "sip:, sips:, tel: and callto: links.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Folders 0755 whatever the umask of whoever builds the package.
set(CPACK_PRE_BUILD_SCRIPTS ${_pkg}/DebianPermissions.cmake)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://www.orvanephone.com/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# QtKeychain reaches the desktop's keyring through libsecret, which it loads at run time: the
# library scan cannot see it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libsecret-1-0")
# Once the sound server restarts, the phone reaches the new one through ALSA's "default"
# device: on a desktop one of these routes it to the sound server (a clean install without
# them plays no sound again until the phone restarts).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-alsa")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
