#!/bin/sh
# The sparse package, checked with tools of its own kind rather than with the
# packer's code: unzip for the parts and their local headers, openssl for the
# block hashes, xmllint for the XML, osslsigncode for the signature.
#
#   msix_package_test.sh PACKAGE SOURCE_DIR PUBLISHER VERSION CLSID WORK_DIR EXE
#
# PACKAGE is the build's Veltrano.msix; PUBLISHER, VERSION and CLSID are the
# build's values ({...}); EXE is veltrano.exe, whose manifest names the
# package. Also packs packages of its own with the same
# template: one with a logo of several 64 KiB blocks, and one per test
# certificate, which is signed and verified.
set -u
package=$1 source=$2 publisher=$3 version=$4 clsid=$5 work=$6 exe=$7
export LC_ALL=C TZ=UTC
failures=0
fail() { printf 'FAILED: %s\n' "$*" >&2; failures=$((failures + 1)); }
clsid=$(printf '%s' "$clsid" | tr -d '{}')
packer="$source/installer/package/make_msix.py"
template="$source/installer/package/AppxManifest.xml.in"
rm -rf "$work"
mkdir -p "$work"

# The value of an XPath expression over one XML file (namespaces ignored).
xpath() { xmllint --xpath "$2" "$1" 2>/dev/null; }

