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
# make bench         - install the comparison libraries (the bench extras and
#                      matplotlib) and run the whole benchmark on the Debian graph
#                      and the synthetic ones of 1 and 4 million edges (many minutes);
#                      BENCH_ARGS=--quick for a run of under a minute
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

.PHONY: test build venv clean test-sanitize soak demo typecheck test-wheel bench

test: build
	$(VPY) -m pytest $(PYTEST_ARGS)
	$(MAKE) --no-print-directory typecheck

typecheck: build
	$(VPY) -m mypy.stubtest lanternhollow_graph
	$(VPY) -m mypy --strict examples/typed_usage.py

DEMO_ARGS ?= --stdlib
demo: build
	$(VENV)/bin/lanternhollow-graph $(DEMO_ARGS) --dot neighbourhood.dot --svg neighbourhood.svg

# The wheel as users get it: an sdist, a wheel built from it in isolation
# with the default options, and the suite run against that wheel installed
# into a fresh virtual environment.
WHEEL_DIR := build/wheel-$(PY_VERSION)
test-wheel: $(VENV)/.deps
	rm -rf $(WHEEL_DIR) && mkdir -p $(WHEEL_DIR)
	$(VPY) -m pip install --quiet build
	$(VPY) -m build --sdist --outdir $(WHEEL_DIR) .
	$(VPY) -m pip wheel --quiet --no-deps --wheel-dir $(WHEEL_DIR) $(WHEEL_DIR)/lanternhollow_graph-*.tar.gz
	$(PYTHON) -m venv $(WHEEL_DIR)/venv
	$(WHEEL_DIR)/venv/bin/python -m pip install --quiet $(WHEEL_DIR)/lanternhollow_graph-*.whl \
	    "$$(ls $(WHEEL_DIR)/lanternhollow_graph-*.whl)[test]"
	cd tests && ../$(WHEEL_DIR)/venv/bin/python -m pytest -p no:cacheprovider -q -c ../pyproject.toml --rootdir .. $(PYTEST_ARGS)

SAN_DIR := build/$(PY_VERSION)-san
SAN_PRELOAD := $(shell g++ -print-file-name=libasan.so) $(shell g++ -print-file-name=libubsan.so)

# The interpreter itself is not built with the sanitizers: the runtime is
# preloaded, and leak detection is off because the interpreter keeps memory
# until exit by design.
test-sanitize: $(VENV)/.deps
	$(VPY) -m pip install --quiet --no-build-isolation --no-deps --upgrade --target $(SAN_DIR)/site \
	    -C cmake.define.LHG_WERROR=ON -C cmake.define.LHG_SANITIZE=address,undefined \
	    -C cmake.build-type=RelWithDebInfo -C build-dir=$(SAN_DIR)/build .
	PYTHONPATH=$(SAN_DIR)/site LD_PRELOAD="$(SAN_PRELOAD)" \
	    ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	    HYPOTHESIS_EXAMPLES=$${HYPOTHESIS_EXAMPLES:-100} LHG_THREAD_SECONDS=$${LHG_THREAD_SECONDS:-3} \
	    $(VPY) -m pytest -p no:cacheprovider $(PYTEST_ARGS)

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
bench: build $(VENV)/.bench-deps
	$(VPY) -m bench $(BENCH_ARGS)

$(VENV)/.bench-deps: pyproject.toml $(VENV)/.deps
	$(VPY) -m pip install --quiet $$($(VPY) -c 'import tomllib; d = tomllib.load(open("pyproject.toml", "rb")); print(" ".join(repr(r) for r in d["project"]["optional-dependencies"]["bench"]))' | tr -d "'")
	-$(VPY) -m pip install --quiet matplotlib
	touch $@

clean:
	rm -rf build .venv-* .pytest_cache .hypothesis
