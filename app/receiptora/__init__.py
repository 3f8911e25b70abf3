"""Receiptora: the receipt window for small businesses exempt from uniform invoices."""
