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

ID = re.compile(r"^SPDXRef-[A-Za-z0-9.-]+$")
LICENSE = re.compile(r"^(NOASSERTION|NONE|[A-Za-z0-9.+-]+( (AND|OR|WITH) [A-Za-z0-9.+-]+)*)$")
RELATIONSHIPS = {"DESCRIBES", "CONTAINS", "STATIC_LINK", "DYNAMIC_LINK", "DEPENDS_ON", "GENERATED_FROM"}
problems = []


def require(condition, what):
    if not condition:
        problems.append(what)


def require_fields(element, fields, where):
    for field in fields:
        require(field in element and element[field] not in ("", None), f"{where} lacks {field}")


def installed_version(package):
    return subprocess.run(["dpkg-query", "--show", "--showformat=${Version}", package],
                          capture_output=True, text=True).stdout


def owner_of(compiler, library):
    path = subprocess.run([compiler, f"-print-file-name={library}"], capture_output=True,
                          text=True).stdout.strip()
    if not os.path.isabs(path):
        return None  # a library this compiler does not have
    owner = subprocess.run(["dpkg-query", "--search", os.path.realpath(path)],
                           capture_output=True, text=True).stdout
    return owner.split(":")[0]


def main(sbom, root, version, compiler):
    with open(sbom, encoding="utf-8") as file:
        document = json.load(file)
    # The shape SPDX 2.3 asks of a document, its packages, files and relationships.
    require(document.get("spdxVersion") == "SPDX-2.3", "not SPDX-2.3")
    require(document.get("dataLicense") == "CC0-1.0", "data license is not CC0-1.0")
    require(document.get("SPDXID") == "SPDXRef-DOCUMENT", "document's SPDXID")
    require_fields(document, ["name", "documentNamespace", "creationInfo"], "document")
    require(re.match(r"^[a-z]+://[^#]+$", document.get("documentNamespace", "")), "namespace URI")
    created = document.get("creationInfo", {})
    require(re.match(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$", created.get("created", "")), "created")
    require(created.get("creators") and all(re.match(r"^(Tool|Organization|Person): \S", c)
                                            for c in created["creators"]), "creators")
    ids = {"SPDXRef-DOCUMENT"}
    for package in document.get("packages", []):
        require_fields(package, ["SPDXID", "name", "versionInfo", "downloadLocation",
                                 "licenseConcluded", "licenseDeclared", "copyrightText"], "package")
        require(package.get("filesAnalyzed") is False or "packageVerificationCode" in package,
                f"{package.get('name')}: files analysed without a verification code")
        for field in ("licenseConcluded", "licenseDeclared"):
            require(LICENSE.match(package.get(field, "")), f"{package.get('name')}: {field}")
        ids.add(package.get("SPDXID"))
    for entry in document.get("files", []):
        require_fields(entry, ["SPDXID", "fileName", "checksums", "licenseConcluded",
                               "copyrightText"], "file")
        ids.add(entry.get("SPDXID"))
    require(all(ID.match(i or "") for i in ids), f"identifiers SPDX does not allow: {ids}")
    require(len(ids) == 1 + len(document.get("packages", [])) + len(document.get("files", [])),
            "an identifier twice")
    links = {}
    for relation in document.get("relationships", []):
        require(relation.get("relationshipType") in RELATIONSHIPS, f"relationship {relation}")
        require(relation.get("spdxElementId") in ids and relation.get("relatedSpdxElement") in ids,
                f"a relationship to nothing: {relation}")
        links.setdefault((relation.get("spdxElementId"), relation.get("relationshipType")),
                         []).append(relation.get("relatedSpdxElement"))
    described = links.get(("SPDXRef-DOCUMENT", "DESCRIBES"), [])
    require(len(described) == 1, "the document describes no one package")

    # What it says: the project at its version, each packed program with its checksums, what
    # each links statically, each such package at the version this machine has.
    packages = {p["SPDXID"]: p for p in document["packages"] if "SPDXID" in p}
    project = packages.get(described[0] if described else "", {})
    require(project.get("name") == "nodestart" and project.get("versionInfo") == version,
            f"the project is {project.get('name')} {project.get('versionInfo')}")
    programs = sorted(os.path.relpath(os.path.join(folder, name), root)
                      for folder, _, names in os.walk(root) for name in names
                      if folder.endswith("/usr/bin") or name.endswith(".exe"))
    listed = sorted(os.path.normpath(f["fileName"]) for f in document["files"])
    require(programs == listed, f"programs {programs}, listed {listed}")
    linked = set()
    for entry in document["files"]:
        path = os.path.join(root, entry["fileName"])
        with open(path, "rb") as program:
            content = program.read()
        sums = {s["algorithm"]: s["checksumValue"] for s in entry["checksums"]}
        require(sums.get("SHA1") == hashlib.sha1(content).hexdigest(), f"{path}: SHA1")
        require(sums.get("SHA256") == hashlib.sha256(content).hexdigest(), f"{path}: SHA256")
        require(entry["SPDXID"] in links.get((project.get("SPDXID"), "CONTAINS"), []),
                f"{path} is not in the project")
        parts = links.get((entry["SPDXID"], "STATIC_LINK"), [])
        require(parts, f"{path} links nothing statically")
        linked.update(packages[p]["name"] for p in parts if p in packages)
    for package in packages.values():
        if package is project:
            continue
        name, version_info = package["name"], package["versionInfo"]
        require(version_info == installed_version(name),
                f"{name} {version_info}, this machine has {installed_version(name)}")
        purls = [r["referenceLocator"] for r in package.get("externalRefs", [])]
        require(any(p.startswith(f"pkg:deb/debian/{name}@{version_info.replace('+', '%2B')}?")
                    for p in purls), f"{name}: package URL {purls}")
    for library in ("libstdc++.a", "libc.a", "libmingwex.a"):
        owner = owner_of(compiler, library)
        require(owner is None or owner in linked, f"{library} ({owner}) is not declared")

    for problem in problems:
        print(f"FAIL: {sbom}: {problem}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
