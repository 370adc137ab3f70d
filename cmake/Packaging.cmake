# Installing the application as a desktop program (cmake --install) and its
# Debian package (cpack -G DEB). The user starts the launcher (bin/), which
# runs the application from its private folder through pkexec; that folder
# is also the application's work folder, with the files it reads beside it.
#
# polkitd reads actions from /usr/share/polkit-1/actions only, so the
# package installs under /usr; another prefix installs everything else but
# the action is not seen until copied there.

set(VELMORA_LINUX_DIR ${PROJECT_SOURCE_DIR}/packaging/linux)

install(TARGETS VexaLoader RUNTIME DESTINATION bin)
install(TARGETS Tamsweld RUNTIME DESTINATION ${VELMORA_APP_INSTALL_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/resources/FileType.plist
              ${PROJECT_SOURCE_DIR}/resources/UIConfig.ini
        DESTINATION ${VELMORA_APP_INSTALL_DIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/
        DESTINATION ${VELMORA_APP_INSTALL_DIR}/resources
        PATTERN "FileType.plist" EXCLUDE
        PATTERN "UIConfig.ini" EXCLUDE
        # Translation sources; their compiled tables are built into the
        # program, so nothing of the folder is installed.
        PATTERN "translations" EXCLUDE)

install(FILES ${VELMORA_LINUX_DIR}/velmora-mime.xml
        DESTINATION share/mime/packages RENAME velmora.xml)
install(FILES ${VELMORA_LINUX_DIR}/velmora.svg
        DESTINATION share/icons/hicolor/scalable/apps)
install(FILES ${VELMORA_LINUX_DIR}/application-x-velmora.svg
        DESTINATION share/icons/hicolor/scalable/mimetypes)

# The polkit action and the menu entry name the installed programs by their
# full paths, which are known only when installing (cpack and --prefix
# choose the prefix then).
install(CODE "
    set(VELMORA_APP_PATH \"\${CMAKE_INSTALL_PREFIX}/${VELMORA_APP_INSTALL_DIR}/Tamsweld\")
    set(VELMORA_LAUNCHER_PATH \"\${CMAKE_INSTALL_PREFIX}/bin/VexaLoader\")
    # A folder of this run's own: installs and cpack may run side by side.
    string(RANDOM LENGTH 12 run)
    set(generated \"${CMAKE_BINARY_DIR}/packaging/\${run}\")
    configure_file(\"${VELMORA_LINUX_DIR}/org.velmora.tamsweld.run.policy.in\"
                   \"\${generated}/org.velmora.tamsweld.run.policy\" @ONLY)
    configure_file(\"${VELMORA_LINUX_DIR}/velmora.desktop.in\"
                   \"\${generated}/velmora.desktop\" @ONLY)
    file(INSTALL \"\${generated}/org.velmora.tamsweld.run.policy\"
         DESTINATION \"\${CMAKE_INSTALL_PREFIX}/share/polkit-1/actions\")
    file(INSTALL \"\${generated}/velmora.desktop\"
         DESTINATION \"\${CMAKE_INSTALL_PREFIX}/share/applications\")
    file(REMOVE_RECURSE \"\${generated}\")
")

# What Debian asks of every package beside the programs: the copyright and
# changelog in the package's documentation folder, a manual page for each
# program, and the notes on the checks of lintian we knowingly do not meet.
# Manual pages and the changelog are installed gzip-compressed (-n: no name
# or time stamp inside, so the package is the same whenever it is made).
set(VELMORA_DEBIAN_DIR ${VELMORA_LINUX_DIR}/debian)
file(STRINGS ${VELMORA_DEBIAN_DIR}/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^velmora \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/linux/debian/changelog starts with \"${changelog_head}\": "
                        "its newest entry must be for version ${PROJECT_VERSION}")
endif()
find_program(VELMORA_GZIP gzip REQUIRED)
set(VELMORA_DOC_BUILD_DIR ${CMAKE_BINARY_DIR}/packaging/doc)
set(compressed_docs "")
foreach(page VexaLoader Tamsweld)
    configure_file(${VELMORA_LINUX_DIR}/man/${page}.1.in ${VELMORA_DOC_BUILD_DIR}/${page}.1 @ONLY)
    list(APPEND compressed_docs ${VELMORA_DOC_BUILD_DIR}/${page}.1.gz)
    add_custom_command(OUTPUT ${VELMORA_DOC_BUILD_DIR}/${page}.1.gz
        COMMAND ${VELMORA_GZIP} -9 -n -c ${VELMORA_DOC_BUILD_DIR}/${page}.1 > ${page}.1.gz
        DEPENDS ${VELMORA_DOC_BUILD_DIR}/${page}.1 WORKING_DIRECTORY ${VELMORA_DOC_BUILD_DIR} VERBATIM)
endforeach()
add_custom_command(OUTPUT ${VELMORA_DOC_BUILD_DIR}/changelog.gz
    COMMAND ${VELMORA_GZIP} -9 -n -c ${VELMORA_DEBIAN_DIR}/changelog > changelog.gz
    DEPENDS ${VELMORA_DEBIAN_DIR}/changelog WORKING_DIRECTORY ${VELMORA_DOC_BUILD_DIR} VERBATIM)
add_custom_target(velmora_package_docs ALL DEPENDS ${compressed_docs} ${VELMORA_DOC_BUILD_DIR}/changelog.gz)
install(FILES ${VELMORA_DOC_BUILD_DIR}/VexaLoader.1.gz ${VELMORA_DOC_BUILD_DIR}/Tamsweld.1.gz
        DESTINATION share/man/man1)
install(FILES ${VELMORA_DEBIAN_DIR}/copyright ${VELMORA_DOC_BUILD_DIR}/changelog.gz
        DESTINATION share/doc/velmora)
install(FILES ${VELMORA_DEBIAN_DIR}/lintian-overrides
        DESTINATION share/lintian/overrides RENAME velmora)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VENDOR "Velmora")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Finds deleted, lost and formatted-away files")
# Lines of the package's description stay under 80 columns, as dpkg shows
# them unwrapped.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Velmora scans disks, partitions, volumes and disk images for deleted, lost"
    "and formatted-away files and copies the ones you pick to another place."
    "It reads FAT, exFAT, NTFS, HFS+ and APFS volumes and finds files by their"
    "contents where the file system is gone. It only ever reads the device it"
    "scans.")
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Tamsweld developers <dev@tamsweld.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "pkexec, polkitd")
# xhost lets the program onto the display of a Wayland session.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "x11-xserver-utils")
include(CPack)
