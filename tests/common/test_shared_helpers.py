"""Argument checks, error records, logging facade and classes with Python bases."""

from __future__ import annotations

import io
import logging

import pytest

from zentrel_master import _common_testing as native


class TestArgumentChecks:
    @pytest.mark.parametrize(
        ("args", "message"),
        [
            pytest.param((1, [], {}), "Argument 's' has incorrect type (expected str, got int)", id="str"),
            pytest.param(("x", (), {}), "Argument 'l' has incorrect type (expected list, got tuple)", id="list"),
            pytest.param(("x", [], None), "Argument 'd' has incorrect type (expected dict, got NoneType)", id="dict-none"),
        ],
    )
    def test_wrong_types_raise_the_fixed_text(self, args, message):
        with pytest.raises(TypeError) as info:
            native.check_args(*args)
        assert str(info.value) == message

    def test_exact_types_only_and_none_where_allowed(self):
        class MyStr(str):
            pass

        native.check_args("x", None, {})
        with pytest.raises(TypeError, match="expected str, got MyStr"):
            native.check_args(MyStr("x"), [], {})


class TestErrorRecord:
    def test_record_has_three_keys_in_order_and_full_traceback(self):
        def fail():
            raise LookupError("nothing here")

        try:
            fail()
        except LookupError as e:
            record = native.error_record(e)
        assert list(record) == ["type", "message", "traceback"]
        assert record["type"] == "LookupError"
        assert record["message"] == "nothing here"
        assert record["traceback"].startswith("Traceback (most recent call last):\n")
        assert "in fail" in record["traceback"]
        assert record["traceback"].endswith("LookupError: nothing here\n")

    def test_unprintable_exception_still_gives_a_record(self):
        class Bad(Exception):
            def __str__(self):
                raise RuntimeError("no str")

        record = native.error_record(Bad())
        assert record["type"] == "Bad"
        assert isinstance(record["message"], str)


class TestLoggingFacade:
    def test_messages_reach_the_named_logger_at_their_level(self, caplog):
        with caplog.at_level(logging.INFO, logger="zm.test.facade"):
            native.log("zm.test.facade", logging.INFO, "info line 100%")
            native.log("zm.test.facade", logging.DEBUG, "hidden debug")
        records = [(r.levelno, r.getMessage()) for r in caplog.records if r.name == "zm.test.facade"]
        assert records == [(logging.INFO, "info line 100%")]

    def test_debug_enabled_follows_the_logger_level(self, caplog):
        with caplog.at_level(logging.DEBUG, logger="zm.test.level"):
            assert native.log("zm.test.level", logging.DEBUG, "shown") is True
        with caplog.at_level(logging.WARNING, logger="zm.test.level"):
            assert native.log("zm.test.level", logging.DEBUG, "hidden") is False


class TestPythonBases:
    def test_class_derives_from_text_io_base_with_cpp_methods(self):
        stream = native.CollectingStream()
        assert isinstance(stream, io.TextIOBase)
        assert stream.write("a") == 1
        print("b", file=stream)
        assert stream.getvalue() == "ab\n"
        assert stream._buffer == ["a", "b", "\n"]
        with pytest.raises(TypeError, match="Argument 'text'"):
            stream.write(b"bytes")

    def test_instances_are_independent(self):
        one, two = native.CollectingStream(), native.CollectingStream()
        one.write("x")
        assert two.getvalue() == ""


def test_text_templates_fill_holes_in_order_and_keep_doubled_braces():
    assert native.format_samples() == [
        "Function 'f' not found in module 'm'",
        "3 of -7 (0.1)",
        "{literal} xtrue",
        "no holes",
        "",
    ]
