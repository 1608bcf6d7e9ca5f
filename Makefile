# Quick start: `make run` builds and starts the console, `make test` builds and runs every test.
# Both first install any missing Debian packages (as root, or through sudo).

BUILD      ?= build
BUILD_TYPE ?= RelWithAsserts
ARGS       ?=
DEBIAN_PACKAGES := g++ cmake ninja-build libgtest-dev libgmock-dev libbenchmark-dev python3 pkg-config libssl-dev python3-pexpect python3-pyte
# Only `make fuzz` needs these: the compiler of the fuzz targets and its fuzzer runtime.
FUZZ_PACKAGES := clang libclang-rt-14-dev
FUZZ_TIME ?= 600
# CTest runs this many tests at once: every core.
JOBS ?= $(shell nproc)

# Installs whichever of the Debian packages given are missing (as root, or through sudo).
define install_missing
	@missing=""; for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  if [ "$$(id -u)" = 0 ]; then SUDO=""; else SUDO=sudo; fi; \
	  $$SUDO apt-get update -q && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -q $$missing; \
	fi
endef

.PHONY: run test deps configure build bench sanitize sanitize-torture torture fuzz-deps fuzz fuzz-inflate fuzz-parse fuzz-zorbin clean

deps:
	$(call install_missing,$(DEBIAN_PACKAGES))

# WERROR=ON makes compiler warnings errors (`make test` sets it); left unset, the build
# directory keeps the setting it has.
configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(if $(WERROR),-DZOR_WERROR=$(WERROR)) >/dev/null

build: configure
	@cmake --build $(BUILD)

run: build
	@./$(BUILD)/zor $(ARGS)

# Every suite, with the collector-torture pass of the unit tests sharded and shuffled.
test: WERROR = ON
test: build
	@cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

# The microbenchmarks, then the interpreter and lexer side by side with Lua 5.4 and Python 3,
# then block growth up to 200 M appends (time and peak memory), then the line editor's and
# the real console's first prompt and a 10,000-line paste on a pseudo-terminal beside python3,
# then ZORBIN against pickle.
bench: deps
	$(call install_missing,lua5.4)
	@cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build build-bench --target zor-bench zor zor-line-editor-driver zor-zorbin-compare
	@./build-bench/bench/zor-bench
	@python3 bench/compare/run.py build-bench/zor --transcode-bench build-bench/bench/zor-bench
	@python3 bench/append_growth.py build-bench/zor
	@/usr/bin/python3 bench/line_editor_paste.py build-bench/tests/zor-line-editor-driver
	@/usr/bin/python3 bench/console_paste.py build-bench/zor
	@./build-bench/bench/zor-zorbin-compare bench/zorbin-pickle/pickle_side.py

# The unit tests under AddressSanitizer and UndefinedBehaviorSanitizer (the torture pass
# runs in `make test`; under the sanitizers it is `make sanitize-torture`).
sanitize: deps
	@cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZOR_SANITIZE=ON -DZOR_WERROR=ON >/dev/null
	@cmake --build build-asan
	@cd build-asan && ctest --output-on-failure -j$(JOBS) -LE torture

sanitize-torture: sanitize
	@cd build-asan && ZOR_GC_TORTURE=1 ctest --output-on-failure -j$(JOBS) -L torture

# The collector-torture label: collects at every allocation.
torture: build
	@cd $(BUILD) && ZOR_GC_TORTURE=1 ctest --output-on-failure -j$(JOBS) -L torture

fuzz-deps:
	$(call install_missing,$(FUZZ_PACKAGES))

# The lexer under libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer, for
# FUZZ_TIME seconds, from the seed texts in fuzz/corpus (new finds go to build-fuzz/).
fuzz: deps fuzz-deps
	@cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithAsserts -DCMAKE_CXX_COMPILER=clang++ -DZOR_FUZZ=ON >/dev/null
	@cmake --build build-fuzz --target zor-lexer-fuzz
	@mkdir -p build-fuzz/corpus/lexer build-fuzz/findings
	@./build-fuzz/fuzz/zor-lexer-fuzz build-fuzz/corpus/lexer fuzz/corpus -max_total_time=$(FUZZ_TIME) \
	  -max_len=4096 -timeout=10 -artifact_prefix=build-fuzz/findings/

# The deflate decoder (raw, zlib and gzip) under libFuzzer the same way.
fuzz-inflate: deps fuzz-deps
	@cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithAsserts -DCMAKE_CXX_COMPILER=clang++ -DZOR_FUZZ=ON >/dev/null
	@cmake --build build-fuzz --target zor-inflate-fuzz
	@mkdir -p build-fuzz/corpus/inflate build-fuzz/findings
	@./build-fuzz/fuzz/zor-inflate-fuzz build-fuzz/corpus/inflate -max_total_time=$(FUZZ_TIME) \
	  -max_len=65536 -timeout=10 -artifact_prefix=build-fuzz/findings/

# The parse dialect the same way: random rule blocks over random texts, binaries and blocks.
fuzz-parse: deps fuzz-deps
	@cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithAsserts -DCMAKE_CXX_COMPILER=clang++ -DZOR_FUZZ=ON >/dev/null
	@cmake --build build-fuzz --target zor-parse-fuzz
	@mkdir -p build-fuzz/corpus/parse build-fuzz/findings
	@./build-fuzz/fuzz/zor-parse-fuzz build-fuzz/corpus/parse -max_total_time=$(FUZZ_TIME) \
	  -max_len=512 -timeout=10 -artifact_prefix=build-fuzz/findings/

# The ZORBIN decoder the same way: hostile records in both variants, compressed or not.
fuzz-zorbin: deps fuzz-deps
	@cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithAsserts -DCMAKE_CXX_COMPILER=clang++ -DZOR_FUZZ=ON >/dev/null
	@cmake --build build-fuzz --target zor-zorbin-fuzz
	@mkdir -p build-fuzz/corpus/zorbin build-fuzz/findings
	@./build-fuzz/fuzz/zor-zorbin-fuzz build-fuzz/corpus/zorbin -max_total_time=$(FUZZ_TIME) \
	  -max_len=4096 -timeout=10 -artifact_prefix=build-fuzz/findings/

clean:
	rm -rf $(BUILD) build-asan build-bench build-fuzz
