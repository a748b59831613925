# Run by CPack between installing into the package's tree and packing it:
# the program moves from usr/bin to usr/games, where Debian puts games
# (/usr/games/../share/vornackle is still where it finds its data), and is
# stripped as dh_strip strips, without the .comment and .note sections.
set(tree ${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX})
file(MAKE_DIRECTORY ${tree}/games)
file(RENAME ${tree}/bin/vornackle ${tree}/games/vornackle)
file(GLOB left ${tree}/bin/*)
if(NOT left)
  file(REMOVE_RECURSE ${tree}/bin)
endif()
execute_process(COMMAND ${CPACK_VORNACKLE_STRIP} --remove-section=.comment --remove-section=.note
                        ${tree}/games/vornackle COMMAND_ERROR_IS_FATAL ANY)
