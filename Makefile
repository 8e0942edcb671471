# Front door: `make demo`, `make test`. Everything else is CMake underneath.
SANITIZE ?= 0
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PREFIX ?= /usr/local
# Seconds each fuzz target runs for under `make fuzz`.
FUZZ_SECONDS ?= 60

ifeq ($(SANITIZE),1)
BUILD ?= build-asan
CMAKE_FLAGS += -DIVR_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
else
BUILD ?= build
CMAKE_FLAGS += -DCMAKE_BUILD_TYPE=RelWithDebInfo
endif

.PHONY: all deps configure build test demo install clean fuzz bench prompts deb

all: build

deps:
	@sh tools/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) -DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 180

# Only what the sample calls need: the programs and the simulator, built
# quietly (one line per step, the logs in $(BUILD)/logs/), then the calls.
demo:
	@sh tools/quiet-step.sh "build dependencies (tools/install-deps.sh)" $(BUILD)/logs/deps.log sh tools/install-deps.sh
	@sh tools/quiet-step.sh "configure $(BUILD)/" $(BUILD)/logs/configure.log \
		cmake -S . -B $(BUILD) $(CMAKE_FLAGS) -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	@sh tools/quiet-step.sh "build ivr-orvel, ivr-pelion and the back-office simulator" $(BUILD)/logs/build.log \
		cmake --build $(BUILD) -j $(JOBS) --target ivr-orvel ivr-pelion backoffice-sim
	@sh tools/demo.sh $(BUILD)

# libFuzzer targets (clang, ASan + UBSan) in build-fuzz/, each run for
# FUZZ_SECONDS; fails on a crash, leak or hang. See fuzz/run.sh.
fuzz:
	@sh tools/install-deps.sh fuzz
	@FUZZ_SECONDS=$(FUZZ_SECONDS) FUZZ_JOBS=$(JOBS) bash fuzz/run.sh

# Release build in build-release/ (no tests), then the benchmark table:
# start-up, one whole call, connections, concurrent calls, the caller's wait.
# See docs/performance.md.
bench: deps
	@cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DIVR_TESTS=OFF -DIVR_BENCH=ON >/dev/null
	@cmake --build build-release -j $(JOBS) --target ivr-orvel ivr-pelion backoffice-sim ivr_bench bench-floor bench-pool-floor bench-metrics-file bench-spool
	@sh bench/run.sh build-release

# Placeholder prompts and Portuguese digits (espeak-ng, sox) in
# $(BUILD)/prompts/, each file then checked. Texts: prompts/*.tsv.
prompts:
	@sh tools/install-deps.sh prompts
	@sh tools/make-prompts.sh $(BUILD)/prompts
	@sh tools/check-prompts.sh $(BUILD)/prompts

# The Debian package of both programs and its -dbgsym package, built by
# dpkg-buildpackage from debian/ (a hardened build of its own in
# debian/build/, man pages, placeholder prompts, systemd units), in
# $(BUILD)/: see tools/make-deb.sh.
deb:
	@sh tools/install-deps.sh deb
	@JOBS=$(JOBS) sh tools/make-deb.sh $(BUILD)

install: build
	@cmake --install $(BUILD)

clean:
	rm -rf build build-asan build-release build-fuzz
