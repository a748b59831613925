# The replay harness: the real game played headless by a bot and by a fixed
# key script, and situations staged in real play.

# vn_replay: the runner and the bot (tools/screenshots and the benchmarks
# build the same sources). The runner works in assets/, beside the sheet.
add_library(vn_replay STATIC replay_runner.cpp bot_player.cpp)
target_link_libraries(vn_replay PUBLIC vn_shell vn_game)
target_compile_definitions(vn_replay PUBLIC VORNACKLE_ASSETS_DIR="${CMAKE_SOURCE_DIR}/assets")

add_executable(replay_tests play_frame_test.cpp play_full_game_test.cpp play_golden_test.cpp)
# The malloc wrapper goes in as objects: as a library it would come before
# the graphics code that calls it on the link line.
target_sources(replay_tests PRIVATE $<TARGET_OBJECTS:vn_seam_malloc>)
target_link_libraries(replay_tests PRIVATE vn_replay GTest::gtest GTest::gtest_main)
target_link_options(replay_tests PRIVATE -Wl,--wrap=malloc)
target_compile_definitions(replay_tests PRIVATE
  VORNACKLE_GOLDEN_DIR="${CMAKE_CURRENT_SOURCE_DIR}/golden")
gtest_discover_tests(replay_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)

# Records the golden replay anew after an intended change to the pictures.
add_custom_target(update-golden
  COMMAND ${CMAKE_COMMAND} -E env VORNACKLE_UPDATE_GOLDEN=1
          $<TARGET_FILE:replay_tests> --gtest_filter=GoldenReplay.*
  DEPENDS replay_tests
  COMMENT "Recording tests/game/golden/ anew"
  VERBATIM)
