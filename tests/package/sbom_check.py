#!/usr/bin/env python3
"""Checks a release's SPDX 2.3 document against the packed programs and this machine's packages.

  sbom_check.py SBOM ROOT VERSION COMPILER FORMAT
    ROOT: the unpacked package, whose programs the document must list with their checksums
    COMPILER: the one that built them; the packages of its C++ runtime and its C library
    must be among those the programs are said to link statically
    FORMAT: deb, rpm or zip; all but the .deb carry the GNU licenses' texts whole
"""
import hashlib
import json
import os
import re
import subprocess
import sys

TEXT = r"\S.*"
ID = r"SPDXRef-[A-Za-z0-9.-]+"
LICENSE = r"NOASSERTION|NONE|[A-Za-z0-9.+-]+( (AND|OR|WITH) [A-Za-z0-9.+-]+)*"
# The fields SPDX 2.3 asks of the document and of each of its elements, and their values' form
# (each of a list's, and a list is not empty).
SHAPE = {
    "document": {"spdxVersion": r"SPDX-2\.3", "dataLicense": r"CC0-1\.0", "name": TEXT,
                 "SPDXID": "SPDXRef-DOCUMENT", "documentNamespace": r"[a-z]+://[^#]+"},
    "creationInfo": {"created": r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ",
                     "creators": r"(Tool|Organization|Person): \S.*"},
    "packages": {"SPDXID": ID, "name": TEXT, "versionInfo": TEXT, "downloadLocation": TEXT,
                 "licenseConcluded": LICENSE, "licenseDeclared": LICENSE, "copyrightText": TEXT},
    "files": {"SPDXID": ID, "fileName": TEXT, "licenseConcluded": LICENSE, "copyrightText": TEXT},
    "relationships": {"spdxElementId": ID, "relatedSpdxElement": ID, "relationshipType":
                      "DESCRIBES|CONTAINS|STATIC_LINK|DYNAMIC_LINK|DEPENDS_ON|GENERATED_FROM"},
}
# Where a package keeps the notices of what its programs carry.
NOTICES = ("usr/share/doc/nodestart/copyright", "THIRD-PARTY-NOTICES.txt")
# Each part's license, what its Debian package's copyright file says of it, the source package
# whose code it is, its holders, and the GNU license whose text the notices carry whole.
FSF = "Free Software Foundation, Inc."
EXCEPTION = "GCC RUNTIME LIBRARY EXCEPTION Version 3.1, 31 March 2009"
GCC = ("GPL-3.0-or-later WITH GCC-exception-3.1", r"GCC RUNTIME LIBRARY EXCEPTION", r"gcc-\d+",
       [FSF], "GPL-3")
MINGW = [r"^Files: \*\n(?:[ C].*\n)*License: ZPL-2\.1$", "mingw-w64", ["mingw-w64 project"], None]
PART_LICENSES = {
    "glibc": ("LGPL-2.1-or-later", r"GNU Lesser General Public\s+License", "glibc", [FSF],
              "LGPL-2.1"),
    "libgcc": GCC,
    "libstdc++": GCC,
    "mingw-w64-crt": ("ZPL-2.1", *MINGW),
    "winpthreads": ("MIT", r"^Files: mingw-w64-libraries/winpthreads/\*\n(?:[ C].*\n)*License: expat$",
                    *MINGW[1:]),
    "gdtoa": ("LicenseRef-gdtoa", r"^Files: mingw-w64-crt/gdtoa/\*\n(?:[ C].*\n)*License: Lucent$",
              "mingw-w64", ["Lucent Technologies", "David M. Gay"], None),
}
problems = []


def require(condition, what):
    if not condition:
        problems.append(what)


def shaped(kind, element):
    for field, form in SHAPE[kind].items():
        value = element.get(field)
        values = value if isinstance(value, list) and value else [value]
        require(all(isinstance(v, str) and re.fullmatch(form, v) for v in values),
                f"{kind}: {field} is {value!r}")


def query(*command):
    return subprocess.run(command, capture_output=True, text=True).stdout.strip()


def words(text):
    """TEXT's words, as a copyright field's continuation or the text itself has them."""
    return " ".join(w for w in text.split() if w != ".")


def code_of(package, source):
    """"NAME VERSION" of SOURCE, whose code PACKAGE holds: its own, or one its Built-Using names."""
    fields = query("dpkg-query", "-W", "-f=${source:Package} (= ${source:Version}), ${Built-Using}",
                   package)
    return " ".join((re.findall(rf"(?:^|, )({source}) \(= ([^)]+)\)", fields)[:1] or [("?",)])[0])