# check_package FILE [signed]: parts, well-formed XML, and every block hash
# and header size of the block map. With "signed", the signature part that
# installer/release.sh adds may follow the four.
check_package() {
  pkg=$1
  dir="$work/$(basename "$pkg").parts"
  rm -rf "$dir" && mkdir -p "$dir"
  names=$(unzip -Z1 "$pkg" | tr '\n' ' ')
  four="Logo.png AppxManifest.xml AppxBlockMap.xml [Content_Types].xml "
  [ "$names" = "$four" ] || { [ "${2:-}" = signed ] && [ "$names" = "${four}AppxSignature.p7x " ]; } ||
    fail "$pkg: parts are: $names"
  unzip -tq "$pkg" >/dev/null || fail "$pkg: unzip -t"
  (cd "$dir" && unzip -q "$pkg") || { fail "$pkg: unzip"; return; }
  for part in AppxManifest.xml AppxBlockMap.xml '[Content_Types].xml'; do
    xmllint --noout "$dir/$part" || fail "$pkg: $part is not well-formed"
  done
  map="$dir/AppxBlockMap.xml"
  [ "$(xpath "$map" 'string(/*[local-name()="BlockMap"]/@HashMethod)')" = "http://www.w3.org/2001/04/xmlenc#sha256" ] ||
    fail "$pkg: hash method"
  # Every payload part is listed, in archive order, and nothing else.
  listed=$(xpath "$map" '//*[local-name()="File"]/@Name' | tr '\n' ' ' | sed 's/ *Name="\([^"]*\)"/\1 /g' | tr -s ' ')
  [ "$listed" = "Logo.png AppxManifest.xml " ] || fail "$pkg: block map lists: $listed"
  index=0
  for part in Logo.png AppxManifest.xml; do
    index=$((index + 1))
    file="//*[local-name()=\"File\"][$index]"
    size=$(wc -c <"$dir/$part" | tr -d ' ')
    [ "$(xpath "$map" "string($file/@Size)")" = "$size" ] || fail "$pkg: $part: Size"
    # LfhSize: 30 bytes, the name and the extra field, read from the header
    # at the offset the central directory gives.
    offset=$(zipinfo -v "$pkg" "$part" | sed -n 's/^ *offset of local header from start of archive: *\([0-9]*\).*/\1/p')
    set -- $(od -An -tu2 -j $((offset + 26)) -N 4 "$pkg")
    signature=$(od -An -tx4 -j "$offset" -N 4 "$pkg" | tr -d ' ')
    [ "$signature" = 04034b50 ] || fail "$pkg: $part: no local header at $offset"
    [ "$(xpath "$map" "string($file/@LfhSize)")" = "$((30 + $1 + $2))" ] || fail "$pkg: $part: LfhSize"
    # The blocks: 64 KiB each, the last one shorter; stored parts have no
    # block Size.
    rm -f "$dir"/block.*
    split -b 65536 -a 4 -d "$dir/$part" "$dir/block."
    blocks=$(ls "$dir"/block.* 2>/dev/null | wc -l | tr -d ' ')
    [ "$(xpath "$map" "count($file/*[local-name()=\"Block\"])")" = "$blocks" ] || fail "$pkg: $part: block count"
    [ "$(xpath "$map" "count($file/*[local-name()=\"Block\"]/@Size)")" = 0 ] || fail "$pkg: $part: a stored block has a Size"
    b=0
    for block in "$dir"/block.*; do
      b=$((b + 1))
      want=$(openssl dgst -sha256 -binary "$block" | base64)
      [ "$(xpath "$map" "string($file/*[local-name()=\"Block\"][$b]/@Hash)")" = "$want" ] ||
        fail "$pkg: $part: hash of block $b"
    done
    checked_blocks=$((checked_blocks + blocks))
  done
  types="$dir/[Content_Types].xml"
  for rule in 'Default[@Extension="png"]/@ContentType=image/png' \
              'Override[@PartName="/AppxManifest.xml"]/@ContentType=application/vnd.ms-appx.manifest+xml' \
              'Override[@PartName="/AppxBlockMap.xml"]/@ContentType=application/vnd.ms-appx.blockmap+xml'; do
    path=${rule%%=*}; path=${rule%=*}; want=${rule##*=}
    element=${path%%\[*}
    [ "$(xpath "$types" "string(//*[local-name()=\"$element\"]${path#"$element"})")" = "$want" ] ||
      fail "$pkg: content type $path"
  done
}

# pack OUT PUBLISHER [LOGO]: a package from the build's template and values.
pack() {
  python3 "$packer" --template "$template" --logo "${3:-$source/resources/logo.png}" \
    --set "CLSID=$clsid" --set "VERSION=$version" --set PACKAGE_NAME=Kerbelin.Veltrano \
    --set APPLICATION_ID=Veltrano --set "PUBLISHER=$2" --set PUBLISHER_DISPLAY_NAME=Kerbelin --out "$1"
}

# --- the build's package ------------------------------------------------------
# (Signed in place when installer/release.sh has run in this build folder.)
checked_blocks=0
check_package "$package" signed
manifest="$work/$(basename "$package").parts/AppxManifest.xml"
identity='/*[local-name()="Package"]/*[local-name()="Identity"]'
[ "$(xpath "$manifest" "string($identity/@Publisher)")" = "$publisher" ] || fail "manifest Publisher"
[ "$(xpath "$manifest" "string($identity/@Version)")" = "$version" ] || fail "manifest Version"
[ "$(xpath "$manifest" "string($identity/@ProcessorArchitecture)")" = x64 ] || fail "manifest architecture"
ids=$(xpath "$manifest" '//*[local-name()="Verb"]/@Clsid | //*[local-name()="Class"]/@Id' | tr ' ' '\n' | sed -n 's/.*="\(.*\)"/\1/p' | sort -u)
[ "$ids" = "$clsid" ] || fail "manifest class ids: $ids (want $clsid)"
[ "$(xpath "$manifest" 'count(//*[local-name()="ItemType"][@Type="*" or @Type="Directory"]/*[local-name()="Verb"])')" = 2 ] ||
  fail "manifest verbs"
[ "$(xpath "$manifest" 'string(//*[local-name()="TargetDeviceFamily"]/@MinVersion)')" = 10.0.19041.0 ] || fail "MinVersion"
# veltrano.exe's side-by-side manifest names this package and application.
python3 - "$exe" >"$work/exe-msix.xml" <<'EOF'
import re, sys
found = re.search(rb"<msix\s[^>]*/>", open(sys.argv[1], "rb").read())
sys.stdout.write(found.group(0).decode("utf-8") if found else "")
EOF
xmllint --noout "$work/exe-msix.xml" 2>/dev/null || fail "veltrano.exe's manifest has no well-formed msix element"
for pair in "publisher:$identity/@Publisher" "packageName:$identity/@Name" \
            'applicationId://*[local-name()="Application"]/@Id'; do
  [ "$(xpath "$work/exe-msix.xml" "string(/*/@${pair%%:*})")" = "$(xpath "$manifest" "string(${pair#*:})")" ] ||
    fail "veltrano.exe's msix ${pair%%:*} differs from the package's"
done
[ "$(xpath "$work/exe-msix.xml" 'namespace-uri(/*)')" = "urn:schemas-microsoft-com:msix.v1" ] || fail "msix namespace"

# A logo of three blocks, the last one short: 2 x 64 KiB + 123 bytes.
{ printf '\211PNG\r\n\032\n'; head -c $((2 * 65536 + 115)) /dev/urandom; } >"$work/big.png"
pack "$work/big.msix" "CN=Kerbelin" "$work/big.png" || fail "packing a large logo"
checked_blocks=0
check_package "$work/big.msix"
[ "$checked_blocks" = 4 ] || fail "large logo: $checked_blocks blocks checked, want 4"

# The packer refuses what would make a broken package.
printf '<a x="@NOPE@"/>\n' >"$work/unknown.in"
printf '<a x="@CLSID@"/>\n' >"$work/unused.in"
printf '<a x="@CLSID@">\n' >"$work/broken.in"
for case in "unknown.in:$source/resources/logo.png" "unused.in:$source/resources/logo.png" \
            "broken.in:$source/resources/logo.png" "$(basename "$template"):$manifest"; do
  t=${case%%:*} logo=${case#*:}
  [ -f "$work/$t" ] && t="$work/$t" || t="$template"
  if python3 "$packer" --template "$t" --logo "$logo" --set CLSID=x --set VERSION=1 --set PACKAGE_NAME=n \
       --set APPLICATION_ID=a --set PUBLISHER=p --set PUBLISHER_DISPLAY_NAME=d --out "$work/refused.msix" 2>/dev/null; then
    fail "the packer took $case"
  fi
  [ -e "$work/refused.msix" ] && fail "a refused package was written ($case)"
done

# --- signing: the publisher is the certificate's subject -----------------------
# Each case: the subject given to openssl, and the Publisher Windows expects.
sign_case() {
  subject=$1 expected=$2 name=$3
  openssl req -x509 -utf8 -newkey rsa:2048 -nodes -days 2 -subj "$subject" -addext "extendedKeyUsage=codeSigning" \
    -keyout "$work/$name.key" -out "$work/$name.pem" 2>/dev/null || { fail "$name: certificate"; return; }
  got=$("$source/installer/package/certificate_publisher.sh" "$work/$name.pem") || { fail "$name: publisher"; return; }
  [ "$got" = "$expected" ] || fail "$name: publisher is [$got], want [$expected]"
  pack "$work/$name.msix" "$got" || { fail "$name: packing"; return; }
  osslsigncode sign -certs "$work/$name.pem" -key "$work/$name.key" -in "$work/$name.msix" \
    -out "$work/$name.signed.msix" >/dev/null 2>&1 || { fail "$name: signing"; return; }
  osslsigncode verify -CAfile "$work/$name.pem" -in "$work/$name.signed.msix" >"$work/$name.verify" 2>&1 ||
    { cat "$work/$name.verify" >&2; fail "$name: osslsigncode verify"; return; }
  parts=$(unzip -Z1 "$work/$name.signed.msix" | tr '\n' ' ')
  [ "$parts" = "Logo.png AppxManifest.xml AppxBlockMap.xml [Content_Types].xml AppxSignature.p7x " ] ||
    fail "$name: signed parts: $parts"
  unzip -tq "$work/$name.signed.msix" >/dev/null || fail "$name: the signed package does not test"
  unzip -p "$work/$name.signed.msix" '\[Content_Types\].xml' | grep -q 'PartName="/AppxSignature.p7x"' ||
    fail "$name: no content type for the signature"
  # The signer is our certificate, and its subject is the manifest's
  # Publisher (the signature part is "PKCX" and a PKCS#7 blob).
  unzip -p "$work/$name.signed.msix" AppxSignature.p7x | tail -c +5 >"$work/$name.p7"
  signer=$(openssl pkcs7 -inform DER -in "$work/$name.p7" -print_certs | openssl x509 -noout -fingerprint -sha256)
  [ "$signer" = "$(openssl x509 -in "$work/$name.pem" -noout -fingerprint -sha256)" ] || fail "$name: signer"
  unzip -p "$work/$name.signed.msix" AppxManifest.xml >"$work/$name.manifest.xml"
  [ "$(xpath "$work/$name.manifest.xml" "string($identity/@Publisher)")" = "$expected" ] ||
    fail "$name: the signed manifest's Publisher"
  # The signature covers the parts: one changed byte of the logo is caught.
  python3 - "$work/$name.signed.msix" "$work/$name.tampered.msix" <<'EOF'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
data[200] ^= 0x01  # inside Logo.png, the first part
open(sys.argv[2], "wb").write(data)
EOF
  osslsigncode verify -CAfile "$work/$name.pem" -in "$work/$name.tampered.msix" >/dev/null 2>&1 &&
    fail "$name: a changed package still verifies"
}
sign_case "/CN=Kerbelin" "CN=Kerbelin" plain
sign_case "/C=DE/ST=Bayern/L=München/O=Kerbelin, Test & Co/CN=Veltrano \"Test\"/emailAddress=ci@example.org" \
          'E=ci@example.org, CN="Veltrano ""Test""", O="Kerbelin, Test & Co", L=München, S=Bayern, C=DE' full

if [ "$failures" -ne 0 ]; then
  echo "msix_package_test: $failures failure(s)" >&2
  exit 1
fi
echo "msix_package_test: passed"
