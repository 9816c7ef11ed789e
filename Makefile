# Thin wrapper: the commands the README names.
.PHONY: play build test bench bench-build bench-compare bench-server-compare windows windows-smoke install \
	install-server package server-package windows-package package-check quick fuzz fuzz-merge \
	coverage web web-test screenshot server serve messages clean

# Installs the Debian packages a target needs, when some are missing (see the script).
NEEDS = tools/prerequisites.sh

# Where `make install` puts the game (below DESTDIR, when that is set).
PREFIX ?= /usr/local

# How long `make fuzz` runs each fuzz target.
FUZZ_SECONDS ?= 60

# Warnings are errors in the builds of developers (tests, benchmark, fuzzers); the builds that
# players and packagers make (play, install, packages, the server, the page) take WERROR=ON only
# when asked, as CI does.
WERROR ?= OFF

# Builds a tree quietly: a line when there is work, the output only when it fails (see the script).
QUIET_BUILD = tools/quiet_build.sh

build:
	@$(NEEDS) play
	@$(QUIET_BUILD) numoteka build/release cmake -S . -B build/release -G Ninja \
		-DCMAKE_BUILD_TYPE=Release -DNUMOTEKA_TESTS=OFF -DNUMOTEKA_WERROR=$(WERROR) \
		-DCMAKE_INSTALL_PREFIX=$(PREFIX)

play: build
	@./build/release/numoteka

# The test build: Debug, AddressSanitizer and UndefinedBehaviorSanitizer, the world ranking's
# server and its tests among the rest.
TEST_BUILD = cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DNUMOTEKA_SANITIZE=ON \
	-DNUMOTEKA_TESTS=ON -DNUMOTEKA_SERVER=ON -DNUMOTEKA_WERROR=ON

test:
	$(NEEDS) test server
	$(TEST_BUILD)
	cmake --build build/test
	ctest --test-dir build/test --output-on-failure

# The benchmark on the shipped (Release) build; BENCH_ARGS go to Google Benchmark. Then the world
# ranking's server (Release) under load from wrk, SERVER_BENCH_SECONDS for each case.
SERVER_BENCH_SECONDS ?= 5
bench: bench-build server
	./build/bench/numoteka_bench $(BENCH_ARGS)
	python3 bench/server_load.py $(SERVER_BENCH_SECONDS) build/server/numoteka-server

bench-build:
	$(NEEDS) bench
	cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DNUMOTEKA_TESTS=OFF -DNUMOTEKA_BENCH=ON \
		-DNUMOTEKA_WERROR=ON
	cmake --build build/bench

# The benchmark of the commit BASE built beside this one, both run in turns ROUNDS times.
BASE ?= HEAD~1
ROUNDS ?= 7
bench-compare: bench-build
	rm -rf build/bench-base
	mkdir -p build/bench-base/src
	git archive $(BASE) | tar -x -C build/bench-base/src
	cmake -S build/bench-base/src -B build/bench-base/build -G Ninja -DCMAKE_BUILD_TYPE=Release -DNUMOTEKA_TESTS=OFF -DNUMOTEKA_BENCH=ON \
		-DNUMOTEKA_WERROR=OFF
	cmake --build build/bench-base/build
	python3 bench/compare.py build/bench-base/build/numoteka_bench build/bench/numoteka_bench $(ROUNDS)

# The server of the commit BASE (Release) beside this one's, in one run: both started, each load
# case taken by each in turn, SERVER_ROUNDS times, the median of each shown.
SERVER_ROUNDS ?= 3
bench-server-compare: server
	$(NEEDS) bench
	rm -rf build/bench-base-server
	mkdir -p build/bench-base-server/src
	git archive $(BASE) | tar -x -C build/bench-base-server/src
	cmake -S build/bench-base-server/src -B build/bench-base-server/build -G Ninja \
		-DCMAKE_BUILD_TYPE=Release -DNUMOTEKA_TESTS=OFF -DNUMOTEKA_SERVER=ON -DNUMOTEKA_WERROR=OFF
	cmake --build build/bench-base-server/build --target numoteka-server
	python3 bench/server_load.py $(SERVER_BENCH_SECONDS) --rounds $(SERVER_ROUNDS) \
		base=build/bench-base-server/build/numoteka-server this=build/server/numoteka-server

# numoteka.exe for Windows, cross-compiled with MinGW-w64.
windows:
	$(NEEDS) windows
	cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release -DNUMOTEKA_TESTS=OFF \
		-DNUMOTEKA_WERROR=$(WERROR)
	cmake --build build/windows

# The game with its pauses shortened, from the test build: the checks replay games with it.
quick:
	$(NEEDS) test server
	$(TEST_BUILD)
	cmake --build build/test --target numoteka_quick

# The .exe under Wine, checked against the Linux build.
windows-smoke: windows quick
	python3 tests/wine_smoke_test.py build/windows/numoteka.exe build/test/numoteka_quick

# The game; and the world ranking's server with its page, when make server has built it (the page
# comes from make web: make install-server runs both first).
SERVER_INSTALL = cmake --build build/server && DESTDIR="$(DESTDIR)" cmake --install build/server \
	--component server --prefix $(PREFIX)
install: build
	DESTDIR="$(DESTDIR)" cmake --install build/release
	if [ -f build/server/build.ninja ]; then $(SERVER_INSTALL); fi

