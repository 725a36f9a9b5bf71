"""PackageSpec, ResolvedPackage and ResolutionResult as values."""

from __future__ import annotations

import re

import pytest

from zentrel_master.business_layer.requirement_solver import (
    PackageSpec,
    ResolutionResult,
    ResolvedPackage,
)


class TestPackageSpec:
    def test_keyword_and_positional_construction_agree(self):
        by_position = PackageSpec("requests", "2.31.0", ["socks"], True)
        by_keyword = PackageSpec(name="requests", version="2.31.0", extras=["socks"], from_dist=True)
        assert by_position.to_dict() == by_keyword.to_dict() == {
            "name": "requests", "version": "2.31.0", "extras": ["socks"], "from_dist": True}

    def test_defaults_give_each_instance_its_own_extras_list(self):
        a, b = PackageSpec("a", "1"), PackageSpec("b", "1")
        a.extras.append("x")
        assert b.extras == [] and a.extras == ["x"] and a.from_dist is False

    @pytest.mark.parametrize(
        "other, equal",
        [
            (PackageSpec("Foo_Bar", "1.0", ["b", "a"]), True),
            (PackageSpec("FOO_BAR", "1.0", ["a", "b"], from_dist=True), True),
            (PackageSpec("foo-bar", "1.0", ["a", "b"]), False),  # names compare lower-cased only
            (PackageSpec("foo_bar", "1.0.0", ["a", "b"]), False),
            (PackageSpec("foo_bar", "1.0", ["a"]), False),
            ("foo_bar==1.0", False),
            (None, False),
        ],
        ids=["same", "case-and-from-dist", "separators", "version-text", "extras", "str", "none"],
    )
    def test_equality_and_hash(self, other, equal):
        spec = PackageSpec("foo_bar", "1.0", ["a", "b"])
        assert (spec == other) is equal
        assert (spec != other) is not equal
        if equal:
            assert hash(spec) == hash(other)
            assert len({spec, other}) == 1

    def test_hash_is_that_of_the_lowered_triple(self):
        assert hash(PackageSpec("Pkg", "2", ["z", "a"])) == hash(("pkg", "2", ("a", "z")))

    def test_repr_shows_every_field(self):
        assert repr(PackageSpec("a", "1", ["x"])) == (
            "PackageSpec(name='a', version='1', extras=['x'], from_dist=False)")

    def test_reprs_keep_every_character(self):
        class Odd:
            def __repr__(self):
                return "\udc80é"  # a lone surrogate survives the repr's template

        spec = PackageSpec("ünï\udc80", "1", [], True)
        assert repr(spec) == (
            "PackageSpec(name='ünï\\udc80', version='1', extras=[], from_dist=True)")
        assert repr(ResolutionResult(True, errors=[Odd()])) == (
            "ResolutionResult(success=True, packages=[], conflicts=[], errors=[\udc80é])")
        assert repr(ResolvedPackage(spec, "/tmp/é", True, {Odd()})) == (
            f"ResolvedPackage(spec={spec!r}, path='/tmp/é', is_direct=True, source={{\udc80é}})")

    @pytest.mark.parametrize(
        "kwargs, argument",
        [
            ({"name": 1, "version": "1"}, "name"),
            ({"name": "a", "version": None}, "version"),
            ({"name": "a", "version": "1", "extras": ("x",)}, "extras"),
            ({"name": "a", "version": "1", "extras": ["x", 2]}, "extras[1]"),
        ],
        ids=["name", "version", "extras-tuple", "extras-item"],
    )
    def test_wrong_field_types_raise_type_error(self, kwargs, argument):
        with pytest.raises(TypeError, match=re.escape(f"Argument '{argument}' has incorrect type")):
            PackageSpec(**kwargs)

    def test_assignment_is_checked_too(self):
        spec = PackageSpec("a", "1")
        spec.version = "2"
        assert spec.version == "2"
        with pytest.raises(TypeError):
            spec.name = b"a"


class TestResolvedPackage:
    def test_defaults_and_serialisation(self):
        spec = PackageSpec("a", "1", from_dist=True)
        first, second = ResolvedPackage(spec), ResolvedPackage(spec)
        first.source.add("parent")
        assert second.source == set()
        assert (first.path, first.is_direct, first.is_error) == (None, False, False)
        assert first.to_dict() == {"spec": spec.to_dict(), "path": None, "is_direct": False,
                                   "from_dist": True}

    def test_is_error_is_a_class_default_an_instance_may_override(self):
        package = ResolvedPackage(PackageSpec("a", "1"), "/cache/a.whl", True, {"b"})
        package.is_error = True
        assert package.is_error and ResolvedPackage.is_error is False
        assert ResolvedPackage(PackageSpec("a", "1")).is_error is False

    def test_spec_must_be_a_package_spec(self):
        with pytest.raises(TypeError, match="Argument 'spec'"):
            ResolvedPackage({"name": "a", "version": "1"})


class TestResolutionResult:
    def test_defaults_are_new_lists_and_to_dict_nests_packages(self):
        first, second = ResolutionResult(success=True), ResolutionResult(True)
        first.errors.append("boom")
        assert second.errors == [] and second.packages == [] and second.conflicts == []
        package = ResolvedPackage(PackageSpec("a", "1"), is_direct=True)
        result = ResolutionResult(False, [package], [{"package": "a"}], ["e"])
        assert result.to_dict() == {"success": False, "packages": [package.to_dict()],
                                    "conflicts": [{"package": "a"}], "errors": ["e"]}

    def test_compares_by_fields_and_is_unhashable(self):
        assert ResolutionResult(True, errors=["x"]) == ResolutionResult(True, [], [], ["x"])
        assert ResolutionResult(True) != ResolutionResult(False)
        with pytest.raises(TypeError):
            hash(ResolutionResult(True))
