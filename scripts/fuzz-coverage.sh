#!/usr/bin/env bash
# Line coverage that the saved fuzz corpora reach: builds the corpus replay programs with
# clang's source-based coverage, replays every target's corpus (fuzz/corpus/<target>/, and the
# large inputs of fuzz/regress/<target>/ that the fuzzers do not start from), and prints the line
# coverage of each reader's own file and of the two text parsers.
#
#   scripts/fuzz-coverage.sh [build-dir]     (default build-cov; the report stays in it)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-cov}
flags="-fprofile-instr-generate -fcoverage-mapping"

# No compiler launcher: a cache that rewrites paths as relative ones (ccache's base folder) leaves
# coverage records whose file names the report's file list does not match.
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      -DCMAKE_C_COMPILER_LAUNCHER= -DCMAKE_CXX_COMPILER_LAUNCHER= \
      -DLUMORA_GUI=OFF -DLUMORA_TESTS=ON -DLUMORA_BENCH=OFF -DLUMORA_FUZZ=OFF \
      -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
      -DCMAKE_EXE_LINKER_FLAGS="-fprofile-instr-generate" >/dev/null
targets=()
for source in fuzz/*.cpp; do
    name=$(basename "$source" .cpp)
    [ -d "fuzz/corpus/$name" ] && targets+=("$name")
done
cmake --build "$build" --target "${targets[@]/%/_replay}"

profiles="$build/fuzz-coverage"
rm -rf "$profiles"
mkdir -p "$profiles"
objects=()
for name in "${targets[@]}"; do
    LLVM_PROFILE_FILE="$profiles/$name.profraw" "$build/fuzz/${name}_replay" "fuzz/corpus/$name" \
        fuzz/regress/"$name" \
        | sed "s/^/$name: /"
    # llvm-cov takes the first program plainly and every further one after -object.
    [ ${#objects[@]} -gt 0 ] && objects+=(-object)
    objects+=("$build/fuzz/${name}_replay")
done
llvm-profdata merge -sparse "$profiles"/*.profraw -o "$profiles/all.profdata"

files=(src/image/bmp_reader.cpp src/image/gif_reader.cpp src/image/ico_reader.cpp
       src/image/ico_png.cpp src/image/jp2_reader.cpp src/image/jpeg_reader.cpp
       src/image/png_reader.cpp src/image/tiff_reader.cpp src/image/webp_reader.cpp
       src/image/heif_reader.cpp src/image/heif_boxes.cpp src/image/jxl_reader.cpp
       src/image/exif.cpp src/thumbs/cache_index.cpp
       src/settings/registry.cpp src/image/loader.cpp src/image/resample.cpp)
echo
printf '%-30s %6s %7s %7s\n' file lines missed covered
# The report names the files below their common folder (src/). Its columns: regions, missed,
# cover, functions, missed, executed, lines, missed, cover.
llvm-cov report "${objects[@]}" -instr-profile "$profiles/all.profdata" "${files[@]}" \
    | awk '$1 ~ /\.cpp$/ { printf "%-30s %6s %7s %7s\n", $1, $8, $9, $10 }'
# The cache index file also draws new folder keys, which no parser reaches: count the parser's
# own functions apart.
llvm-cov report "${objects[@]}" -instr-profile "$profiles/all.profdata" -show-functions \
        src/thumbs/cache_index.cpp \
    | awk '/ParseCacheIndex|FormatCacheIndex|IsFolderKey|ParseSize/ {
               lines += $(NF-5); missed += $(NF-4) }
           END { printf "%-30s %6d %7d %6.2f%%\n", "thumbs/cache_index.cpp parser", lines, missed,
                        lines ? 100 * (lines - missed) / lines : 0 }'
echo
echo "Line by line: llvm-cov show ${objects[*]} -instr-profile $profiles/all.profdata <file>"
