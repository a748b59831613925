# Install layout and the Debian package.
#
#   bin/vornackle                 (games/vornackle in the Debian package)
#   share/vornackle/playersprite.bmp
#   share/doc/vornackle/FONT-LICENSE (the text's glyphs are DejaVu Sans Bold's)
#   share/doc/vornackle/copyright, changelog.gz
#   share/man/man6/vornackle.6.gz
#   share/metainfo/invalid.vornackle.vornackle.metainfo.xml
#   share/applications/vornackle.desktop
#   share/icons/hicolor/{96x96,192x192}/apps/vornackle.png
#
# The program looks for its data beside itself first, then in
# ../share/vornackle, so any prefix works without configuration, and so
# does Debian's /usr/games beside /usr/share.

include(GNUInstallDirs)

# Installing and packaging build only what they install (make install and
# make package build those targets first), not the tests and benchmarks.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

# The icons are the first basket frame, cut from the sheet by our own tool.
add_executable(vn_sheet_picture ${CMAKE_SOURCE_DIR}/tools/sheet_picture.cpp)
set(VORNACKLE_ICON_DIR ${CMAKE_BINARY_DIR}/icons)
set(VORNACKLE_ICON_SIZES 96 192)
set(VORNACKLE_ICONS)
foreach(size IN LISTS VORNACKLE_ICON_SIZES)
  set(icon ${VORNACKLE_ICON_DIR}/${size}x${size}/vornackle.png)
  add_custom_command(OUTPUT ${icon}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${VORNACKLE_ICON_DIR}/${size}x${size}
                     COMMAND vn_sheet_picture icon ${VORNACKLE_SHEET} ${size} ${icon}
                     DEPENDS vn_sheet_picture ${VORNACKLE_SHEET}
                     COMMENT "Icon ${size}x${size} from the basket frame"
                     VERBATIM)
  list(APPEND VORNACKLE_ICONS ${icon})
  install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_target(vn_icons ALL DEPENDS ${VORNACKLE_ICONS})

install(TARGETS vornackle RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${VORNACKLE_SHEET} DESTINATION ${CMAKE_INSTALL_DATADIR}/vornackle)
# The program carries glyphs drawn from DejaVu Sans Bold; its licence goes
# with every copy.
install(FILES ${CMAKE_SOURCE_DIR}/platform/core/GLYPH_FONT_LICENSE
        DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME FONT-LICENSE)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/vornackle.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

# The copyright, the changelog (from the git history), the manual page and
# the AppStream metadata are written when installing, so they always match
# the commit being installed; packaging/make-docs.sh says from what.
set(VORNACKLE_DOCS ${CMAKE_BINARY_DIR}/package-docs)
set(VORNACKLE_MAINTAINER "Vornackle Team <team@vornackle.invalid>")
install(CODE "execute_process(COMMAND \"${CMAKE_SOURCE_DIR}/packaging/make-docs.sh\"
    \"${CMAKE_SOURCE_DIR}\" \"${VORNACKLE_DOCS}\" ${PROJECT_VERSION} ${PROJECT_HOMEPAGE_URL}
    \"${VORNACKLE_MAINTAINER}\" COMMAND_ERROR_IS_FATAL ANY)")
install(FILES ${VORNACKLE_DOCS}/copyright ${VORNACKLE_DOCS}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${VORNACKLE_DOCS}/vornackle.6.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
install(FILES ${VORNACKLE_DOCS}/invalid.vornackle.vornackle.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The manual page names every option and key that --help prints, and no other.
if(BUILD_TESTING)
  add_test(NAME manual_page_matches_help
           COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-manual-page.sh $<TARGET_FILE:vornackle>
                   ${CMAKE_SOURCE_DIR}/packaging/vornackle.6)
  # The changelog's entries on a history with version tags.
  add_test(NAME package_changelog_from_tags COMMAND ${CMAKE_SOURCE_DIR}/packaging/test-make-docs.sh)
endif()

# Relocations read-only before the program starts, as Debian builds programs.
target_link_options(vornackle PRIVATE LINKER:-z,relro,-z,now)

# make package: a .deb that depends on Debian's runtime libraries.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vornackle)
set(CPACK_PACKAGE_VENDOR "Vornackle Team")
set(CPACK_PACKAGE_CONTACT ${VORNACKLE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "arcade game: catch the falling jewels in a basket")
# Lines kept under 80 columns, as Debian's tools show them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
       "Vornackle is a small full-screen arcade game in 640x480 with 256 colours."
       "Move the basket left and right to catch the jewels falling from the top of"
       "the screen. Five timed levels each set an objective and a points value for"
       "each jewel colour; some colours cost points or end the attempt at once."
       "Finishing all five levels shows the total time, and the best total of the"
       "session is shown on the title screen.")
set(CPACK_PACKAGE_FILE_NAME "vornackle_${PROJECT_VERSION}_amd64")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VORNACKLE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PROJECT_HOMEPAGE_URL})
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
# dpkg-shlibdeps names the libraries the program links (SDL2, libcurl, the C and C++
# runtimes) with their minimum versions; the text's glyphs are in the program.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Debian puts games in /usr/games and strips them as dh_strip does; the
# package's tree is rearranged after installing into it (packaging/deb-tree.cmake).
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/packaging/deb-tree.cmake)
set(CPACK_VORNACKLE_STRIP ${CMAKE_STRIP})
include(CPack)
