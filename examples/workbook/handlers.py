"""Handlers of workbook events, bound to sheets in book.json."""


def log_change(event):
    """Say which cells of a sheet changed."""
    print(f"{event.worksheetId}!{event.address} changed ({event.changeType})")
