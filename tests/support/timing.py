"""The one scaled time unit of the test suite.

Every wait in the tests is a bound on how long something may take, never a pause to let it
happen. `ZM_TEST_TIME_FACTOR` scales all of them (for example 4 under the sanitizers).
"""

from __future__ import annotations

import os

__all__ = ["TIME_FACTOR", "UNIT", "units"]

TIME_FACTOR = float(os.environ.get("ZM_TEST_TIME_FACTOR", "1"))

#: Seconds in one time unit: ample for one round trip to a kernel process on a loaded machine.
UNIT = 10.0 * TIME_FACTOR


def units(count: float = 1.0) -> float:
    """`count` time units, in seconds."""
    return count * UNIT
