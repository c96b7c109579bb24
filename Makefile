# The two commands that matter: `make run` and `make test`. Both install what is
# missing first, so they work on a fresh Debian machine.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS       ?= $(shell nproc)
# The browser build: the site in WEB_BUILD, the libraries built once from
# Debian's sources in WEB_DEPS, the content tables from a desktop build.
WEB_BUILD  ?= build-web
WEB_DEPS   ?= build-webdeps
WEB_CONTENT_BUILD ?= $(BUILD)
WEB_SHOTS  ?= $(WEB_BUILD)-shots
EMENV      := NODE_PATH=/usr/share/nodejs

.PHONY: all setup configure build run test test-asan bench e2e package fuzz clean web test-web

all: build

setup:
	@scripts/setup

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja

configure: $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: setup build
	cd $(BUILD) && ./tamblo

test: setup build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: setup
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAMBLO_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  ctest --output-on-failure -j $(JOBS) -LE e2e

bench: setup build
	@for b in $(BUILD)/bench/bench_*; do if [ -x "$$b" ]; then "$$b" || exit 1; fi; done
	bench/desktop_footprint $(BUILD)/tamblo
	node bench/web_footprint.mjs $(WEB_BUILD) $(BUILD)

e2e: setup build
	cd $(BUILD) && ctest --output-on-failure -L e2e

# The Debian package, build/tamblo_<version>-1_<arch>.deb, from what build/ holds.
package: setup build
	cd $(BUILD) && cpack -G DEB

fuzz: setup
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DTAMBLO_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@for f in $(FUZZ_BUILD)/fuzz/fuzz_*; do \
	  name=$$(basename $$f); mkdir -p fuzz/corpus-work/$$name; \
	  echo "fuzzing $$name for $(FUZZ_SECONDS) s"; \
	  $$f -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=2048 \
	    fuzz/corpus-work/$$name fuzz/corpus/$$name || exit 1; \
	done

web: setup
	$(EMENV) scripts/build-web-deps $(WEB_DEPS)
	@[ -f $(WEB_CONTENT_BUILD)/build.ninja ] || cmake -S . -B $(WEB_CONTENT_BUILD) -G Ninja
	cmake --build $(WEB_CONTENT_BUILD) --target tamblo_content_tables -j $(JOBS)
	@grep -qx 'TAMBLO_WEB_CONTENT:PATH=$(abspath $(WEB_CONTENT_BUILD))' $(WEB_BUILD)/.build/CMakeCache.txt 2>/dev/null || \
	  $(EMENV) emcmake cmake -S . -B $(WEB_BUILD)/.build -G Ninja \
	  -DCMAKE_BUILD_TYPE=Release -DTAMBLO_WEB_DEPS=$(abspath $(WEB_DEPS))/prefix \
	  -DTAMBLO_WEB_SITE=$(abspath $(WEB_BUILD)) -DTAMBLO_WEB_CONTENT=$(abspath $(WEB_CONTENT_BUILD))
	$(EMENV) cmake --build $(WEB_BUILD)/.build -j $(JOBS)

# The page in headless chromium, beside the desktop program on the same seed.
test-web: web
	cmake --build $(WEB_CONTENT_BUILD) --target tamblo -j $(JOBS)
	node tests/web/test_web.mjs $(WEB_BUILD) $(WEB_CONTENT_BUILD)/tamblo $(WEB_SHOTS)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(WEB_BUILD) $(WEB_SHOTS)
