"""Prices for the workbook's streaming cells."""

import time


def prices(start: float, delay: float = 0.2):
    """An endless price series from `start`, one value every `delay` seconds (a fixed walk)."""
    moves = [1.2, -0.4, 0.9, -1.5, 0.6, 0.3, -0.8]
    price = float(start)
    step = 0
    while True:
        yield round(price, 2)
        price *= 1 + moves[step % len(moves)] / 100
        step += 1
        time.sleep(delay)
