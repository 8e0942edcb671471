# Front door: `make demo`, `make test`. Everything else is CMake underneath.
SANITIZE ?= 0
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PREFIX ?= /usr/local

ifeq ($(SANITIZE),1)
BUILD ?= build-asan
CMAKE_FLAGS += -DIVR_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
else
BUILD ?= build
CMAKE_FLAGS += -DCMAKE_BUILD_TYPE=RelWithDebInfo
endif

.PHONY: all deps configure build test demo install clean

all: build

deps:
	@sh tools/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) -DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 180

demo: build
	@sh tools/demo.sh $(BUILD)

install: build
	@cmake --install $(BUILD)

clean:
	rm -rf build build-asan build-release
