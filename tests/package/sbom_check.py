#!/usr/bin/env python3
"""Checks a release's SPDX 2.3 document against the packed programs and this machine's packages.

  sbom_check.py SBOM ROOT VERSION COMPILER
    ROOT: the unpacked package, whose programs the document must list with their checksums
    COMPILER: the one that built them; the packages of its C++ runtime and its C library
    must be among those the programs are said to link statically
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


def main(sbom, root, version, compiler):
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
    for package in packages.values():
        if package is project:
            continue
        name, version_info = package.get("name"), package.get("versionInfo", "")
        installed = query("dpkg-query", "--show", "--showformat=${Version}", name)
        require(version_info == installed, f"{name} {version_info}, this machine has {installed}")
        purls = [r.get("referenceLocator", "") for r in package.get("externalRefs", [])]
        require(any(p.startswith(f"pkg:deb/debian/{name}@{version_info.replace('+', '%2B')}?")
                    for p in purls), f"{name}: package URL {purls}")
    for library in ("libstdc++.a", "libc.a", "libmingwex.a"):
        path = query(compiler, f"-print-file-name={library}")
        if os.path.isabs(path):  # else a library this compiler does not have
            owner = query("dpkg-query", "--search", os.path.realpath(path)).split(":")[0]
            require(owner in linked, f"{library} ({owner}) is not declared")

    for problem in problems:
        print(f"FAIL: {sbom}: {problem}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
