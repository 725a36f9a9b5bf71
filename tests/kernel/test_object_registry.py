"""The object registry and the workbook controls, used from user code through the `zentrel`
package in a real kernel process, with the notifications the Business Layer receives."""

from __future__ import annotations

from typing import Any

import pytest

from support.console import NOT_AN_OBJECT, Console


def notices(console: Console, count: int) -> list[dict[str, Any]]:
    """The next `count` messages that belong to no request, in arrival order."""
    pending = console._stash.setdefault(None, [])
    while len(pending) < count:
        message = console.session.receive()
        console._stash.setdefault(message.get("request_id"), []).append(message)
    taken, pending[:] = pending[:count], pending[count:]
    return taken


def run_ok(console: Console, code: str, expression: str | None = None) -> Any:
    """Runs `code` as statements, then gives the value of `expression` (if any)."""
    final = console.run(code)[-1]
    assert final["type"] == "execution_result", final
    return None if expression is None else console.value(expression)


def registry(console: Console) -> list[dict[str, Any]]:
    reply = console.exchange({"type": "get_object_registry"})
    assert list(reply) == ["type", "objects", "workbook_id"]
    assert reply["type"] == "object_registry_response"
    return reply["objects"]


class TestRegistry:
    def test_save_twice_keeps_the_last_and_notifies_each_time(self, console: Console) -> None:
        wb = console.session.session.workbook_id
        assert run_ok(console, "zentrel.save_object('rows', [1, 2])\n"
                               "zentrel.save_object('rows', {'a': 1})",
                               "zentrel.get_object('rows')") == {"a": 1}
        first, second = notices(console, 2)
        assert list(first.items()) == [
            ("type", "object_registry_update"), ("action", "update"), ("key", "rows"),
            ("object_type", "list"), ("repr", "[1, 2]"), ("workbook_id", wb)]
        assert (second["object_type"], second["repr"]) == ("dict", "{'a': 1}")
        assert registry(console) == [{"key": "rows", "type": "dict", "repr": "{'a': 1}"}]

    def test_listing_keeps_order_and_full_repr(self, console: Console) -> None:
        run_ok(console, "zentrel.save_object('b', list(range(2000)))\n"
                        "zentrel.save_object('a', None)")
        notices(console, 2)
        objects = registry(console)
        assert [o["key"] for o in objects] == ["b", "a"]
        assert objects[0]["repr"] == repr(list(range(2000)))
        assert objects[1] == {"key": "a", "type": "NoneType", "repr": "None"}
        assert console.value("zentrel.get_object_registry() == "
                             "zentrel._kernel_instance.get_object_registry()") is True

    def test_clearing(self, console: Console) -> None:
        wb = console.session.session.workbook_id
        assert run_ok(console, "zentrel.save_object('k', 1)\n"
                               "zentrel.clear_object('never-saved')\n"
                               "zentrel.clear_object('k')\n"
                               "zentrel.save_object('j', 2)\n"
                               "zentrel.clear_all_objects()",
                               "[zentrel.get_object('k'), zentrel.get_object('j')]") == [None, None]
        _, never, cleared, _, everything = notices(console, 5)
        assert never == {"type": "object_registry_update", "action": "delete",
                         "key": "never-saved", "workbook_id": wb}
        assert cleared["key"] == "k"
        assert everything == {"type": "object_registry_update", "action": "clear_all",
                              "workbook_id": wb}
        assert registry(console) == []

    def test_empty_key_is_refused_and_nothing_is_sent(self, console: Console) -> None:
        assert run_ok(console, "try:\n    zentrel.save_object('', 1)\n"
                               "except ValueError as e:\n    out = str(e)", "out") == (
            "ObjectKeeper key must be a non-empty string")
        assert console.session.probe() == NOT_AN_OBJECT
        assert registry(console) == []

    @pytest.mark.parametrize("call,name,got", [
        ("save_object(None, 1)", "key", "NoneType"),
        ("save_object(b'k', 1)", "key", "bytes"),
        ("get_object(1)", "key", "int"),
        ("clear_object(type('S', (str,), {})('k'))", "key", "S"),
        ("show_message_box(None)", "message", "NoneType"),
        ("show_message_box('m', 1)", "title", "int"),
        ("show_message_box('m', type=None)", "type", "NoneType"),
    ], ids=["save-none", "save-bytes", "get-int", "clear-str-subclass", "box-message",
            "box-title", "box-type"])
    def test_text_arguments_must_be_exact_str(
        self, console: Console, call: str, name: str, got: str
    ) -> None:
        code = f"try:\n    zentrel._kernel_instance.{call}\nexcept TypeError as e:\n    out = str(e)"
        assert run_ok(console, code, "out") == (
            f"Argument '{name}' has incorrect type (expected str, got {got})")
        assert console.session.probe() == NOT_AN_OBJECT

    def test_reprs_that_use_the_registry_or_fail(self, console: Console) -> None:
        # The listing runs on the kernel's event loop: a repr that reads the registry must not
        # find its lock held, and a repr that raises must not hide the other entries.
        run_ok(console, "class Loud:\n"
                        "    def __repr__(self):\n"
                        "        return 'Loud(%r)' % (zentrel.get_object('n'),)\n"
                        "class Broken:\n"
                        "    def __repr__(self):\n"
                        "        raise ValueError('no repr')\n"
                        "zentrel.save_object('n', 5)\n"
                        "zentrel.save_object('loud', Loud())\n"
                        "zentrel.save_object('broken', Broken())")
        *_, broken = notices(console, 3)
        assert broken["repr"] == "<Broken object (repr failed: no repr)>"
        assert [o["repr"] for o in registry(console)] == [
            "5", "Loud(5)", "<Broken object (repr failed: no repr)>"]

    def test_concurrent_saves_from_threads(self, console: Console) -> None:
        count = run_ok(console, "import threading\n"
                                "def save(t):\n"
                                "    for i in range(25):\n"
                                "        zentrel.save_object(f'{t}-{i}', i)\n"
                                "threads = [threading.Thread(target=save, args=(t,)) for t in range(4)]\n"
                                "for t in threads: t.start()\n"
                                "for t in threads: t.join()",
                                "len(zentrel.get_object_registry())")
        assert count == 100
        keys = {n["key"] for n in notices(console, 100)}
        assert keys == {f"{t}-{i}" for t in range(4) for i in range(25)}


class TestWorkbookControls:
    def test_message_box_defaults_and_explicit(self, console: Console) -> None:
        wb = console.session.session.workbook_id
        run_ok(console, "zentrel.show_message_box('hi')\n"
                        "zentrel.show_message_box('careful', 'Sheet', 'Warning')")
        default, explicit = notices(console, 2)
        assert list(default.items()) == [
            ("type", "show_message_box"), ("message", "hi"), ("title", "Zentrel"),
            ("msg_type", "Info"), ("workbook_id", wb)]
        assert (explicit["title"], explicit["msg_type"]) == ("Sheet", "Warning")
        console.session.wait_for_log("[Kernel] Requested message box: title='Sheet', type='Warning'")

    def test_set_enable_events(self, console: Console) -> None:
        wb = console.session.session.workbook_id
        run_ok(console, "zentrel.set_enable_events(False)\nzentrel.set_enable_events(1)")
        assert notices(console, 2) == [
            {"type": "set_enable_events", "enable": False, "workbook_id": wb},
            {"type": "set_enable_events", "enable": True, "workbook_id": wb}]
        console.session.wait_for_log("[Kernel] Set enable_events: True")
