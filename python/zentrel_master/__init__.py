"""Python side of the spreadsheet add-in: kernel, Office.js bridge, editor assistance, resolver."""
