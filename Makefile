# Top-level shortcuts: `make run` builds and runs grayfix on the sample image,
# `make test` runs every test in a normal and a sanitizer build.

JOBS ?= $(shell nproc)
BUILD ?= build
ASAN_BUILD ?= build-asan

PREFIX ?= /usr/local

.PHONY: all run test test-release test-asan sample install uninstall bench fuzz clean

all:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

sample: all
	$(BUILD)/make_sample $(BUILD)/sample8.pgm $(BUILD)/sample16.pgm

run: sample
	$(BUILD)/grayfix $(BUILD)/sample8.pgm -t:denoise:1:0 $(BUILD)/sample8_denoised.pgm

test: test-release test-asan

test-release: all
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGRAYFIX_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)

install: all
	cmake --install $(BUILD) --prefix $(PREFIX)

# cmake --install records every file it wrote in the build directory.
uninstall:
	xargs -r rm -f -- < $(BUILD)/install_manifest.txt

bench:
	bash bench/run_bench.sh

fuzz:
	bash tests/fuzz/run_fuzz.sh

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
