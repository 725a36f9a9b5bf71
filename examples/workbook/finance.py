"""Loan arithmetic used by the workbook's sheets."""


def monthly_payment(principal: float, annual_rate: float, years: int) -> float:
    """The fixed monthly payment of a loan, rounded to cents."""
    months = years * 12
    if months <= 0:
        raise ValueError(f"a loan needs at least one month, got {years} years")
    rate = annual_rate / 12
    if rate == 0:
        return round(principal / months, 2)
    return round(principal * rate / (1 - (1 + rate) ** -months), 2)


def schedule(principal: float, annual_rate: float, years: int, rows: int = 3) -> list[tuple]:
    """The first `rows` lines of the amortisation schedule: (month, interest, principal, left)."""
    payment = monthly_payment(principal, annual_rate, years)
    left = principal
    lines = []
    for month in range(1, rows + 1):
        interest = round(left * annual_rate / 12, 2)
        paid = round(payment - interest, 2)
        left = round(left - paid, 2)
        lines.append((month, interest, paid, left))
    return lines
