"""Command line for the requirement solver over a local package index.

    python -m zentrel_master.business_layer.requirement_solver_cli --index DIR 'pkg[extra]==1.0' ...

Prints the ordered install list, the version conflicts and the errors; exits with 1 when the
resolution has errors, 2 on bad arguments, 0 otherwise (conflicts alone are not failures).
Packages are chosen for the running interpreter unless --python-version / --platform name
another target, as with pip; a requirement whose marker is false for the target is ignored.
"""

from __future__ import annotations

import argparse
import asyncio
import json
import logging
import sys
from collections.abc import Sequence
from pathlib import Path
from typing import TextIO

from packaging.requirements import InvalidRequirement, Requirement
from packaging.utils import canonicalize_name

from zentrel_master.business_layer.requirement_solver import (
    PackageSpec,
    RequirementSolver,
    ResolutionResult,
)
from zentrel_master.business_layer.settings_manager import SettingsManager

__all__ = ["format_result", "main", "parse_request"]

EXIT_OK = 0
EXIT_ERRORS = 1
EXIT_USAGE = 2


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="python -m zentrel_master.business_layer.requirement_solver_cli",
        description="Resolve requirements into an ordered list of pinned packages to install.",
    )
    parser.add_argument("--index", required=True, type=Path,
                        help="directory of a local package index (PEP 503 simple layout)")
    parser.add_argument("requirements", nargs="+", metavar="REQUIREMENT",
                        help="a requirement such as 'requests[socks]==2.31.0' or 'flask>=3'")
    parser.add_argument("--ignore-installed", action="store_true",
                        help="do not let packages of the current environment satisfy requirements")
    parser.add_argument("--python-version", metavar="VERSION",
                        help="choose packages for this Python version (default: this one)")
    parser.add_argument("--platform", action="append", metavar="TAG",
                        help="choose wheels for this platform tag (repeatable; default: this "
                             "machine's)")
    parser.add_argument("--json", action="store_true", help="print the result as JSON")
    parser.add_argument("-v", "--verbose", action="count", default=0,
                        help="log the resolution to stderr (-v info, -vv debug)")
    return parser


async def parse_request(solver: RequirementSolver, text: str) -> PackageSpec | None:
    """The PackageSpec for one command-line requirement (a range picks one version first), or
    None when its marker is false for the target environment."""
    try:
        requirement = Requirement(text)
    except InvalidRequirement as e:
        raise ValueError(f"invalid requirement {text!r}: {e}") from None
    if requirement.url:
        raise ValueError(f"{text!r}: direct URL requirements are not supported; "
                         "put the wheel in the package index and name a version")
    target = solver.client.target
    if requirement.marker is not None and not target.evaluate(requirement.marker):
        print(f"Ignoring {requirement.name}: markers '{requirement.marker}' don't match the "
              "target environment", file=sys.stderr)
        return None
    extras = sorted({canonicalize_name(extra) for extra in requirement.extras})
    specifiers = list(requirement.specifier)
    if len(specifiers) == 1 and specifiers[0].operator in ("==", "===") \
            and not specifiers[0].version.endswith(".*"):
        return PackageSpec(requirement.name, specifiers[0].version, extras)
    version, from_dist = await solver._resolve_best_version(
        requirement.name, str(requirement.specifier), extras)
    if not version:
        raise ValueError(f"no version of {requirement.name} matches {text!r}")
    return PackageSpec(requirement.name, version, extras, from_dist)


def format_result(result: ResolutionResult, out: TextIO) -> None:
    """Writes the install list, the conflicts and the errors as readable text."""
    print(f"Install order ({len(result.packages)} packages):", file=out)
    for number, package in enumerate(result.packages, 1):
        spec = package.spec
        extras = f"[{','.join(sorted(spec.extras))}]" if spec.extras else ""
        notes = ["direct" if package.is_direct else "required by " + ", ".join(sorted(package.source))]
        if spec.from_dist:
            notes.append("already installed")
        if package.path:
            notes.append(f"cached at {package.path}")
        print(f"  {number:>3}. {spec.name}{extras}=={spec.version}  ({'; '.join(notes)})", file=out)
    print(f"Conflicts ({len(result.conflicts)}):", file=out)
    for c in result.conflicts:
        print(f"  {c['package']}: {c['requested_version']} requested by {c['requested_by']}, "
              f"keeping {c['existing_version']}", file=out)
    print(f"Errors ({len(result.errors)}):", file=out)
    for error in result.errors:
        print(f"  {error}", file=out)


async def _run(args: argparse.Namespace) -> int:
    settings = SettingsManager(args.index, consider_installed=not args.ignore_installed,
                               target_python_version=args.python_version,
                               target_platforms=args.platform)
    solver = RequirementSolver(settings)
    try:
        index_dir = solver.client.index_dir()
        solver.client.target  # noqa: B018 - a bad --python-version is a usage error
    except (LookupError, ValueError) as e:
        print(f"error: {e}", file=sys.stderr)
        return EXIT_USAGE
    specs = []
    problems = []
    for text in args.requirements:
        try:
            spec = await parse_request(solver, text)
        except (ValueError, LookupError) as e:
            problems.append(str(e))
            continue
        if spec is not None:
            specs.append(spec)
    if problems:
        for problem in problems:
            print(f"error: {problem}", file=sys.stderr)
        return EXIT_ERRORS
    result = await solver.resolve(specs)
    if args.json:
        json.dump({"index": str(index_dir), **result.to_dict()}, sys.stdout, indent=2)
        print()
    else:
        format_result(result, sys.stdout)
    return EXIT_OK if not result.errors else EXIT_ERRORS


def main(argv: Sequence[str] | None = None) -> int:
    """Entry point; returns the exit status."""
    args = _parser().parse_args(argv)
    level = {0: logging.WARNING, 1: logging.INFO}.get(args.verbose, logging.DEBUG)
    logging.basicConfig(level=level, format="%(levelname)s %(message)s", stream=sys.stderr)
    return asyncio.run(_run(args))


if __name__ == "__main__":
    sys.exit(main())
