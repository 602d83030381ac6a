# Shared by tools/test, tools/demo and tools/bench; sourced, not run. Functions named build_*
# run inside a toolchain (tools/sysroot run ...), with the repo as working directory.

# The build folder: $ORBITANE_BUILD_DIR (relative to the repo, or absolute inside it), else
# build-asan/ for sanitizer builds and build/ otherwise.
build_dir() {
  if [ -n "${ORBITANE_BUILD_DIR:-}" ]; then echo "$ORBITANE_BUILD_DIR"
  elif [ "${ORBITANE_SANITIZE:-}" = 1 ]; then echo build-asan
  else echo build
  fi
}

# Configures (quietly, unless it fails) and builds everything into folder $1; further arguments
# go to the configure step.
build_all() {
  local dir=$1; shift
  local sanitize=OFF
  [ "${ORBITANE_SANITIZE:-}" = 1 ] && sanitize=ON
  mkdir -p "$dir"
  if ! cmake -S . -B "$dir" -G Ninja -DORBITANE_SANITIZE=$sanitize "$@" >"$dir/configure.log" 2>&1; then
    cat "$dir/configure.log" >&2
    echo "configuring $dir failed" >&2
    return 1
  fi
  cmake --build "$dir"
}
