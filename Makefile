# make demo   installs what is missing, builds, and unpacks a generated sample download
# make test   installs what is missing, builds, and runs every test (native and under Wine)
# make bench  runs the benchmarks under bench/
# make fuzz   runs the fuzz targets for a longer while (FUZZ_SECONDS, default 600)

WIN_BUILD := build/win
NATIVE_BUILD := build/native
JOBS ?= 2

.PHONY: all deps build build-win build-native test demo bench fuzz clean

all: build

deps:
	@bash tools/install-deps.sh

build: build-win build-native

build-win: deps
	@cmake -S . -B $(WIN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake > /dev/null
	@cmake --build $(WIN_BUILD) -j $(JOBS)

build-native: deps
	@cmake -S . -B $(NATIVE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ > /dev/null
	@cmake --build $(NATIVE_BUILD) -j $(JOBS)

test: build
	@bash tools/run-tests.sh

demo: build
	@bash tools/demo.sh

bench: build
	@bash bench/crc.sh

clean:
	rm -rf $(WIN_BUILD) $(NATIVE_BUILD)

FUZZ_SECONDS ?= 600
fuzz: build-native
	@cmake -S . -B $(NATIVE_BUILD) -DFUZZ_SECONDS=$(FUZZ_SECONDS) > /dev/null
	@ctest --test-dir $(NATIVE_BUILD) -R '^fuzz\.' --output-on-failure
	@cmake -S . -B $(NATIVE_BUILD) -DFUZZ_SECONDS=60 > /dev/null
