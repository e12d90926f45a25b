# Set-up and everyday commands. See README.md.
BUILD ?= build
DEPS_PREFIX ?= $(CURDIR)/$(BUILD)/deps/prefix
JOBS ?= $(shell nproc)

.PHONY: all packages deps configure build test run bench clean

all: build

packages:
	@bash scripts/install-packages.sh

deps: packages
	@bash scripts/bootstrap-deps.sh $(DEPS_PREFIX)

configure: deps
	@[ -f $(BUILD)/CMakeCache.txt ] || cmake -S . -B $(BUILD) \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686.cmake -DMW_DEPS_PREFIX=$(DEPS_PREFIX) \
	  -DCMAKE_BUILD_TYPE=Release

build: configure
	@cmake --build $(BUILD) -j$(JOBS)

test: build
	@bash scripts/run-tests.sh $(BUILD)

run: build
	@bash scripts/run-setup.sh $(BUILD)

bench: build
	@bash scripts/run-bench.sh $(BUILD)

clean:
	rm -rf $(BUILD)