install-server: web server
	$(SERVER_INSTALL)

# build/release/numoteka-<version>-Linux.tar.gz and numoteka_<version>_<arch>.deb.
package: build
	$(NEEDS) package
	cmake --build build/release --target package

# build/server/numoteka-server_<version>_<arch>.deb: the server, its unit and the page of make web.
server-package: web server
	$(NEEDS) package
	cmake --build build/server --target server_package

# build/windows/numoteka-<version>-win64.zip.
windows-package: windows
	cmake --build build/windows --target package

# Each package unpacked into a scratch folder and played from there; the server's started from
# there, with both .debs, and its page compared with build/web.
package-check: package server-package windows-package quick
	python3 tests/package_check.py build/release build/windows build/test/numoteka_quick \
		build/server build/web

# The fuzz targets with libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer (clang), each
# run for FUZZ_SECONDS; a crash fails, and its input stays in build/fuzz/crashes/<target>/.
fuzz:
	$(NEEDS) fuzz server
	cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DCMAKE_CXX_COMPILER=clang++ -DNUMOTEKA_FUZZ=ON -DNUMOTEKA_TESTS=OFF -DNUMOTEKA_SERVER=ON \
		-DNUMOTEKA_WERROR=ON
	cmake --build build/fuzz
	fuzz/run_fuzzers.sh build/fuzz $(FUZZ_SECONDS)

# What the last `make fuzz` found, merged into fuzz/corpus, minimised.
fuzz-merge:
	$(NEEDS) fuzz server
	fuzz/run_fuzzers.sh --merge build/fuzz

# Line and branch coverage of src/ by every test (the fuzz corpora replayed among them),
# without sanitizers. The report shows even when a test fails; the failure still fails make.
coverage:
	$(NEEDS) test coverage
	cmake -S . -B build/coverage -G Ninja -DCMAKE_BUILD_TYPE=Debug -DNUMOTEKA_COVERAGE=ON \
		-DNUMOTEKA_TESTS=ON -DNUMOTEKA_WERROR=ON
	cmake --build build/coverage
	find build/coverage -name '*.gcda' -delete
	ctest --test-dir build/coverage --output-on-failure; status=$$?; \
	gcovr --root . --filter src/ --exclude-throw-branches --exclude-unreachable-branches \
		--sort-percentage build/coverage && \
	gcovr --root . --filter src/ --exclude-throw-branches --exclude-unreachable-branches \
		--sort-percentage --branches build/coverage && \
	exit $$status

# The page's npm packages (xterm.js) at the versions web/package-lock.json pins, installed again
# only when the lock file is newer than what npm last installed from it.
NODE_MODULES = web/node_modules/.package-lock.json
$(NODE_MODULES): web/package-lock.json
	$(NEEDS) web
	cd web && npm ci --no-audit --no-fund
	touch $@

# The game in a web page, in build/web: WebAssembly built with Emscripten's CMake toolchain,
# and xterm.js. Debian's Emscripten finds the modules of its JavaScript tools through NODE_PATH.
web: export NODE_PATH := /usr/share/nodejs
web: $(NODE_MODULES)
	@$(NEEDS) web
	@$(QUIET_BUILD) "the web page" build/web-cmake emcmake cmake -S . -B build/web-cmake -G Ninja \
		-DCMAKE_BUILD_TYPE=MinSizeRel -DNUMOTEKA_WERROR=$(WERROR)

# The page's line editor in Node alone, then the page in headless Chromium, checked against the
# native game; with the server built (make server), the world ranking on the page it serves as
# well.
web-test: web quick
	node --test web/test/line_editor_test.mjs
	if [ -f build/server/build.ninja ]; then cmake --build build/server; fi
	node web/test/web_test.mjs build/web build/test/numoteka_quick build/web-cmake/page \
		$(wildcard build/server/numoteka-server)

# doc/board.png, the README's picture of the board: the web page in headless Chromium, a fixed
# game played to a fixed turn.
screenshot: web quick
	node tools/screenshot.mjs build/web build/test/numoteka_quick doc/board.png

# numoteka-server, the world ranking of the daily game (Release), in build/server.
server:
	@$(NEEDS) play server
	@$(QUIET_BUILD) numoteka-server build/server cmake -S . -B build/server -G Ninja \
		-DCMAKE_BUILD_TYPE=Release -DNUMOTEKA_TESTS=OFF -DNUMOTEKA_SERVER=ON -DNUMOTEKA_WERROR=$(WERROR)

# The page and the server, started on http://localhost:$(SERVE_PORT)/ with the database
# build/numoteka.db; Ctrl-C stops it.
SERVE_PORT ?= 8080
serve: web server
	./build/server/numoteka-server --port $(SERVE_PORT) --database build/numoteka.db --web build/web

# The catalogue of messages: its template, po/numoteka.pot, made again from the sources' texts and
# merged into each translation, where a new text waits empty (or fuzzy, beside a text like it)
# for its translation; until it has one, the game does not build.
messages:
	$(NEEDS) test
	python3 tools/extract_messages.py . po/numoteka.pot
	for po in po/*.po; do \
		msgmerge --quiet --update --backup=none --no-wrap --add-location=file $$po po/numoteka.pot; \
	done

clean:
	rm -rf build
