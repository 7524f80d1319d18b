# The two entry points of the README. Each installs what it needs first.
PRESETS ?= default asan tsan windows
SOAK_PRESETS ?= default asan tsan
JOBS ?= $(shell nproc)

.PHONY: deps test fuzz build format demo soak fresh-check package

deps:
	bash scripts/install-deps.sh

build: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

# A Debian package of the optimised build: build/default/package/velmora_<version>_amd64.deb.
package: build
	cd build/default && cpack -B package

demo: deps
	bash scripts/demo.sh

# FUZZ_SECONDS: how long scripts/fuzz.sh runs each fuzz target after the presets (0 skips it).
FUZZ_SECONDS ?= 60

# The windows preset's programs run under Wine in a prefix made afresh for each run.
test: deps
	@rm -rf build/windows/wineprefix build/windows/wineprefix.lock
	@set -e; for p in $(PRESETS); do \
	    echo "== $$p build =="; \
	    cmake --preset $$p >/dev/null; \
	    cmake --build --preset $$p -j $(JOBS); \
	    ctest --preset $$p -j $(JOBS); \
	done
	@if [ "$(FUZZ_SECONDS)" != 0 ]; then bash scripts/fuzz.sh $(FUZZ_SECONDS); fi

fuzz: deps
	bash scripts/fuzz.sh $(FUZZ_SECONDS)

# The fault and load suites at their full counts, in each preset (LeakSanitizer under asan, the
# concurrency ones under tsan); prints what they checked. SOAK_PRESETS=default for a quicker run.
soak: deps
	JOBS=$(JOBS) bash scripts/soak.sh $(SOAK_PRESETS)

# The README's two commands on a new minimal Debian 12 root (debootstrap; about 20 minutes, as
# root). Run it before a change to what scripts/install-deps.sh installs lands.
fresh-check:
	bash scripts/fresh-check.sh

format:
	git ls-files '*.h' '*.cpp' | xargs clang-format -i
