#!/bin/sh
# camera_libs.sh CMAKE SOURCE_DIR SCRATCH_DIR
#
# Configures the camera build (OPTAD_PLATFORM=target) against a scratch
# library directory holding some of the platform's libraries, with and
# without OPTAD_STANDIN_LIBS, and checks what each configuration says it
# links, or why it refuses, and what the generated build compiles and links.
# Only the configuration is judged, so the host's compiler serves. Exit 0
# when every case behaves, 1 otherwise.
set -u
cmake=$1
source=$2
scratch=$3

failures=0

# case NAME PRESENT STANDIN RESULT FRAGMENT...
#   PRESENT: the libraries in the scratch directory (blank-separated);
#   STANDIN: the value of OPTAD_STANDIN_LIBS ("-": not given);
#   RESULT: ok or refused; each FRAGMENT must appear in cmake's output
#   (blanks and line breaks collapsed, @LIB@ the scratch library directory),
#   or with "ninja:" in front in the generated build.ninja; one starting
#   with "!" must not.
case_() {
  name=$1 present=$2 standin=$3 result=$4
  shift 4
  dir=$scratch/$name
  rm -rf "$dir"
  mkdir -p "$dir/lib" "$dir/build"
  for lib in $present; do
    : >"$dir/lib/lib$lib.so"
  done
  given=""
  [ "$standin" = "-" ] || given=1
  "$cmake" -S "$source" -B "$dir/build" -G Ninja -DOPTAD_PLATFORM=target -DOPTAD_BUILD_TESTS=OFF \
    -DOPTAD_BUILD_BENCHMARKS=OFF -DCMAKE_LIBRARY_PATH="$dir/lib" \
    ${given:+"-DOPTAD_STANDIN_LIBS=$standin"} >"$dir/out" 2>&1
  rc=$?
  set -- "$@" --
  out=$(tr -s ' \n' '  ' <"$dir/out")
  ninja=$(cat "$dir/build/build.ninja" 2>/dev/null)
  bad=""
  if [ "$result" = ok ] && [ $rc -ne 0 ]; then
    bad="configuration refused (exit $rc)"
  elif [ "$result" = refused ] && [ $rc -eq 0 ]; then
    bad="configuration accepted"
  fi
  while [ "$1" != "--" ]; do
    fragment=$(printf '%s' "$1" | sed "s|@LIB@|$dir/lib|g")
    want=yes
    case $fragment in !*) want=no fragment=${fragment#!} ;; esac
    text=$out where=output
    case $fragment in ninja:*) text=$ninja where=build.ninja fragment=${fragment#ninja:} ;; esac
    case $text in *"$fragment"*) found=yes ;; *) found=no ;; esac
    [ $found = $want ] || bad="$bad; $where: \"$fragment\" $([ $want = yes ] && echo missing || echo present)"
    shift
  done
  if [ -n "$bad" ]; then
    echo "FAIL $name: $bad"
    cat "$dir/out"
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

case_ none_without_standins "" - refused \
  "lacks libpinio, libherald, libvaluepool, libstorix." \
  '-DOPTAD_STANDIN_LIBS="pinio;herald;valuepool;storix"'
case_ some_without_standins "herald storix" - refused \
  "lacks libpinio, libvaluepool." \
  '-DOPTAD_STANDIN_LIBS="pinio;valuepool"' \
  "!lacks libpinio, libherald"
case_ some_with_the_rest_standing_in "herald storix" "pinio;valuepool" ok \
  "Camera build links libpinio: our own layer (platform/pinio_target.cc), named in OPTAD_STANDIN_LIBS" \
  "Camera build links libherald: @LIB@/libherald.so" \
  "Camera build links libvaluepool: our own layer (platform/value_pool.cc), named in OPTAD_STANDIN_LIBS" \
  "Camera build links libstorix: @LIB@/libstorix.so" \
  "ninja:@LIB@/libherald.so" "ninja:@LIB@/libstorix.so" "ninja:platform/pinio_target.cc" \
  "ninja:platform/value_pool.cc" "!ninja:platform/herald_file.cc" "!ninja:platform/synced_file.cc"
case_ none_all_standing_in "" "pinio;herald;valuepool;storix" ok \
  "Camera build links libpinio: our own layer" \
  "Camera build links libherald: our own layer (platform/herald_file.cc)" \
  "Camera build links libvaluepool: our own layer" \
  "Camera build links libstorix: our own layer (platform/synced_file.cc)"
case_ all_one_standing_in_by_name "pinio herald valuepool storix" "herald" ok \
  "Camera build links libpinio: @LIB@/libpinio.so" \
  "Camera build links libherald: our own layer (platform/herald_file.cc)" \
  "Camera build links libvaluepool: @LIB@/libvaluepool.so" \
  "Camera build links libstorix: @LIB@/libstorix.so" \
  "ninja:@LIB@/libpinio.so" "!ninja:@LIB@/libherald.so" "ninja:platform/herald_file.cc" \
  "!ninja:platform/pinio_target.cc" "!ninja:platform/value_pool.cc" "!ninja:platform/synced_file.cc"
case_ unknown_standin "pinio herald valuepool storix" "pinio;gpio" refused \
  'OPTAD_STANDIN_LIBS names "gpio", which is not one of the platform'"'"'s libraries'

[ $failures -eq 0 ] || exit 1
