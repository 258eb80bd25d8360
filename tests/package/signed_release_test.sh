#!/bin/sh
# Packs a release's packages as the release does, given a throwaway OpenPGP key and a throwaway
# code-signing certificate made here, and verifies them as a user would: SHA256SUMS.asc with gpgv
# and sqv, the RPM with rpm -K, the .exe files with osslsigncode against the throwaway root, each
# failing once one byte is changed; RELEASES.md's steps work as written; rpmlint takes the signed
# RPM without its no-signature filter.
#   signed_release_test.sh SOURCE_DIR BUILD_DIR   (a release build, its Windows tree beside it)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
"$here/../../scripts/install-deps.sh" linux
"$here/../../scripts/install-deps.sh" windows
source=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
. "$here/scratch.sh"
export GNUPGHOME="$scratch/gnupg"
trap 'gpgconf --kill all; rm -rf "$scratch"' EXIT
mkdir -m 700 "$GNUPGHOME"
keys=$scratch/keys
mkdir "$keys"

# verifies FILE COMMAND...: COMMAND, given FILE last, takes FILE and refuses a copy of it with one
# byte in its middle changed
verifies() {
  file=$1
  shift
  "$@" "$file" >"$scratch/verify.log" 2>&1 ||
    { cat "$scratch/verify.log"; fail "$1 rejects $file"; }
  cp "$file" "$scratch/flipped"
  python3 -c 'import sys
with open(sys.argv[1], "r+b") as f:
    f.seek(f.seek(0, 2) // 2); b = f.read(1); f.seek(-1, 1); f.write(bytes([b[0] ^ 1]))' \
    "$scratch/flipped"
  ! "$@" "$scratch/flipped" >/dev/null 2>&1 || fail "$1 takes a changed $file"
}

# A key as a project keeps one: a primary key that certifies, a subkey that signs.
gpg --batch --quiet --passphrase '' --quick-gen-key "nodestart throwaway <throwaway@example.org>" \
  rsa3072 cert 1d
fingerprint=$(gpg --batch --no-auto-check-trustdb --with-colons --list-secret-keys | awk -F: '/^fpr/ { print $10; exit }')
gpg --batch --quiet --passphrase '' --quick-add-key "$fingerprint" rsa3072 sign 1d
subkey=$(gpg --batch --no-auto-check-trustdb --with-colons --list-keys "$fingerprint" |
  awk -F: '/^fpr/ && ++n == 2 { print $10 }')
gpg --batch --export "$fingerprint" >"$keys/release.gpg"
gpg --batch --armor --export "$fingerprint" >"$keys/release.asc"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$keys/root.key" -out "$keys/root.pem" -days 1 \
  -subj "/CN=nodestart throwaway root" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout "$keys/signer.key" -out "$keys/signer.csr" \
  -subj "/CN=nodestart throwaway signer" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' \
  >"$keys/signer.ext"
openssl x509 -req -in "$keys/signer.csr" -CA "$keys/root.pem" -CAkey "$keys/root.key" \
  -CAcreateserial -days 1 -extfile "$keys/signer.ext" -out "$keys/signer.pem" 2>/dev/null

# Packed as a release packs: the Windows tree first, then the Linux packages and SHA256SUMS.
packages=$scratch/packages
(
  export NODESTART_OPENPGP_KEY="$fingerprint" NODESTART_AUTHENTICODE_CERT="$keys/signer.pem" \
    NODESTART_AUTHENTICODE_KEY="$keys/signer.key"
  cpack --config "$build/windows/CPackConfig.cmake" -B "$packages" && (cd "$build" && cpack -B "$packages")
) >"$scratch/cpack.log" 2>&1 || { cat "$scratch/cpack.log"; fail "cpack with the keys"; }
rm -rf "$packages/_CPack_Packages"
(cd "$packages" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not hold for the signed packages"

verifies "$packages/SHA256SUMS" gpgv --keyring "$keys/release.gpg" "$packages/SHA256SUMS.asc"
verifies "$packages/SHA256SUMS" sqv --keyring "$keys/release.asc" "$packages/SHA256SUMS.asc"
rpm=$(echo "$packages"/*.rpm)
mkdir "$scratch/rpmdb"
rpm --dbpath "$scratch/rpmdb" --import "$keys/release.asc" 2>/dev/null
verifies "$rpm" rpm --dbpath "$scratch/rpmdb" -K
grep -q ": digests signatures OK$" "$scratch/verify.log" || fail "rpm -K: $(cat "$scratch/verify.log")"
# rpmlint checks the signature against the keys of the rpm database its macros name.
mkdir "$scratch/home"
echo "%_dbpath $scratch/rpmdb" >"$scratch/home/.rpmmacros"
grep -v '"no-signature"' "$source/packaging/rpmlint.toml" >"$scratch/rpmlint.toml"
HOME=$scratch/home rpmlint -c "$scratch/rpmlint.toml" "$rpm" >"$scratch/lint.log" 2>&1 || true
grep -q ' 0 errors, 0 warnings' "$scratch/lint.log" || { cat "$scratch/lint.log"; fail "rpmlint"; }

# RELEASES.md's steps for checking a download, as written, where the downloads and the published
# key are: "Good signature", gpgv's subkey and sqv's key, and "OK" for every file listed.
download=$scratch/download
mkdir "$download"
cp "$packages"/* "$download"
cp "$keys/release.asc" "$download/nodestart.asc"
awk '/<!-- checked as written/ { on = 1; next } on && /^    / { sub(/^    /, ""); print; next } on { exit }' \
  "$source/RELEASES.md" >"$scratch/steps.sh"
(cd "$download" && sh -e "$scratch/steps.sh") >"$scratch/steps.log" 2>&1 &&
  grep -q 'Good signature from "nodestart throwaway' "$scratch/steps.log" &&
  grep -q "using RSA key $subkey" "$scratch/steps.log" && grep -qx "$fingerprint" "$scratch/steps.log" &&
  [ "$(grep -c ': OK$' "$scratch/steps.log")" = "$(wc -l <"$packages/SHA256SUMS")" ] ||
  { cat "$scratch/steps.sh" "$scratch/steps.log"; fail "RELEASES.md's steps, as written"; }

unzip -q "$packages"/*.zip -d "$scratch/unpacked"
for exe in "$scratch"/unpacked/*/*.exe; do
  verifies "$exe" osslsigncode verify -CAfile "$keys/root.pem" -in
done

# What is shipped is the packages, their SBOMs and the signed list, nothing of the keys.
ls "$packages" >"$scratch/shipped"
grep -qvE '^(nodestart[-_].*\.(deb|rpm|zip|spdx\.json)|SHA256SUMS(\.asc)?)$' "$scratch/shipped" &&
  fail "shipped besides the packages: $(cat "$scratch/shipped")"
echo "signed: $(tr '\n' ' ' <"$scratch/shipped")"
