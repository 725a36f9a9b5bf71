"""The C++ coroutine bridge seen from Python: protocol, awaiting, errors, cancellation, leaks."""

from __future__ import annotations

import asyncio
import gc
import inspect
import sys
import traceback
import tracemalloc

import pytest

from zentrel_master import _common_testing as native


async def py_value(value):
    return value


async def py_raise(exc):
    raise exc


def drive(coro):
    """Run a coroutine that never suspends, without an event loop; return its value."""
    with pytest.raises(StopIteration) as stop:
        coro.send(None)
    return stop.value.value


class TestProtocol:
    def test_is_recognised_as_a_coroutine(self):
        coro = native.echo(1)
        try:
            assert asyncio.iscoroutine(coro)
            assert inspect.isawaitable(coro)
        finally:
            coro.close()

    def test_functions_and_methods_report_coroutine_function(self):
        assert inspect.iscoroutinefunction(native.echo)
        assert inspect.iscoroutinefunction(native.Counter.add)
        assert inspect.iscoroutinefunction(native.Counter().add)
        assert not inspect.iscoroutinefunction(native.check_args)

    @pytest.mark.parametrize(
        "runner",
        [
            pytest.param(lambda c: asyncio.run(c), id="asyncio.run"),
            pytest.param(lambda c: asyncio.run(py_await(c)), id="await"),
            pytest.param(lambda c: asyncio.run(via_task(c)), id="create_task"),
            pytest.param(lambda c: asyncio.run(asyncio.wait_for(c, 5)), id="wait_for"),
        ],
    )
    def test_every_runner_accepts_it(self, runner):
        assert runner(native.await_one(asyncio.sleep(0.001, "slept"))) == "slept"

    def test_body_does_not_run_before_first_send(self):
        log: list[str] = []
        coro = native.guarded(native.echo(1), log)
        assert log == []
        coro.close()
        assert log == []

    @pytest.mark.parametrize(
        "value",
        [
            pytest.param((1, 2), id="tuple"),
            pytest.param((), id="empty-tuple"),
            pytest.param(None, id="none"),
            pytest.param(ValueError("as a value"), id="exception-instance"),
            pytest.param(StopIteration(3), id="stop-iteration-instance"),
        ],
    )
    def test_results_come_back_unchanged(self, value):
        assert asyncio.run(native.echo(value)) is value
        assert drive(native.echo(value)) is value

    def test_several_parameters_arrive_in_order(self):
        marker = object()
        assert asyncio.run(native.combine(marker, "two", 3, 4.5, None)) == (
            marker, "two", 3, 4.5, None,
        )
        assert asyncio.run(native.combine(first=1, second="b", third=-7, fourth=0.0, fifth=[1])) == (
            1, "b", -7, 0.0, [1],
        )

    def test_argument_types_are_checked_before_a_coroutine_exists(self):
        with pytest.raises(TypeError, match=r"Argument 'items' has incorrect type \(expected list, got tuple\)"):
            native.checked_join(("a",))
        assert asyncio.run(native.checked_join(["a", "b"], None)) == "a,b"

    def test_reuse_and_reentry_are_refused(self):
        coro = native.echo(1)
        asyncio.run(py_await(coro))
        with pytest.raises(RuntimeError, match="cannot reuse already awaited coroutine"):
            coro.send(None)

    def test_non_none_first_send_is_refused(self):
        coro = native.echo(1)
        with pytest.raises(TypeError, match="just-started"):
            coro.send(5)
        coro.close()

    def test_awaiting_a_non_awaitable_raises_type_error_inside(self):
        with pytest.raises(TypeError, match="can't be used in 'await' expression"):
            asyncio.run(native.await_one(42))


async def py_await(awaitable):
    return await awaitable


async def via_task(coro):
    return await asyncio.create_task(coro)


