# Front door of the build: installs what is missing, then drives CMake.
#
#   make play            build and start the game
#   make test            build and run every test
#   make test-sanitize   the same suite under AddressSanitizer + UBSan
#   make windows         cross-build vornackle.exe, vornackle.com and vornackle-classic.exe (mingw-w64)
#   make test-windows    the core's suites and both programs under Wine
#   make windows-package zip of both programs, the sprite sheet and a note
#   make fuzz            libFuzzer build and a bounded run (fuzz-long: 10 M executions of the replay)
#   make bench           benchmark figures (bench-smoke: each once, briefly)
#   make update-golden   record tests/game/golden/ anew (on purpose only)
#   make update-screenshots  rewrite docs/*.png
#   make install         install under PREFIX (default /usr/local)
#   make package         Debian package (.deb) through CPack
#   make test-install    install into a temporary prefix and start it there
#   make test-package    check the .deb: lintian, AppStream, manual page, desktop entry, start
#   make test-desktop    the desktop program in a real window (Xvfb): switching, scaling, CPU
#   make format / format-check
#   make web             the game as a web page (build-web/site/); serve-web serves it;
#                        BOARD_URL=https://board.example/ points it at a hall of fame
#   make test-web        the seam suites under WebAssembly, the page in chromium
#   make bench-web       the page's processor time on each screen (chromium)
#   make mutate          faults made one at a time: what the tests catch
#   make test-weight     lines of tests against lines of code
#   make serve-board     the hall of fame on this machine (SQLite, 127.0.0.1:8080)
#   make test-board      the board's API over HTTP, its load test (BOARD_DB=postgresql runs
#                        the API test against a PostgreSQL server the script starts)
#
# Each kind of build has its own folder, so they never step on each other.

JOBS ?= 2
BUILD_TYPE ?= RelWithDebInfo
BUILD_DIR ?= build
SANITIZE_DIR ?= build-sanitize
WINDOWS_DIR ?= build-windows
WINDOWS_CLASSIC_DIR ?= build-windows-classic
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
PREFIX ?= /usr/local

DEPS := scripts/install-deps.sh
CMAKE_FLAGS := -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
SOURCES = $(shell git ls-files '*.cpp' '*.h' 2>/dev/null || \
    find platform graphics game shell tests tools -name '*.cpp' -o -name '*.h')

.PHONY: all deps build sheet-tool installable play test test-sanitize windows windows-package \
    test-windows fuzz bench bench-smoke update-golden update-screenshots install package test-install test-package format format-check clean

all: build

deps:
	@$(DEPS) build test

# Configuring every time is cheap and picks up new folders and files.
build: deps
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Only the picture tool the screenshot checks need, not the whole build.
sheet-tool: deps
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j $(JOBS) --target vn_sheet_picture

# The build folder holds the program with its sprite sheet beside it.
play: build
	cd $(BUILD_DIR) && ./vornackle

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

test-sanitize:
	@$(DEPS) build test
	cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=Debug -DVORNACKLE_SANITIZE=ON
	cmake --build $(SANITIZE_DIR) -j $(JOBS)
	cd $(SANITIZE_DIR) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	    ctest --output-on-failure -j $(JOBS)

