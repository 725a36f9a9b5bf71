"""Prints a short report; imports the workbook's other modules like any package."""

import finance
import stats


def print_report(amounts: list[float]) -> None:
    """Print a summary of `amounts` and the payment of a loan of their total."""
    facts = stats.summary(amounts)
    for name, value in facts.items():
        print(f"{name:>6}: {value}")
    total = sum(amounts)
    print(f"payment on {total:,.0f} over 10 years at 4%: {finance.monthly_payment(total, 0.04, 10)}")