class TestAwaitingPython:
    @pytest.mark.parametrize(
        "make",
        [
            pytest.param(lambda: py_value("coro"), id="python-coroutine"),
            pytest.param(lambda: asyncio.sleep(0.001, "coro"), id="asyncio.sleep"),
            pytest.param(lambda: native.echo("coro"), id="cpp-coroutine"),
            pytest.param(lambda: native.await_one(native.await_one(py_value("coro"))), id="cpp-chain"),
        ],
    )
    def test_awaitables_deliver_their_value(self, make):
        assert asyncio.run(native.await_one(make())) == "coro"

    def test_future_resolved_later(self):
        async def main():
            fut = asyncio.get_running_loop().create_future()
            asyncio.get_running_loop().call_soon(fut.set_result, "later")
            return await native.await_one(fut)

        assert asyncio.run(main()) == "later"

    def test_executor_future(self):
        assert asyncio.run(native.in_executor(lambda x: x * 2, 21)) == 42

    def test_lock_acquired_contended_and_released(self):
        async def main():
            lock = asyncio.Lock()
            await lock.acquire()
            task = asyncio.create_task(native.with_lock(lock, py_value("inside")))
            await asyncio.sleep(0)
            assert not task.done()  # waits for the lock
            lock.release()
            result = await task
            return result, lock.locked()

        assert asyncio.run(main()) == ("inside", False)

    def test_deep_chain_of_cpp_coroutines(self):
        assert asyncio.run(native.nested(200, "deep")) == "deep"

    def test_method_coroutine_sees_its_instance(self):
        async def main():
            counter = native.Counter()
            return await counter.add(3), await counter.add(4), counter.value

        assert asyncio.run(main()) == (3, 7, 7)


class TestExceptions:
    def test_python_exception_reaches_caller_with_type_text_and_traceback(self):
        async def inner():
            raise KeyError("missing")

        with pytest.raises(KeyError, match="missing") as info:
            asyncio.run(native.await_one(inner()))
        frames = [f.name for f in traceback.extract_tb(info.value.__traceback__)]
        assert "inner" in frames

    def test_cpp_exception_becomes_python_exception(self):
        with pytest.raises(ValueError, match="^boom$"):
            asyncio.run(native.raise_value_error("boom"))

    def test_cpp_catch_works_like_except(self):
        assert asyncio.run(native.catch_value_error(py_raise(ValueError("v")))) == "caught: v"
        assert asyncio.run(native.catch_value_error(native.raise_value_error("w"))) == "caught: w"
        with pytest.raises(KeyError):
            asyncio.run(native.catch_value_error(py_raise(KeyError("k"))))

    def test_stop_iteration_from_body_becomes_runtime_error(self):
        with pytest.raises(RuntimeError, match="coroutine raised StopIteration") as info:
            asyncio.run(native.raise_stop_iteration())
        assert isinstance(info.value.__cause__, StopIteration)

    def test_throw_into_unstarted_coroutine_raises_without_running(self):
        log: list[str] = []
        coro = native.guarded(native.echo(1), log)
        with pytest.raises(ZeroDivisionError):
            coro.throw(ZeroDivisionError("now"))
        assert log == []
        with pytest.raises(RuntimeError):
            coro.send(None)

    def test_throw_while_suspended_reaches_the_cpp_catch(self):
        async def main():
            fut = asyncio.get_running_loop().create_future()
            coro = native.catch_value_error(fut)
            coro.send(None)  # suspended on the future
            with pytest.raises(StopIteration) as stop:
                coro.throw(ValueError("thrown"))
            return stop.value.value

        assert asyncio.run(main()) == "caught: thrown"


