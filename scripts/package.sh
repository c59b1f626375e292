#!/usr/bin/env bash
# Packages the release: one jar with the native library of every platform, and the Maven
# artifacts, laid out as a Maven repository with checksums.
#
# It takes the libraries from the build trees that scripts/test.sh makes (build/x86_64,
# build/aarch64, build/x86, build/windows-x86, build/windows-x86_64; VORLEN_BUILD_PREFIX
# replaces "build/"), and the compiled Java classes from the x86-64 tree. Each library goes
# into the jar stripped, its debug information into a file of its own beside the artifacts
# (linked to it by .gnu_debuglink). Then scripts/CheckPackagedJar.java checks the jar: each
# library's format and processor from its own headers, and the folder the loader picks for
# each platform's JVM (and each such JVM that runs here, asked itself: the host's, the i386 JDK's
# where the kernel runs i386 programs, the arm64 JDK's under qemu-aarch64).
#
# What it writes, under build/:
#   package/vorlen-pkcs11-VERSION.jar         the one jar (API, session layer, five libraries)
#   package/vorlen-pkcs11-VERSION-debug.zip   the libraries' debug information
#   repository/zandrop/tesk/pkcs11/...        the Maven repository: for vorlen-pkcs11,
#                                             vorlen-pkcs11-provider and vorlen-pkcs11-demo
#                                             the jar, -sources.jar,
#                                             -javadoc.jar, the pom (and the debug zip for the
#                                             library), with .md5, .sha1, .sha256 and .sha512
#                                             files and maven-metadata.xml
# Into the user's local Maven repository:  cp -r build/repository/. ~/.m2/repository/
#
# The bytes depend on the commit alone: SOURCE_DATE_EPOCH (default: the commit's time) is the
# time of every entry, and scripts/reproduce.sh checks two builds against each other.
#
# Usage: scripts/package.sh [--only-built]
#   --only-built  package the platforms whose trees exist and say which are missing (the check
#                 then fails for them); without it a missing tree is an error
set -euo pipefail
cd "$(dirname "$0")/.."

only_built=0
[ "${1:-}" = --only-built ] && only_built=1

version=$(head -n 1 VERSION)
prefix=${VORLEN_BUILD_PREFIX:-build/}
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || echo 315532800)
fi
export SOURCE_DATE_EPOCH
group_path=zandrop/tesk/pkcs11
out=${prefix}package
repo=${prefix}repository
stage=$out/stage
java_tree=${prefix}x86_64
jar_tool=(java scripts/Jar.java)

# Build tree and the folder its library goes to in the jar.
trees=(x86_64:linux-x86_64 aarch64:linux-aarch64 x86:linux-x86 windows-x86:windows-x86
       windows-x86_64:windows-x86_64)
native_rel=zandrop/tesk/pkcs11/vorlen/api/native

[ -d "$java_tree/java/classes" ] || { echo "package: $java_tree is not built (scripts/test.sh --width 64)" >&2; exit 1; }
rm -rf "$out" "$repo/$group_path"
mkdir -p "$stage/classes" "$stage/debug" "$stage/demo-classes"

# ---- the classes of the x86-64 tree, without its library; then every platform's, stripped ----
cp -r "$java_tree/java/classes/." "$stage/classes/"
rm -rf "$stage/classes/$native_rel"
missing=()
for pair in "${trees[@]}"; do
  tree=${prefix}${pair%%:*}
  platform=${pair#*:}
  library=$(find "$tree/java/classes/$native_rel/$platform" -maxdepth 1 -type f 2>/dev/null | head -n 1 || true)
  if [ -z "$library" ]; then
    missing+=("$platform ($tree)")
    continue
  fi
  name=$(basename "$library")
  mkdir -p "$stage/classes/$native_rel/$platform" "$stage/debug/$platform"
  case "$platform" in
    windows-x86) objcopy=i686-w64-mingw32-objcopy ;;
    windows-x86_64) objcopy=x86_64-w64-mingw32-objcopy ;;
    *) objcopy=$(command -v llvm-objcopy || command -v objcopy) ;;
  esac
  # The debug information into NAME.debug; the library without it, pointing to it by name.
  (cd "$stage/debug/$platform" &&
     "$objcopy" --only-keep-debug "$OLDPWD/$library" "$name.debug" &&
     "$objcopy" --strip-debug --strip-unneeded --add-gnu-debuglink="$name.debug" \
       "$OLDPWD/$library" "$OLDPWD/$stage/classes/$native_rel/$platform/$name")
  echo "$platform: $(stat -c %s "$library") bytes built, $(stat -c %s "$stage/classes/$native_rel/$platform/$name") stripped"
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "package: no library built for: ${missing[*]}" >&2
  [ "$only_built" = 1 ] || exit 1
