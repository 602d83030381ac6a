# Shared by tools/test, tools/demo, tools/bench, tools/fuzz-orb and tools/check-install; sourced,
# not run, with the repo as working directory. Functions named build_* run inside a toolchain
# (tools/sysroot).

# Each script starts with `enter_toolchain SET "$@"`: outside toolchain SET (test, full or
# package) this runs the script again inside it with the same arguments and does not return;
# inside, it returns at once. ORBITANE_TOOLCHAIN names the toolchain the script already runs in.
enter_toolchain() {
  local set=$1; shift
  [ "${ORBITANE_TOOLCHAIN:-}" = "$set" ] && return
  exec tools/sysroot run "$set" -- "ORBITANE_TOOLCHAIN=$set $(printf '%q ' "tools/${0##*/}" "$@")"
}

# The build folder: $ORBITANE_BUILD_DIR (relative to the repo, or absolute inside it), else
# build-asan/ for sanitizer builds and build/ otherwise.
build_dir() {
  if [ -n "${ORBITANE_BUILD_DIR:-}" ]; then echo "$ORBITANE_BUILD_DIR"
  elif [ "${ORBITANE_SANITIZE:-}" = 1 ]; then echo build-asan
  else echo build
  fi
}

# Configures folder $1 (quietly, unless it fails); further arguments go to cmake.
build_configure() {
  local dir=$1; shift
  local sanitize=OFF
  [ "${ORBITANE_SANITIZE:-}" = 1 ] && sanitize=ON
  mkdir -p "$dir"
  if ! cmake -S . -B "$dir" -G Ninja -DORBITANE_SANITIZE=$sanitize "$@" >"$dir/configure.log" 2>&1; then
    cat "$dir/configure.log" >&2
    echo "configuring $dir failed" >&2
    return 1
  fi
}

# Configures and builds everything into folder $1; further arguments go to the configure step.
build_all() {
  build_configure "$@" && cmake --build "$1"
}
