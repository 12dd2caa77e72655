# make demo   installs what is missing, builds, and unpacks a generated sample download
# make test   installs what is missing, builds, and runs every test (native and under Wine)
# make dist   builds the release bundle dist/ravelpak-VERSION.zip
# make bench  runs the benchmarks under bench/
# make fuzz   runs each fuzz target for a longer while (FUZZ_SECONDS, default 600)
# make screenshots  saves pictures of the settings dialog (English, Chinese) under docs/

WIN_BUILD := build/win
NATIVE_BUILD := build/native
JOBS ?= 2

.PHONY: all deps build build-win build-native test demo dist bench fuzz screenshots clean

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

dist: build-win
	@ls dist/ravelpak-*.zip

bench: build
	@bash bench/crc.sh
	@bash bench/unpack.sh
	@bash bench/par2_kernels.sh

screenshots: build-win
	@bash tools/screenshots.sh

clean:
	rm -rf $(WIN_BUILD) $(NATIVE_BUILD)

FUZZ_SECONDS ?= 600
FUZZ_TARGETS := xml names rar5 rar4 sfv zip_fields journal par2
fuzz: build-native
	@bash tests/fuzz/make_seeds.sh $(NATIVE_BUILD)/fuzz-seeds
	@for target in $(FUZZ_TARGETS); do \
	  bash tests/fuzz/run_fuzz.sh $(NATIVE_BUILD) $$target $(FUZZ_SECONDS) || exit 1; \
	done