class TestAnsweringAfterTheCatch:
    """failure_of: an error is kept, the catch block is left, and its answer is awaited."""

    @staticmethod
    async def slow_answer(exc):
        await asyncio.sleep(0)  # the answer really suspends, as a send does
        return exc

    def test_kept_exception_is_answered_with_its_traceback(self):
        async def inner():
            raise KeyError("missing")

        kind, exc = asyncio.run(native.answer_failure(inner(), "exception", self.slow_answer))
        assert kind == "answered" and isinstance(exc, KeyError)
        assert "inner" in [f.name for f in traceback.extract_tb(exc.__traceback__)]

    def test_success_is_not_answered(self):
        assert asyncio.run(native.answer_failure(py_value(5), "exception", self.slow_answer)) == (
            "done", None)

    @pytest.mark.parametrize("exc", [SystemExit(3), KeyboardInterrupt()], ids=["exit", "interrupt"])
    def test_exception_filter_lets_base_exceptions_through(self, exc):
        with pytest.raises(type(exc)):
            drive(native.answer_failure(py_raise(exc), "exception", self.slow_answer))

    def test_any_filter_keeps_base_exceptions(self):
        kind, exc = asyncio.run(native.answer_failure(py_raise(SystemExit(3)), "any",
                                                      self.slow_answer))
        assert kind == "answered" and isinstance(exc, SystemExit) and exc.code == 3

    def test_cancellation_of_the_awaited_body_propagates(self):
        answered: list[BaseException] = []

        async def record(exc):
            answered.append(exc)

        async def main():
            task = asyncio.create_task(native.answer_failure(asyncio.sleep(60), "exception",
                                                             record))
            await asyncio.sleep(0)
            task.cancel()
            with pytest.raises(asyncio.CancelledError):
                await task

        asyncio.run(main())
        assert answered == []

    def test_raise_again_keeps_the_original_traceback(self):
        async def inner():
            raise ValueError("again")

        with pytest.raises(ValueError, match="^again$") as info:
            asyncio.run(native.reraise(inner()))
        assert "inner" in [f.name for f in traceback.extract_tb(info.value.__traceback__)]


class TestCancellationAndClose:
    def test_task_cancel_ends_cancelled_and_runs_guards(self):
        log: list[str] = []

        async def main():
            task = asyncio.create_task(native.guarded(asyncio.sleep(60), log))
            await asyncio.sleep(0)
            assert log == ["enter"]
            task.cancel()
            with pytest.raises(asyncio.CancelledError):
                await task
            return task.cancelled()

        assert asyncio.run(main()) is True
        assert log == ["enter", "cleanup"]

    def test_wait_for_timeout_cancels_cpp_coroutine(self):
        log: list[str] = []
        with pytest.raises(TimeoutError):
            asyncio.run(asyncio.wait_for(native.guarded(asyncio.sleep(60), log), 0.01))
        assert log == ["enter", "cleanup"]

    def test_close_while_suspended_runs_guards_and_closes_delegate(self):
        log: list[str] = []
        closed: list[bool] = []

        async def delegate():
            try:
                await asyncio.sleep(60)
            finally:
                closed.append(True)

        async def main():
            coro = native.guarded(delegate(), log)
            coro.send(None)
            coro.close()
            coro.close()  # idempotent

        asyncio.run(main())
        assert log == ["enter", "cleanup"]
        assert closed == [True]

    def test_dropping_a_suspended_coroutine_runs_guards(self):
        log: list[str] = []

        async def main():
            coro = native.guarded(asyncio.sleep(60), log)
            coro.send(None)
            del coro
            gc.collect()

        asyncio.run(main())
        assert log == ["enter", "cleanup"]

    def test_guard_runs_on_normal_completion(self):
        log: list[str] = []
        assert asyncio.run(native.guarded(py_value(5), log)) == 5
        assert log == ["enter", "after", "cleanup"]


class TestResources:
    def test_many_awaits_leave_memory_and_refcounts_flat(self):
        sentinel = object()

        async def leaf():
            return sentinel

        async def main(n):
            await native.await_each(leaf, n)
            for _ in range(n // 10):
                await native.await_one(asyncio.sleep(0, sentinel))

        asyncio.run(main(1000))  # warm caches
        gc.collect()
        before_refs = sys.getrefcount(sentinel)
        tracemalloc.start()
        try:
            first = tracemalloc.take_snapshot()
            asyncio.run(main(100_000))
            gc.collect()
            second = tracemalloc.take_snapshot()
        finally:
            tracemalloc.stop()
        growth = sum(s.size_diff for s in second.compare_to(first, "filename"))
        assert growth < 64 * 1024, f"memory grew by {growth} bytes"
        assert sys.getrefcount(sentinel) == before_refs

    def test_exception_paths_do_not_leak_references(self):
        exc = ValueError("kept")

        async def main():
            for _ in range(2000):
                with pytest.raises(ValueError):
                    await native.await_one(py_raise(exc))
                exc.__traceback__ = None

        asyncio.run(main())
        gc.collect()
        before = sys.getrefcount(exc)
        asyncio.run(main())
        gc.collect()
        assert sys.getrefcount(exc) == before