fi

# ---- the jars ----
artifact=vorlen-pkcs11-$version
demo=vorlen-pkcs11-demo-$version
provider=vorlen-pkcs11-provider-$version
"${jar_tool[@]}" "$out/$artifact.jar" "$java_tree/java/manifest.txt" "$SOURCE_DATE_EPOCH" "$stage/classes"
"${jar_tool[@]}" "$out/$artifact-debug.zip" - "$SOURCE_DATE_EPOCH" "$stage/debug"
"${jar_tool[@]}" "$out/$artifact-sources.jar" - "$SOURCE_DATE_EPOCH" java/src/main/java
javadoc -quiet -notimestamp --release 17 -encoding UTF-8 -Xdoclint:none -doctitle "vorlen-pkcs11 $version" \
  -windowtitle "vorlen-pkcs11 $version" -d "$stage/javadoc" \
  $(find java/src/main/java -name '*.java' | sort) >/dev/null
"${jar_tool[@]}" "$out/$artifact-javadoc.jar" - "$SOURCE_DATE_EPOCH" "$stage/javadoc"

# The demo: its classes; its manifest names the library's and the provider's jars as Maven's file
# names give them.
cp -r "$java_tree/cli/classes/." "$stage/demo-classes/"
sed "s/^Class-Path: .*/Class-Path: $artifact.jar $provider.jar/" "$java_tree/cli/manifest.txt" > "$stage/demo-manifest.txt"
"${jar_tool[@]}" "$out/$demo.jar" "$stage/demo-manifest.txt" "$SOURCE_DATE_EPOCH" "$stage/demo-classes"
"${jar_tool[@]}" "$out/$demo-sources.jar" - "$SOURCE_DATE_EPOCH" cli/src/main/java
javadoc -quiet -notimestamp --release 17 -encoding UTF-8 -Xdoclint:none -package \
  -cp "$out/$artifact.jar:$java_tree/provider/classes" -doctitle "vorlen-pkcs11 demo $version" -windowtitle "vorlen-pkcs11 demo $version" \
  -d "$stage/demo-javadoc" $(find cli/src/main/java -name '*.java' | sort) >/dev/null
"${jar_tool[@]}" "$out/$demo-javadoc.jar" - "$SOURCE_DATE_EPOCH" "$stage/demo-javadoc"

# The JCA provider: its classes with its service file, as its build tree has them.
"${jar_tool[@]}" "$out/$provider.jar" "$java_tree/provider/manifest.txt" "$SOURCE_DATE_EPOCH" "$java_tree/provider/classes"
"${jar_tool[@]}" "$out/$provider-sources.jar" - "$SOURCE_DATE_EPOCH" provider/src/main
javadoc -quiet -notimestamp --release 17 -encoding UTF-8 -Xdoclint:none -cp "$out/$artifact.jar" \
  -doctitle "vorlen-pkcs11 provider $version" -windowtitle "vorlen-pkcs11 provider $version" \
  -d "$stage/provider-javadoc" $(find provider/src/main/java -name '*.java' ! -name module-info.java | sort) >/dev/null
"${jar_tool[@]}" "$out/$provider-javadoc.jar" - "$SOURCE_DATE_EPOCH" "$stage/provider-javadoc"