def main(sbom, root, version, compiler, package_format):
    with open(sbom, encoding="utf-8") as file:
        document = json.load(file)
    shaped("document", document)
    shaped("creationInfo", document.get("creationInfo", {}))
    for kind in ("packages", "files", "relationships"):
        for element in document.get(kind, []):
            shaped(kind, element)
    elements = document.get("packages", []) + document.get("files", [])
    require(len({e.get("SPDXID") for e in elements} | {"SPDXRef-DOCUMENT"}) == len(elements) + 1,
            "an identifier twice")
    packages = {p.get("SPDXID"): p for p in document.get("packages", [])}
    files = {f.get("SPDXID"): f for f in document.get("files", [])}
    for package in packages.values():
        require(package.get("filesAnalyzed") is False or "packageVerificationCode" in package,
                f"{package.get('name')}: files analysed without a verification code")
    links = {}
    for relation in document.get("relationships", []):
        ends = (relation.get("spdxElementId"), relation.get("relatedSpdxElement"))
        require(all(e in packages or e in files or e == "SPDXRef-DOCUMENT" for e in ends),
                f"a relationship to nothing: {relation}")
        links.setdefault((ends[0], relation.get("relationshipType")), []).append(ends[1])
    described = links.get(("SPDXRef-DOCUMENT", "DESCRIBES"), [])
    require(len(described) == 1, "the document describes no one package")

    # What it says: the project at its version, each packed program with its checksums, what
    # each links statically, each such package at the version this machine has.
    project = packages.get(described[0] if described else "", {})
    require(project.get("name") == "nodestart" and project.get("versionInfo") == version,
            f"the project is {project.get('name')} {project.get('versionInfo')}")
    programs = sorted(os.path.relpath(os.path.join(folder, name), root)
                      for folder, _, names in os.walk(root) for name in names
                      if folder.endswith("/usr/bin") or name.endswith(".exe"))
    listed = sorted(os.path.normpath(f.get("fileName", "")) for f in files.values())
    require(programs == listed, f"programs {programs}, listed {listed}")
    linked = set()
    for file_id, entry in files.items():
        path = os.path.join(root, entry.get("fileName", ""))
        with open(path, "rb") as program:
            content = program.read()
        sums = {s.get("algorithm"): s.get("checksumValue") for s in entry.get("checksums", [])}
        for algorithm in ("SHA1", "SHA256"):
            require(sums.get(algorithm) == hashlib.new(algorithm, content).hexdigest(),
                    f"{path}: {algorithm}")
        require(file_id in links.get((project.get("SPDXID"), "CONTAINS"), []),
                f"{path} is not in the project")
        parts = links.get((file_id, "STATIC_LINK"), [])
        require(parts, f"{path} links nothing statically")
        linked.update(packages[p].get("name") for p in parts if p in packages)
    notices_path = next((os.path.join(root, n) for n in NOTICES
                         if os.path.exists(os.path.join(root, n))), "")
    with open(notices_path or os.devnull, encoding="utf-8") as file:
        notices = file.read()
    # The programs' stanza: its holders (one a line after the project's own) and its comment.
    programs_stanza = next((s for s in notices.split("\n\n") if s.startswith("Files: ") and
                            not s.startswith("Files: *")), "")
    holders_listed = re.findall(r"^ (\S.*)$", programs_stanza.split("\nLicense:")[0], re.M)
    holders_wanted = set()
    for package in packages.values():
        if package is project:
            continue
        name, version_info = package.get("name"), package.get("versionInfo", "")
        purls = [r.get("referenceLocator", "") for r in package.get("externalRefs", [])]
        debian = re.match(r"pkg:deb/debian/([^@]+)@", purls[0] if purls else "")
        debian = debian.group(1) if debian else ""
        installed = query("dpkg-query", "--show", "--showformat=${Version}", debian)
        require(version_info == installed, f"{name} {version_info}, this machine has {installed}")
        require(purls[0].startswith(f"pkg:deb/debian/{debian}@{version_info.replace('+', '%2B')}?"),
                f"{name}: package URL {purls}")
        # Its license as its Debian package's copyright file says it, and that file in the notices.
        license, said, source, holders, text = PART_LICENSES.get(name, ("?", "$^", "$^", [], None))
        with open(f"/usr/share/doc/{debian}/copyright", encoding="utf-8", errors="replace") as file:
            copyright = file.read()
        require(package.get("licenseDeclared") == license and re.search(said, copyright, re.M),
                f"{name}: licensed {package.get('licenseDeclared')}, its copyright file says otherwise")
        require(f"{name} (Debian's {debian} {version_info})" in notices
                and f"The copyright file of Debian's {debian}" in notices,
                f"{name}: not in the notices {notices_path}")
        # The source its code is, not the packaging around it; its holders, and no others.
        code = code_of(debian, source)
        require(package.get("sourceInfo", "").endswith(f"source package {code}")
                and code in words(programs_stanza), f"{name}: its source is {code}")
        holders_wanted.update(holders)
        if text and package_format != "deb":
            with open(f"/usr/share/common-licenses/{text}", encoding="utf-8") as file:
                wanted = [words(file.read())] + ([EXCEPTION] if text == "GPL-3" else [])
                require(all(t in words(notices) for t in wanted), f"{name}: no {text} text whole")
    require(set(holders_listed) == holders_wanted, f"holders {holders_listed}, not {holders_wanted}")
    # What the compiler links, by the projects they are part of (mingw's libpthread: winpthreads).
    libraries = {"libstdc++.a": "libstdc++", "libc.a": "glibc", "libmingwex.a": "mingw-w64-crt"}
    if "mingw" in compiler:
        libraries["libpthread.a"] = "winpthreads"
    for library, part in libraries.items():
        if os.path.isabs(query(compiler, f"-print-file-name={library}")):  # else not this one's
            require(part in linked, f"{library} ({part}) is not declared")

    for problem in problems:
        print(f"FAIL: {sbom}: {problem}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
