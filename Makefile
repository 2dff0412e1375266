# Top-level shortcuts: `make run` builds and runs grayfix on the sample image,
# `make test` runs every test in a normal and a sanitizer build.

JOBS ?= $(shell nproc)
BUILD ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan

PREFIX ?= /usr/local
# Debian architecture of `make package` (amd64, arm64 or s390x).
ARCH ?= $(shell dpkg --print-architecture 2>/dev/null || echo amd64)

.PHONY: all run test test-release test-asan test-threads sample install install-files uninstall package bench \
        fuzz clean python

all:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

# The Python module alone: build/python/grayfix.cpython-*.so (when pybind11 and
# NumPy are installed; otherwise CMake says what is missing).
python:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS) --target grayfix_python

sample: all
	$(BUILD)/make_sample $(BUILD)/sample8.pgm $(BUILD)/sample16.pgm

run: sample
	$(BUILD)/grayfix $(BUILD)/sample8.pgm -t:denoise:1:0 $(BUILD)/sample8_denoised.pgm

test: test-release test-asan test-threads

test-release: all
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGRAYFIX_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)

# The tests of everything that runs on several threads (the worker parts, the
# window filters, the statistics pass) under ThreadSanitizer, which fails on any
# data race. Death tests fork, which it does not follow: they run elsewhere.
TSAN_TESTS = *Workers*:*Tile*:*DenoisePaths*:*WindowPath*:*Stats*:*Crc32*:-*DeathTest*
test-threads:
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS=-fsanitize=thread \
	    -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DGRAYFIX_STATIC_RUNTIME=OFF -DGRAYFIX_PYTHON=OFF
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target grayfix_tests
	TSAN_OPTIONS=halt_on_error=1 $(TSAN_BUILD)/tests/grayfix_tests --gtest_filter='$(TSAN_TESTS)'

# The whole suite built for other processors (CROSS_ARCHS, each with a
# cmake/toolchain-ARCH.cmake) and run under qemu-user, in build-ARCH.
CROSS_ARCHS ?= aarch64 s390x

.PHONY: test-cross
test-cross:
	JOBS=$(JOBS) bash tests/cross/run_cross.sh $(CROSS_ARCHS)

# The directories of an install, as cmake --install lays them out. Those that
# do not exist yet are listed in install_dirs.txt, deepest first, so that
# `make uninstall` removes them again once empty, and never any other.
INSTALL_DIRS = bin share/man/man1 share/bash-completion/completions share/doc/grayfix \
               $(PYTHON_DIR)
# Where the Python module goes, as python/CMakeLists.txt chooses it: the
# directories Debian's python3 imports from.
PYTHON3 ?= /usr/bin/python3
PYTHON_DIR = $(if $(filter /usr,$(PREFIX)),lib/python3/dist-packages,$(shell \
    $(PYTHON3) -c 'import sys; print("lib/python%d.%d/dist-packages" % sys.version_info[:2])' \
    2>/dev/null))

install: all
	@$(MAKE) --no-print-directory install-files

# The install step alone, of what $(BUILD) holds.
install-files:
	@for dir in $(INSTALL_DIRS); do \
	    dir="$(PREFIX)/$$dir"; \
	    while [ -n "$$dir" ] && [ ! -e "$$dir" ]; do \
	        echo "$$dir"; \
	        case $$dir in */*) dir=$${dir%/*} ;; *) break ;; esac; \
	    done; \
	done | sort -ru > $(BUILD)/install_dirs.txt
	cmake --install $(BUILD) --prefix $(PREFIX)

# cmake --install records every file it wrote in the build directory.
uninstall:
	xargs -r rm -f -- < $(BUILD)/install_manifest.txt
	if [ -f $(BUILD)/install_dirs.txt ]; then \
	    while IFS= read -r dir; do \
	        if [ -d "$$dir" ]; then rmdir --ignore-fail-on-non-empty -- "$$dir"; fi; \
	    done < $(BUILD)/install_dirs.txt; \
	    rm -f $(BUILD)/install_dirs.txt; \
	fi

# grayfix_<version>_<arch>.deb in this directory (see packaging/build_deb.sh).
package:
	bash packaging/build_deb.sh $(ARCH)

bench:
	bash bench/run_bench.sh

fuzz:
	bash tests/fuzz/run_fuzz.sh

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