# vornackle.exe: the game on the platform core with the Win32 backend;
# vornackle-classic.exe: the game on the real DirectDraw, as it always was.
windows:
	@$(DEPS) build windows
	cmake -S . -B $(WINDOWS_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
	    -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
	cmake --build $(WINDOWS_DIR) -j $(JOBS)
	cmake -S . -B $(WINDOWS_CLASSIC_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
	    -DCMAKE_BUILD_TYPE=Release -DVORNACKLE_CLASSIC=ON
	cmake --build $(WINDOWS_CLASSIC_DIR) -j $(JOBS)
	cp $(WINDOWS_CLASSIC_DIR)/vornackle-classic.exe $(WINDOWS_DIR)/

windows-package: windows
	rm -rf $(WINDOWS_DIR)/package && mkdir -p $(WINDOWS_DIR)/package/vornackle
	cp $(WINDOWS_DIR)/vornackle.exe $(WINDOWS_DIR)/vornackle.com $(WINDOWS_DIR)/vornackle-classic.exe \
	    assets/playersprite.bmp \
	    $(WINDOWS_DIR)/package/vornackle/
	sed 's/$$/\r/' packaging/windows/README.txt >$(WINDOWS_DIR)/package/vornackle/README.txt
	cd $(WINDOWS_DIR)/package && rm -f ../vornackle-windows.zip && \
	    zip -q -r ../vornackle-windows.zip vornackle
	@echo "windows-package: $(WINDOWS_DIR)/vornackle-windows.zip"

# The core's test programs are cross-built into the same folder (not zipped);
# the Linux program is the reference for the story's pixels.
test-windows: windows sheet-tool
	@$(DEPS) build wine
	cmake -S . -B $(WINDOWS_DIR) -DBUILD_TESTING=ON
	cmake --build $(WINDOWS_DIR) -j $(JOBS)
	cmake --build $(BUILD_DIR) -j $(JOBS) --target vornackle
	scripts/test-windows.sh $(WINDOWS_DIR) $(BUILD_DIR)

# Figures under Wine for docs/PERFORMANCE.md (both programs side by side).
.PHONY: windows-figures
windows-figures: test-windows
	bench/windows_figures.sh $(WINDOWS_DIR) $(BUILD_DIR)

fuzz:
	@$(DEPS) build fuzz
	scripts/fuzz.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

# The long run of the whole replay (docs/PERFORMANCE.md): FUZZ_RUNS
# executions in all over FUZZ_WORKERS processes (1), its own build with a
# lower free work allowance.
FUZZ_LONG_DIR ?= build-fuzz-long
FUZZ_RUNS ?= 10000000
FUZZ_WORKERS ?= 1
.PHONY: fuzz-long
fuzz-long:
	@$(DEPS) build fuzz
	FUZZ_WORKERS=$(FUZZ_WORKERS) scripts/fuzz.sh --long $(FUZZ_LONG_DIR) $(FUZZ_RUNS)

# The fault sweep (tests/fault_sweep): the bot's whole session again with each
# injectable call and malloc failing at its k-th use; prints a table, fails on
# any fault. SWEEP_SANITIZE=ON builds it under AddressSanitizer + UBSan.
SWEEP_DIR ?= build-sweep
SWEEP_SANITIZE ?= OFF
SWEEP_ARGS ?=
.PHONY: fault-sweep
fault-sweep:
	@$(DEPS) build test
	cmake -S . -B $(SWEEP_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNACKLE_SANITIZE=$(SWEEP_SANITIZE)
	cmake --build $(SWEEP_DIR) -j $(JOBS) --target fault_sweep
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	    nice -n 10 $(SWEEP_DIR)/tests/fault_sweep/fault_sweep --jobs $(JOBS) $(SWEEP_ARGS)

# Figures only, from a Release build of their own; never fails on a slow
# machine. bench-smoke runs each benchmark once, briefly, to keep them working.
bench:
	@$(DEPS) build test
	bench/run.sh build-bench

bench-smoke:
	@$(DEPS) build test
	bench/run.sh --smoke build-bench

# Mutation testing (tools/mutate/, docs/TESTING.md): MUTANTS faults drawn with
# MUTANT_SEED (MUTANTS=all: every one), built and tested in build-mutate/, a
# copy of the committed sources; nothing in the working tree is touched.
# MUTATE_DIRS=server builds the hall of fame too, with its packages.
MUTANTS ?= 100
MUTANT_SEED ?= 1
.PHONY: mutate test-weight
mutate:
	@$(DEPS) build test mutate $(if $(filter server server/%,$(MUTATE_DIRS)),board)
	python3 tools/mutate/mutate.py --mutants $(MUTANTS) --seed $(MUTANT_SEED) --jobs $(JOBS)

test-weight:
	@tools/test_weight.sh

# The browser build (web/, platform/web/): WebAssembly through Debian's
# emscripten into $(WEB_DIR)/site/, a folder any static host serves.
# test-web runs the game's seam suites under node and plays the page in a
# headless chromium.
WEB_DIR ?= build-web
WEB_TESTS_DIR ?= build-web-tests
WEB_PORT ?= 8000
BOARD_URL ?=
WEB_TOOLCHAIN := /usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake
# Debian's emcc finds its JavaScript optimiser's modules through NODE_PATH;
# node's own fetch cannot load a .wasm from a file path.
WEB_ENV := NODE_PATH=/usr/share/nodejs
WEB_NODE := node;--no-experimental-fetch
.PHONY: web serve-web test-web bench-web
web:
	@$(DEPS) build web
	$(WEB_ENV) cmake -S web -B $(WEB_DIR) -DCMAKE_TOOLCHAIN_FILE=$(WEB_TOOLCHAIN) \
	    -DCMAKE_BUILD_TYPE=Release "-DVORNACKLE_BOARD_URL=$(BOARD_URL)"
	$(WEB_ENV) cmake --build $(WEB_DIR) -j $(JOBS) --target vn_site
	@echo "web: $(WEB_DIR)/site/ ($$(cd $(WEB_DIR)/site && ls | tr '\n' ' '))"

serve-web: web
	@echo "serve-web: http://localhost:$(WEB_PORT)/ (Ctrl+C stops)"
	cd $(WEB_DIR)/site && python3 -m http.server $(WEB_PORT) --bind 127.0.0.1

# The suites' build makes the same site as `make web` (the suites come after
# it and leave it as it is), so the page is tested from there: one build.
test-web:
	@$(DEPS) build web
	$(WEB_ENV) cmake -S web -B $(WEB_TESTS_DIR) -DCMAKE_TOOLCHAIN_FILE=$(WEB_TOOLCHAIN) \
	    -DCMAKE_BUILD_TYPE=Release -DVORNACKLE_WEB_TESTS=ON "-DCMAKE_CROSSCOMPILING_EMULATOR=$(WEB_NODE)"
	$(WEB_ENV) cmake --build $(WEB_TESTS_DIR) -j $(JOBS)
	cd $(WEB_TESTS_DIR) && ctest --output-on-failure -j $(JOBS)
	/usr/bin/python3 tests/web/browser_test.py $(WEB_TESTS_DIR)/site
	$(MAKE) board
	/usr/bin/python3 tests/web/board_page_test.py $(WEB_TESTS_DIR)/site $(BOARD_DIR)

# Figures, never a check: chromium's processor time on each of the page's screens.
bench-web: web
	/usr/bin/python3 bench/cpu_page.py $(WEB_DIR)/site

# On purpose only: after a change meant to alter what the game shows, record
# tests/game/golden/ anew, and rewrite the README's pictures.
update-golden: build
	cmake --build $(BUILD_DIR) --target update-golden

# The page's pictures come from the real page in chromium, with a board of
# this tree beside it.
update-screenshots: build web board
	cmake --build $(BUILD_DIR) -j $(JOBS) --target update-screenshots
	/usr/bin/python3 tools/screenshots/web_shots.py $(WEB_DIR)/site $(BOARD_DIR) docs

# Only what gets installed is built for these.
installable: deps
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j $(JOBS) --target vornackle vn_icons

install: installable
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

package: installable
	cd $(BUILD_DIR) && cpack -G DEB

test-install: installable sheet-tool
	scripts/test-install.sh $(BUILD_DIR)

test-package: package
	@$(DEPS) package
	scripts/test-package.sh $(BUILD_DIR)

# The desktop program in a real X window: --window, F11 and Alt+Enter, the
# picture's sharp scaling on screen, and each screen's processor time.
.PHONY: test-desktop
test-desktop: build
	@$(DEPS) desktop
	scripts/test-desktop-window.sh $(BUILD_DIR)

# The hall of fame (server/): the service and the game that verifies its runs,
# in a build folder of their own. serve-board keeps its runs in BOARD_DATA.
BOARD_DIR ?= build-board
BOARD_PORT ?= 8080
BOARD_DATA ?= $(BOARD_DIR)/board.sqlite
BOARD_DB ?= sqlite
.PHONY: board serve-board test-board
board:
	@$(DEPS) build board
	cmake -S . -B $(BOARD_DIR) $(CMAKE_FLAGS) -DVORNACKLE_BOARD=ON
	cmake --build $(BOARD_DIR) -j $(JOBS) --target vornackle vornackle-board

serve-board: board
	@echo "serve-board: http://127.0.0.1:$(BOARD_PORT)/ (Ctrl+C stops)"
	$(BOARD_DIR)/vornackle-board serve --db sqlite:$(BOARD_DATA) --listen 127.0.0.1:$(BOARD_PORT) \
	    --verifier $(BOARD_DIR)/vornackle $(if $(wildcard $(WEB_DIR)/site),--site $(WEB_DIR)/site)

test-board: board
	@$(DEPS) test
	cmake --build $(BOARD_DIR) -j $(JOBS) --target board_test vn_record_run $(if $(filter postgresql,$(BOARD_DB)),store_pg_test)
	$(BOARD_DIR)/server/board_test
	python3 tests/server/api_test.py $(BOARD_DIR)
	python3 tests/server/load_test.py $(BOARD_DIR)
ifeq ($(BOARD_DB),postgresql)
	@$(DEPS) board-postgres
	tests/server/with-postgres.sh sh -c '$(BOARD_DIR)/server/board_test && $(BOARD_DIR)/server/store_pg_test'
	tests/server/with-postgres.sh sh -c 'python3 tests/server/api_test.py $(BOARD_DIR) "postgresql:$$VN_BOARD_POSTGRES"'
	tests/server/with-postgres.sh python3 tests/server/two_workers_test.py $(BOARD_DIR)/vornackle-board
	tests/server/unit_check.sh $(BOARD_DIR)/vornackle-board
endif

format:
	@$(DEPS) format
	@clang-format -i $(SOURCES)
	@echo "format: $(words $(SOURCES)) files formatted"

format-check:
	@$(DEPS) format
	@clang-format --dry-run --Werror $(SOURCES)
	@echo "format-check: $(words $(SOURCES)) files follow .clang-format"

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(WINDOWS_DIR) $(FUZZ_DIR) $(FUZZ_LONG_DIR) $(SWEEP_DIR) $(SWEEP_DIR)-asan \
	    $(WEB_DIR) $(WEB_TESTS_DIR) build-bench build-mutate
