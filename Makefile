# Quick start: `make run` builds and starts the console, `make test` builds and runs every test.
# Both first install any missing Debian packages (as root, or through sudo).

BUILD      ?= build
BUILD_TYPE ?= RelWithAsserts
ARGS       ?=
DEBIAN_PACKAGES := g++ cmake ninja-build libgtest-dev libgmock-dev libbenchmark-dev python3 pkg-config

.PHONY: run test deps configure build bench sanitize sanitize-torture torture clean

deps:
	@missing=""; for p in $(DEBIAN_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  if [ "$$(id -u)" = 0 ]; then SUDO=""; else SUDO=sudo; fi; \
	  $$SUDO apt-get update -q && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -q $$missing; \
	fi

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null

build: configure
	@cmake --build $(BUILD)

run: build
	@./$(BUILD)/zor $(ARGS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j2

# The microbenchmarks, then the interpreter and lexer side by side with Lua 5.4 and Python 3.
bench: deps
	@dpkg-query -W -f='$${Status}' lua5.4 2>/dev/null | grep -q "install ok installed" || \
	  { if [ "$$(id -u)" = 0 ]; then SUDO=""; else SUDO=sudo; fi; \
	    DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -q lua5.4; }
	@cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build build-bench --target zor-bench zor
	@./build-bench/bench/zor-bench
	@python3 bench/compare/run.py build-bench/zor --transcode-bench build-bench/bench/zor-bench

# The unit tests under AddressSanitizer and UndefinedBehaviorSanitizer (the torture pass
# runs in `make test`; under the sanitizers it is `make sanitize-torture`).
sanitize: deps
	@cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZOR_SANITIZE=ON >/dev/null
	@cmake --build build-asan
	@cd build-asan && ctest --output-on-failure -j2 -LE torture

sanitize-torture: sanitize
	@cd build-asan && ZOR_GC_TORTURE=1 ctest --output-on-failure -L torture

# The collector-torture label: collects at every allocation.
torture: build
	@cd $(BUILD) && ZOR_GC_TORTURE=1 ctest --output-on-failure -j2 -L torture

clean:
	rm -rf $(BUILD) build-asan build-bench
