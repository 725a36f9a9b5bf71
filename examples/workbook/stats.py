"""Small statistics over a column of numbers."""

from statistics import mean, median, pstdev


def summary(values: list[float]) -> dict[str, float]:
    """Count, mean, median and spread of `values`."""
    return {
        "count": len(values),
        "mean": mean(values),
        "median": median(values),
        "stdev": round(pstdev(values), 3),
    }
