# The two entry points of the README. Each installs what it needs first.
PRESETS ?= default asan tsan
JOBS ?= $(shell nproc)

.PHONY: deps test build format demo

deps:
	bash scripts/install-deps.sh

build: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

demo: deps
	bash scripts/demo.sh

test: deps
	@set -e; for p in $(PRESETS); do \
	    echo "== $$p build =="; \
	    cmake --preset $$p >/dev/null; \
	    cmake --build --preset $$p -j $(JOBS); \
	    ctest --preset $$p -j $(JOBS); \
	done

format:
	git ls-files '*.h' '*.cpp' | xargs clang-format -i