# ---- the poms ----
# The project names no license yet: the poms say so instead of naming one.
pom() {  # pom ARTIFACT NAME DESCRIPTION [DEPENDENCY_ARTIFACT]
  cat <<POM
<?xml version="1.0" encoding="UTF-8"?>
<project xmlns="http://maven.apache.org/POM/4.0.0"
         xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"
         xsi:schemaLocation="http://maven.apache.org/POM/4.0.0 https://maven.apache.org/xsd/maven-4.0.0.xsd">
  <modelVersion>4.0.0</modelVersion>
  <groupId>zandrop.tesk.pkcs11</groupId>
  <artifactId>$1</artifactId>
  <version>$version</version>
  <packaging>jar</packaging>
  <name>$2</name>
  <description>$3</description>
  <licenses>
    <license>
      <name>No license granted yet</name>
      <distribution>repo</distribution>
      <comments>The project has not chosen a license; ask its authors before redistributing.</comments>
    </license>
  </licenses>
POM
  if [ -n "${4:-}" ]; then
    cat <<POM
  <dependencies>
    <dependency>
      <groupId>zandrop.tesk.pkcs11</groupId>
      <artifactId>$4</artifactId>
      <version>$version</version>
    </dependency>
  </dependencies>
POM
  fi
  echo "</project>"
}
pom vorlen-pkcs11 "vorlen-pkcs11" \
  "Java access to PKCS#11 modules (HSMs, smart cards, software tokens) through a JNI library: PKCS11Impl, the PKCS#11 records, constants and exceptions, and the session layer, with the native library for Linux x86-64, aarch64 and i386 and Windows x86 and x64 inside (module zandrop.tesk.pkcs11.vorlen)." \
  > "$out/$artifact.pom"
pom vorlen-pkcs11-demo "vorlen-pkcs11 demo" \
  "vorlen-demo, a command-line program that drives a PKCS#11 token through vorlen-pkcs11: the road of one signing request, token information, key generation, signing and verification, and an HTTPS server with its key on the token." \
  vorlen-pkcs11-provider > "$out/$demo.pom"

pom vorlen-pkcs11-provider "vorlen-pkcs11 provider" \
  "Vorlen, a JCA provider over vorlen-pkcs11's session layer: a PKCS#11 token behind KeyStore (type PKCS11), Signature, Cipher and SecureRandom (module zandrop.tesk.pkcs11.vorlen.provider)." \
  vorlen-pkcs11 > "$out/$provider.pom"

# ---- the repository: files, checksums, metadata ----
timestamp=$(date -u -d "@$SOURCE_DATE_EPOCH" +%Y%m%d%H%M%S)
publish() {  # publish ARTIFACT FILE...
  local id=$1 dir=$repo/$group_path/$1
  shift
  mkdir -p "$dir/$version"
  for file in "$@"; do
    cp "$file" "$dir/$version/"
  done
  cat > "$dir/maven-metadata.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<metadata>
  <groupId>zandrop.tesk.pkcs11</groupId>
  <artifactId>$id</artifactId>
  <versioning>
    <latest>$version</latest>
    <release>$version</release>
    <versions>
      <version>$version</version>
    </versions>
    <lastUpdated>$timestamp</lastUpdated>
  </versioning>
</metadata>
XML
  for file in "$dir/$version"/* "$dir/maven-metadata.xml"; do
    for sum in md5 sha1 sha256 sha512; do
      "${sum}sum" "$file" | cut -d' ' -f1 | tr -d '\n' > "$file.$sum"
    done
  done
}
publish vorlen-pkcs11 "$out/$artifact.jar" "$out/$artifact-sources.jar" "$out/$artifact-javadoc.jar" \
  "$out/$artifact-debug.zip" "$out/$artifact.pom"
publish vorlen-pkcs11-provider "$out/$provider.jar" "$out/$provider-sources.jar" "$out/$provider-javadoc.jar" \
  "$out/$provider.pom"
publish vorlen-pkcs11-demo "$out/$demo.jar" "$out/$demo-sources.jar" "$out/$demo-javadoc.jar" "$out/$demo.pom"
rm -rf "$stage"

echo "=== $repo ==="
(cd "$repo" && find "$group_path" -type f ! -name '*.md5' ! -name '*.sha*' | sort | xargs sha256sum)

# ---- the check of the jar: each library's headers, the loader's folder for each platform ----
jvms=(java)
[ -x /usr/lib/jvm/java-17-openjdk-i386/bin/java ] && /usr/lib/jvm/java-17-openjdk-i386/bin/java -version >/dev/null 2>&1 &&
  jvms+=(/usr/lib/jvm/java-17-openjdk-i386/bin/java)
arm64_java="qemu-aarch64 -L / /usr/lib/jvm/java-17-openjdk-arm64/bin/java"
# shellcheck disable=SC2086
command -v qemu-aarch64 >/dev/null && $arm64_java -version >/dev/null 2>&1 && jvms+=("$arm64_java")
check=()
[ "$only_built" = 1 ] && check+=(--allow-missing)
java scripts/CheckPackagedJar.java "${check[@]}" "$out/$artifact.jar" "${jvms[@]}"
